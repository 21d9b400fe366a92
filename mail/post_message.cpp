#include "mail/post_message.h"

#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "platform/codepage.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tq {

void TPostMessage::Clear()
{
    *this = TPostMessage();
}

namespace mail {
namespace {

std::string trimmed(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) {
        ++b;
    }
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void refuseLineBreak(std::string_view field, std::string_view value)
{
    if (hasLineBreak(value)) {
        throw EMailError("The " + std::string(field) + " \"" +
                         std::string(value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)))) +
                         "...\" holds a line break; the message was not sent");
    }
}

std::string joined(const std::vector<std::string>& list)
{
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += list[i];
    }
    return out;
}

bool startsWithNameIgnoreCase(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':') {
        return false;
    }
    return cp1252::equalsIgnoreCase(line.substr(0, name.size()), name);
}

// The attachment name as it goes into a quoted header parameter.
std::string headerFileName(std::string_view path)
{
    std::string name = cp1252::fromUtf8Lossy(fileNameOf(path));
    for (char& c : name) {
        if (c == '"' || c == '\\') {
            c = '_';
        }
    }
    return name;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        const int err = errno;
        throw EMailError("Cannot open \"" + path + "\": " +
                         (err != 0 ? std::strerror(err) : "cannot be read"));
    }
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad()) {
        throw EMailError("Cannot read \"" + path + "\"");
    }
    return data.str();
}

