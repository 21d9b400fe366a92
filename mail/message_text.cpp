#include "mail/message_text.h"

#include "mail/html_text.h"

#include <cctype>

namespace tq::mail {
namespace {

bool containsMultipart(const std::string& contentType)
{
    std::string lower = contentType;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.find("multipart") != std::string::npos;
}

bool isFileEntry(const std::string& line)
{
    return line.rfind("\r\nFile \"", 0) == 0;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += "\r\n";
        }
        text += lines[i];
    }
    return text;
}

void appendHtml(std::vector<std::string>& lines, std::vector<std::string>& html)
{
    std::string source;
    for (const std::string& line : html) {
        source += line;
        source += '\n';
    }
    const auto text = htmlToText(source);
    lines.insert(lines.end(), text.begin(), text.end());
    html.clear();
}

} // namespace

std::vector<std::string> readableLines(const TMailMessage& message)
{
    if (!message.HtmlBody) {
        return message.Body;
    }
    std::vector<std::string> html;
    std::vector<std::string> lines;
    for (const std::string& line : message.Body) {
        if (isFileEntry(line)) {
            if (!html.empty()) {
                appendHtml(lines, html);
            }
            lines.push_back(line);
        } else {
            html.push_back(line);
        }
    }
    if (!html.empty()) {
        appendHtml(lines, html);
    }
    return lines;
}

std::string openText(const TMailMessage& message)
{
    std::vector<std::string> lines = readableLines(message);
    // Messages of the send window start their text with an empty line; any
    // other first line is the sender's text and stays. In a multipart message
    // that line is the preamble, which is not text at all: the first line of
    // the text part is the sender's.
    const bool multipart = !message.Boundary.empty() && containsMultipart(message.ContentType);
    if (!multipart && !lines.empty() && lines.front().empty()) {
        lines.erase(lines.begin());
    }
    return joined(lines);
}

std::string replyText(const TMailMessage& message)
{
    std::vector<std::string> lines = {"", "", "----- Original Message -----", ""};
    const std::vector<std::string> body = readableLines(message);
    lines.insert(lines.end(), body.begin(), body.end());
    return joined(lines);
}

ReplyFields replyFields(const TMailMessage& message)
{
    return {message.ReplyAddress, "Re: " + message.Subject};
}

} // namespace tq::mail
