#include "mail/reply_reader.h"

#include "mail/mail_errors.h"

namespace tq::mail {

std::string sizeText(std::size_t bytes)
{
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    if (bytes >= kMiB && bytes % kMiB == 0) {
        return std::to_string(bytes / kMiB) + " MiB";
    }
    return std::to_string(bytes) + " bytes";
}

bool isReplyContinuation(const std::string& line)
{
    return (!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-');
}

std::string readSmtpReply(const LineSource& next, const LineSeen& seen)
{
    std::string line = next();
    int lines = 1;
    while (isReplyContinuation(line)) {
        if (seen) {
            seen(line);
        }
        if (++lines > kMaxReplyLines) {
            throw EMailError("The server's reply does not end");
        }
        line = next();
    }
    if (line.empty()) {
        throw EMailError("Connection closed by the server");
    }
    if (seen) {
        seen(line);
    }
    return line;
}

std::string readWholeLine(const LineSource& next, std::size_t maxLength)
{
    std::string line = next();
    while (!line.empty() && line.back() != '\n') {
        const std::string more = next();
        if (more.empty()) {
            break;
        }
        line += more;
        if (line.size() > maxLength) {
            throw EMailError("The server sent a line longer than " + sizeText(maxLength));
        }
    }
    if (line.empty()) {
        throw EMailError("Connection closed by the server");
    }
    return line;
}

void readMessageLines(const std::function<std::string()>& nextLine, std::vector<std::string>& header,
                      std::vector<std::string>& body)
{
    bool ended = false;
    auto next = [&](std::string& line) {
        line = withoutLineEnd(nextLine());
        if (line == ".") {
            ended = true;
            return false;
        }
        if (!line.empty() && line[0] == '.') {
            line.erase(0, 1);
        }
        return true;
    };
    std::string line;
    while (!ended && next(line) && !line.empty()) {
        header.push_back(line);
    }
    while (!ended && next(line)) {
        body.push_back(line);
    }
}

std::string replyWord(const std::string& reply, int n)
{
    std::size_t pos = 0;
    for (int i = 0;; ++i) {
        pos = reply.find_first_not_of(" \t\r\n", pos);
        if (pos == std::string::npos) {
            return std::string();
        }
        const std::size_t end = reply.find_first_of(" \t\r\n", pos);
        if (i == n) {
            return reply.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        }
        if (end == std::string::npos) {
            return std::string();
        }
        pos = end;
    }
}

bool replyIsOk(const std::string& reply)
{
    // "+OK" opens the reply; a reply that merely holds it ("-ERR no +OK") is
    // a refusal.
    return reply.compare(0, 3, "+OK") == 0 &&
           (reply.size() == 3 || reply[3] == ' ' || reply[3] == '\t' || reply[3] == '\r' || reply[3] == '\n');
}

long long replyCount(const std::string& word)
{
    if (word.empty() || word.size() > 18) {
        return 0;
    }
    long long value = 0;
    for (const char c : word) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace tq::mail
