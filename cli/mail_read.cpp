#include "cli/mail_commands.h"

#include "cli/arguments.h"

#include "archive/fileio.h"
#include "mail/mail_message.h"
#include "mail/message_text.h"
#include "memo/memo_lines.h"
#include "platform/codepage.h"
#include "platform/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace tq::cli {
namespace {

#ifdef _WIN32
const char* const kLineEnding = "\r\n";
#else
const char* const kLineEnding = "\n";
#endif

// A header value on one output line: line breaks and other control
// characters read as blanks.
std::string oneLine(const std::string& value)
{
    std::string out = value;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) {
            c = ' ';
        }
    }
    return tq::cp1252::toUtf8(out);
}

} // namespace

int runMailRead(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--attachments"});
    if (a.operands.size() != 1) {
        throw UsageError("mail read takes MESSAGEFILE");
    }
    const std::optional<std::string> folder = a.value("--attachments");

    // The message as stored (RFC 5322, CR LF or LF line ends): header lines up
    // to the first empty line, then the body, as a POP3 retrieval gives them.
    const std::vector<std::uint8_t> bytes = tq::readWholeFile(tq::archive_io::toPath(a.operands[0]));
    std::vector<std::string> header;
    std::vector<std::string> body;
    bool inBody = false;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\n') {
            ++end;
        }
        std::string line(reinterpret_cast<const char*>(bytes.data()) + start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        start = end + 1;
        // An mbox file's separator line is no header field.
        if (!inBody && header.empty() && line.rfind("From ", 0) == 0) {
            continue;
        }
        if (!inBody && line.empty()) {
            inBody = true;
            continue;
        }
        (inBody ? body : header).push_back(std::move(line));
    }

    tq::mail::ParseOptions options;
    options.parse = false; // as the receive window reads
    options.writeFiles = folder.has_value();
    if (folder) {
        options.folder = tq::archive_io::toPath(*folder);
    }
    tq::TMailMessage message;
    tq::mail::parseMessage(header, body, options, message);

    std::string out;
    out += "Reply-To-Address: " + oneLine(message.ReplyAddress) + kLineEnding;
    out += "Subject: " + oneLine(message.Subject) + kLineEnding;
    for (const std::string& name : message.Attachments) {
        out += "Attachment: " + oneLine(name) + kLineEnding;
    }
    out += kLineEnding;
    for (const std::string& line : tq::memoLines(tq::mail::openText(message))) {
        out += tq::cp1252::toUtf8(line);
        out += kLineEnding;
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        throw std::runtime_error(std::string("Cannot write standard output: ") + std::strerror(errno));
    }
    return 0;
}

} // namespace tq::cli