// A body with bytes above 127 is not US-ASCII: such text (any encrypted memo,
// any accented letter) is the memo's Windows-1252, sent as it stands.
bool bodyHas8Bit(const TPostMessage& message)
{
    for (const auto& line : message.Body) {
        for (const char c : line) {
            if (static_cast<unsigned char>(c) > 127) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

TextLabel textLabel(const TPostMessage& message, std::string_view charset)
{
    if (cp1252::equalsIgnoreCase(charset, "us-ascii") && bodyHas8Bit(message)) {
        return {"\"windows-1252\"", "8bit"};
    }
    return {std::string(charset), std::string()};
}

std::string mimeTypeText(TMimeType type)
{
    switch (type) {
    case mtEnriched:
        return "text/enriched";
    case mtSgml:
        return "text/sgml";
    case mtTabSeperated:
        return "text/tab-separated-values";
    case mtHtml:
        return "text/html";
    case mtPlain:
        break;
    }
    return "text/plain";
}

void setHeader(std::vector<std::string>& header, std::string_view name, std::string_view value)
{
    for (auto it = header.begin(); it != header.end(); ++it) {
        if (startsWithNameIgnoreCase(*it, name)) {
            if (value.empty()) {
                header.erase(it);
            } else {
                *it = std::string(name) + ": " + std::string(value);
            }
            return;
        }
    }
    if (!value.empty()) {
        header.push_back(std::string(name) + ": " + std::string(value));
    }
}

std::string bareAddress(std::string_view entry)
{
    const auto lt = entry.find('<');
    if (lt != std::string_view::npos) {
        const auto gt = entry.find('>', lt + 1);
        return trimmed(entry.substr(lt + 1, gt == std::string_view::npos ? gt : gt - lt - 1));
    }
    const auto colon = entry.find(':');
    if (colon != std::string_view::npos) {
        return trimmed(entry.substr(colon + 1));
    }
    return trimmed(entry);
}

std::string makeBoundary(std::mt19937& random)
{
    std::uniform_int_distribution<int> letter(0, 24); // "a" to "y"
    std::string boundary = "====================54535";
    for (int i = 0; i < 6; ++i) {
        boundary += static_cast<char>('a' + letter(random));
    }
    boundary += "====";
    return boundary;
}

void checkHeaderSafety(const TPostMessage& message, std::string_view charset)
{
    refuseLineBreak("sender address", message.FromAddress);
    refuseLineBreak("sender name", message.FromName);
    for (const auto& to : message.ToAddress) {
        refuseLineBreak("recipient", to);
    }
    for (const auto& cc : message.ToCarbonCopy) {
        refuseLineBreak("recipient", cc);
    }
    for (const auto& bcc : message.ToBlindCarbonCopy) {
        refuseLineBreak("recipient", bcc);
    }
    refuseLineBreak("subject", message.Subject);
    refuseLineBreak("mailer name", message.LocalProgram);
    refuseLineBreak("date", message.Date);
    refuseLineBreak("reply address", message.ReplyTo);
    refuseLineBreak("character set", charset);
    for (const auto& path : message.Attachments) {
        refuseLineBreak("attachment name", fileNameOf(path));
    }
}

std::vector<std::string> buildHeader(const TPostMessage& message, TMimeType subType,
                                     std::string_view charset, std::string_view boundary)
{
    std::vector<std::string> header;
    setHeader(header, "From", message.FromName + "<" + message.FromAddress + ">");
    setHeader(header, "To", joined(message.ToAddress));
    setHeader(header, "CC", joined(message.ToCarbonCopy));
    setHeader(header, "Subject", message.Subject);
    setHeader(header, "X-Mailer", message.LocalProgram);
    setHeader(header, "Reply-To", message.ReplyTo);
    setHeader(header, "Date", message.Date);
    setHeader(header, "Mime-Version", "1.0");
    if (boundary.empty()) {
        const TextLabel label = textLabel(message, charset);
        setHeader(header, "Content-Type", mimeTypeText(subType) + "; charset=" + label.charset);
        setHeader(header, "Content-Transfer-Encoding", label.transferEncoding);
    } else {
        setHeader(header, "Content-Type",
                  "multipart/mixed; boundary=\"" + std::string(boundary) + "\"");
    }
    return header;
}

void appendBodyLine(std::string& out, std::string_view line)
{
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find_first_of("\r\n", start);
        const std::string_view piece =
            line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!piece.empty() && piece[0] == '.') {
            out += '.';
        }
        out.append(piece.data(), piece.size());
        out += "\r\n";
        if (end == std::string_view::npos) {
            break;
        }
        // A CR LF pair inside the entry is one break, not two.
        if (line[end] == '\r' && end + 1 < line.size() && line[end + 1] == '\n') {
            ++end;
        }
        start = end + 1;
        if (start == line.size()) {
            break;
        }
    }
}

std::string buildBody(const TPostMessage& message, TMimeType subType, std::string_view charset,
                      std::string_view boundary, TEncodeType encodeType, const BodyEvents& events)
{
    std::string body;
    if (boundary.empty() || message.Attachments.empty()) {
        for (const auto& line : message.Body) {
            appendBodyLine(body, line);
        }
        return body;
    }
    const std::string dashBoundary = "--" + std::string(boundary);
    body += dashBoundary + "\r\n";
    const TextLabel label = textLabel(message, charset);
    body += "Content-Type: " + mimeTypeText(subType) + "; charset=" + label.charset + "\r\n";
    if (!label.transferEncoding.empty()) {
        body += "Content-Transfer-Encoding: " + label.transferEncoding + "\r\n";
    }
    body += "\r\n";
    for (const auto& line : message.Body) {
        appendBodyLine(body, line);
    }
    for (const auto& path : message.Attachments) {
        const std::string name = headerFileName(path);
        body += "\r\n" + dashBoundary + "\r\n";
        body += "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n";
        // The label names the coding actually used: uuencoded data labelled
        // base64 would reach the recipient as garbage.
        body += std::string("Content-Transfer-Encoding: ") +
                (encodeType == uuCode ? "X-UUENCODE" : "base64") + "\r\n";
        body += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
        body += "\r\n";
        if (events.encodeStart) {
            events.encodeStart(path);
        }
        std::string data;
        try {
            data = readFile(path);
        } catch (const EMailError&) {
            if (events.attachmentNotFound) {
                events.attachmentNotFound(path);
            }
            throw;
        }
        const std::string coded = TAttachCoder::encodeBytes(
            data, encodeType == uuCode ? TAttachCoder::MethodUUEncode : TAttachCoder::MethodBase64);
        // Coded lines end with CR LF already; a uuencoded line may begin with
        // "." and is stuffed like any other line.
        std::size_t pos = 0;
        while (pos < coded.size()) {
            std::size_t end = coded.find("\r\n", pos);
            if (end == std::string::npos) {
                end = coded.size();
            }
            appendBodyLine(body, std::string_view(coded).substr(pos, end - pos));
            pos = end + 2;
        }
        if (events.encodeEnd) {
            events.encodeEnd(path);
        }
    }
    // The closing delimiter; ended by CR LF so that the "." after the body
    // stands on a line of its own.
    body += "\r\n" + dashBoundary + "--\r\n";
    return body;
}

std::string fileNameOf(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace mail
} // namespace tq
