#include "mail/net/pop3_client.h"

#include "mail/mail_errors.h"

#include <QDir>
#include <algorithm>
#include <cctype>
#include <QStandardPaths>

namespace tq {
namespace {

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

// The n-th (from 0) blank-separated word of a reply.
std::string word(const std::string& text, int n)
{
    std::size_t pos = 0;
    for (int i = 0;; ++i) {
        pos = text.find_first_not_of(" \t\r\n", pos);
        if (pos == std::string::npos) {
            return std::string();
        }
        const std::size_t end = text.find_first_of(" \t\r\n", pos);
        if (i == n) {
            return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        }
        if (end == std::string::npos) {
            return std::string();
        }
        pos = end;
    }
}

bool firstWordOk(const std::string& reply)
{
    return word(reply, 0).find("+OK") != std::string::npos;
}

long long numberOf(const std::string& text)
{
    if (text.empty() || text.size() > 18) {
        return 0;
    }
    long long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::filesystem::path toPath(const QString& folder)
{
#ifdef _WIN32
    return std::filesystem::path(folder.toStdWString());
#else
    return std::filesystem::u8path(folder.toStdString());
#endif
}

} // namespace

TPop3Client::TPop3Client(QObject* parent) : TLineSocket(parent)
{
    Port = 110;
    QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath() + QStringLiteral("/tarnquill");
    }
    SetAttachFilePath(base + QStringLiteral("/attachments"));
}

void TPop3Client::SetAttachFilePath(const QString& folder)
{
    attachFilePath_ = folder;
    if (!attachFilePath_.endsWith(QLatin1Char('/')) && !attachFilePath_.endsWith(QLatin1Char('\\'))) {
        attachFilePath_ += QLatin1Char('/');
    }
}

std::string TPop3Client::readLine()
{
    std::string line = ReadLn();
    // ReadLn hands over very long lines in pieces; a message line is whole.
    while (!line.empty() && line.back() != '\n') {
        const std::string more = ReadLn();
        if (more.empty()) {
            break;
        }
        line += more;
        if (line.size() > kMaxLine) {
            throw EMailError("The server sent a line longer than 1 MiB");
        }
    }
    if (line.empty()) {
        throw EMailError("Connection closed by the server");
    }
    return line;
}

std::string TPop3Client::command(const std::string& text)
{
    Writeln(text);
    std::string reply = readLine();
    report(1, reply);
    setReplyNumber(reply);
    return reply;
}

void TPop3Client::raiseReply(const std::string& reply)
{
    throw EMailError(withoutLineEnd(reply));
}

void TPop3Client::requireConnection()
{
    report(8, "Checking Connection");
    if (!Connected()) {
        if (OnConnectionRequired) {
            OnConnectionRequired();
        }
        throw EMailError("Not Connected");
    }
}

void TPop3Client::beforeConnect()
{
    if (UserID.empty() || Password.empty()) {
        bool handled = false;
        if (OnAuthenticationNeeded) {
            OnAuthenticationNeeded(handled);
        }
        if (!handled) {
            throw EMailError("Authentication failed");
        }
    }
}

std::vector<std::string> TPop3Client::capabilities()
{
    std::vector<std::string> caps;
    const std::string reply = command("CAPA");
    if (!firstWordOk(reply)) {
        return caps;
    }
    for (int lines = 0;; ++lines) {
        if (lines > 1000) {
            throw EMailError("The server's reply does not end");
        }
        const std::string line = withoutLineEnd(readLine());
        report(1, line);
        if (line == ".") {
            break;
        }
        std::string keyword = word(line, 0);
        for (char& c : keyword) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        caps.push_back(keyword);
    }
    return caps;
}

void TPop3Client::greet()
{
    const std::string greeting = readLine();
    report(1, greeting);
    if (!firstWordOk(greeting)) {
        raiseReply(greeting);
    }
    if (Security == TSecurity::StartTls) {
        const auto caps = capabilities();
        if (std::find(caps.begin(), caps.end(), "STLS") == caps.end()) {
            throw EMailError(ServerName() +
                             " does not offer STLS; the connection was closed and nothing was sent");
        }
        const std::string reply = command("STLS");
        if (!firstWordOk(reply)) {
            throw EMailError(ServerName() + " refused STLS (" + withoutLineEnd(reply) +
                             "); nothing was sent");
        }
        startEncryption();
    }
    if (Security != TSecurity::None && !Encrypted()) {
        throw EMailError("Signing in to " + ServerName() +
                         " needs a secure connection; the password was not sent");
    }
    bool offered = false;
    for (;;) {
        std::string reply = command("USER " + UserID);
        if (firstWordOk(reply)) {
            reply = command("PASS " + Password);
            if (firstWordOk(reply)) {
                break;
            }
        }
        if (offerOnce(OnAuthenticationFailed, offered)) {
            continue;
        }
        throw EMailError("Authentication failed");
    }
    const std::string stat = command("STAT");
    if (stat.find("+OK") == std::string::npos) {
        raiseReply(stat);
    }
    const long long count = numberOf(word(stat, 1));
    messageCount_ = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
}

bool TPop3Client::quitRefused(const std::string& reply) const
{
    return !reply.empty() && !firstWordOk(reply);
}

void TPop3Client::RetrieveMessage(int number)
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    requireConnection();
    if (OnRetrieveStart) {
        OnRetrieveStart();
    }
    MailMessage.Clear();
    BytesRecvd = 0;
    BytesTotal = 0;

    const std::string reply = command("RETR " + std::to_string(number));
    if (reply.find("+OK") == std::string::npos) {
        raiseReply(reply);
    }
    BytesTotal = numberOf(word(reply, 1));

    // Lines of the message up to the final "."; a leading "." of a line was
    // doubled by the server.
    bool ended = false;
    auto next = [&](std::string& line) {
        line = readLine();
        BytesRecvd += static_cast<std::int64_t>(line.size());
        if (OnPacketRecvd) {
            OnPacketRecvd();
        }
        line = withoutLineEnd(std::move(line));
        if (line == ".") {
            ended = true;
            return false;
        }
        if (!line.empty() && line[0] == '.') {
            line.erase(0, 1);
        }
        return true;
    };
    std::vector<std::string> header;
    std::vector<std::string> body;
    std::string line;
    while (!ended && next(line) && !line.empty()) {
        header.push_back(line);
    }
    while (!ended && next(line)) {
        body.push_back(line);
    }

    mail::ParseOptions options;
    options.parse = Parse;
    options.folder = toPath(attachFilePath_);
    options.decodeStart = [this](std::string& fileName, std::filesystem::path& folder) {
        if (OnDecodeStart) {
            OnDecodeStart(fileName);
            // The handler may have chosen another folder.
            folder = toPath(attachFilePath_);
        }
    };
    options.decodeEnd = [this](const std::string& fileName) {
        if (OnDecodeEnd) {
            OnDecodeEnd(fileName);
        }
    };
    options.status = [this](const std::string& status) { report(1, status); };
    mail::parseMessage(header, body, options, MailMessage);

    if (DeleteOnRead) {
        const std::string dele = command("DELE " + std::to_string(number));
        if (word(dele, 0) == "-ERR") {
            raiseReply(dele);
        }
    }
    report(1, "Message Retrieved");
    if (OnRetrieveEnd) {
        OnRetrieveEnd();
    }
}

void TPop3Client::DeleteMessage(int number)
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    requireConnection();
    const std::string reply = command("DELE " + std::to_string(number));
    if (word(reply, 0) == "-ERR") {
        if (OnFailure) {
            OnFailure();
        }
        raiseReply(reply);
    }
    if (OnSuccess) {
        OnSuccess();
    }
}

} // namespace tq
