#include "mail/post_message.h"

#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "platform/codepage.h"
#include "platform/fileio.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
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
    try {
        return readWholeText(std::filesystem::u8path(path));
    } catch (const FileError& e) {
        throw EMailError(e.what());
    }
}

bool has8Bit(std::string_view text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 127) {
            return true;
        }
    }
    return false;
}

// Bytes below 32 other than the tab: not text a 7-bit line may carry.
bool hasControl(std::string_view text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 && u != '\t') {
            return true;
        }
    }
    return false;
}

// A body with bytes above 127 is not US-ASCII: such text (any encrypted memo,
// any accented letter) is the memo's Windows-1252.
bool bodyHas8Bit(const std::vector<std::string>& lines)
{
    for (const auto& line : lines) {
        if (has8Bit(line)) {
            return true;
        }
    }
    return false;
}

bool needsQuotedPrintable(const std::vector<std::string>& lines)
{
    for (const auto& line : lines) {
        if (line.size() > kMaxCodedLineLength || has8Bit(line) || hasControl(line)) {
            return true;
        }
    }
    return false;
}

const char kHex[] = "0123456789ABCDEF";

void appendHex(std::string& out, char prefix, unsigned char c)
{
    out += prefix;
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

// The longest physical line of a text of CR LF lines.
std::size_t longestLine(std::string_view text)
{
    std::size_t longest = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        longest = std::max(longest, end - start);
        start = end + 2;
    }
    return longest;
}

// A header line as it goes out: folded, and refused when a line would still
// be longer than the wire allows.
std::string headerLine(std::string_view name, std::string_view value, bool addressList = false)
{
    std::string folded = foldHeader(std::string(name) + ": " + std::string(value), addressList);
    if (longestLine(folded) > kMaxLineLength) {
        throw EMailError("The " + std::string(name) + " line of the message would be longer than " +
                         std::to_string(kMaxLineLength) + " characters; the message was not sent");
    }
    return folded;
}

// An unstructured value (a subject): folded as it stands when it is plain
// 7-bit text that folds within the limit, otherwise as encoded words.
std::string unstructuredValue(std::string_view name, std::string_view value)
{
    if (!has8Bit(value) && !hasControl(value) && value.find("=?") == std::string_view::npos &&
        longestLine(foldHeader(std::string(name) + ": " + std::string(value))) <= kMaxLineLength) {
        return std::string(value);
    }
    return encodedWords(value, "windows-1252");
}

bool isAtext(unsigned char c)
{
    return std::isalnum(c) != 0 || std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

// RFC 2231 extended value of a UTF-8 file name: utf-8''percent-encoded.
std::string extendedValue(std::string_view bytes)
{
    std::string out = "utf-8''";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) != 0 || std::strchr("!#$&+-.^_`|~", c) != nullptr) {
            out += ch;
        } else {
            appendHex(out, '%', c);
        }
    }
    return out;
}

// A file name other programs can take as a quoted parameter as it stands.
bool plainFileName(std::string_view name)
{
    return !has8Bit(name) && !hasControl(name) && name.find_first_of("\"\\") == std::string_view::npos &&
           name.find("=?") == std::string_view::npos && name.size() < 200;
}

} // namespace

TextLabel textLabel(const TPostMessage& message, std::string_view charset)
{
    const std::vector<std::string> lines = bodyLines(message);
    TextLabel label{std::string(charset), std::string()};
    if (cp1252::equalsIgnoreCase(charset, "us-ascii") && bodyHas8Bit(lines)) {
        label.charset = "\"windows-1252\"";
    }
    if (needsQuotedPrintable(lines)) {
        label.transferEncoding = "quoted-printable";
    }
    return label;
}

std::vector<std::string> bodyLines(const TPostMessage& message)
{
    std::vector<std::string> lines;
    lines.reserve(message.Body.size());
    for (const std::string& entry : message.Body) {
        std::size_t start = 0;
        for (;;) {
            std::size_t end = entry.find_first_of("\r\n", start);
            lines.push_back(entry.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) {
                break;
            }
            // A CR LF pair inside the entry is one break, not two.
            if (entry[end] == '\r' && end + 1 < entry.size() && entry[end + 1] == '\n') {
                ++end;
            }
            start = end + 1;
            if (start == entry.size()) {
                break;
            }
        }
    }
    return lines;
}

std::string quotedPrintable(const std::vector<std::string>& lines)
{
    std::string out;
    std::size_t size = 0;
    for (const auto& line : lines) {
        size += line.size() * 3 + line.size() / 24 + 2;
    }
    out.reserve(size);
    for (const auto& line : lines) {
        std::size_t column = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            // A blank at the end of a line would be lost to stripping relays.
            const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            const std::size_t width = literal ? 1 : 3;
            // Room for the "=" of a soft break, except on the line's last token.
            if (column + width > (last ? kMaxCodedLineLength : kMaxCodedLineLength - 1)) {
                out += "=\r\n";
                column = 0;
            }
            if (literal) {
                out += static_cast<char>(c);
            } else {
                appendHex(out, '=', c);
            }
            column += width;
        }
        out += "\r\n";
    }
    return out;
}

std::string encodedWords(std::string_view text, std::string_view charset)
{
    const bool base64 = !cp1252::equalsIgnoreCase(charset, "windows-1252");
    const std::string open = "=?" + std::string(charset) + (base64 ? "?B?" : "?Q?");
    const std::size_t room = 75 - open.size() - 2;
    std::string out;
    std::string word;
    auto flush = [&] {
        if (!out.empty()) {
            out += ' ';
        }
        out += open + word + "?=";
        word.clear();
    };
    if (base64) {
        // Whole UTF-8 characters per word: 3 bytes give 4 characters.
        const std::size_t maxBytes = room / 4 * 3;
        std::size_t i = 0;
        while (i < text.size()) {
            std::size_t end = std::min(text.size(), i + maxBytes);
            while (end < text.size() && end > i + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
                --end;
            }
            word = TAttachCoder::encodeBytes(std::string(text.substr(i, end - i)), TAttachCoder::MethodBase64);
            while (!word.empty() && (word.back() == '\n' || word.back() == '\r')) {
                word.pop_back();
            }
            flush();
            i = end;
        }
        return out;
    }
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        std::string piece;
        if (c == ' ') {
            piece = "_";
        } else if (std::isalnum(c) != 0 || std::strchr("!*+-/", c) != nullptr) {
            piece = std::string(1, ch);
        } else {
            appendHex(piece, '=', c);
        }
        if (word.size() + piece.size() > room) {
            flush();
        }
        word += piece;
    }
    if (!word.empty() || out.empty()) {
        flush();
    }
    return out;
}

std::string foldHeader(std::string_view line, bool addressList)
{
    if (line.size() <= kFoldWidth) {
        return std::string(line);
    }
    // Places a fold may stand: before a blank that follows a non-blank and is
    // followed by a non-blank (the continuation line starts with it), and in an
    // address list after a comma outside quotes and brackets (a blank is added).
    struct Fold {
        std::size_t at;
        bool addBlank;
    };
    std::vector<Fold> folds;
    const std::size_t colon = line.find(':');
    bool quoted = false;
    int angle = 0;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    for (std::size_t i = colon == std::string_view::npos ? 0 : colon + 2; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '<') {
            ++angle;
        } else if (c == '>' && angle > 0) {
            --angle;
        }
        if (blank(c) && i > 0 && !blank(line[i - 1]) && i + 1 < line.size() && !blank(line[i + 1])) {
            folds.push_back({i, false});
        } else if (addressList && c == ',' && !quoted && angle == 0 && i + 1 < line.size() && !blank(line[i + 1])) {
            folds.push_back({i + 1, true});
        }
    }
    std::string out;
    std::size_t start = 0;      // where the current line starts in `line`
    std::size_t startExtra = 0; // 1 when it starts with an added blank
    const std::size_t none = folds.size();
    std::size_t fits = none; // the last fold that keeps the current line short
    auto foldAt = [&](std::size_t k) {
        out.append(line.substr(start, folds[k].at - start));
        out += "\r\n";
        if (folds[k].addBlank) {
            out += ' ';
        }
        start = folds[k].at;
        startExtra = folds[k].addBlank ? 1 : 0;
        fits = none;
    };
    for (std::size_t k = 0; k < folds.size(); ++k) {
        if (folds[k].at - start + startExtra <= kFoldWidth) {
            fits = k;
        } else if (fits != none) {
            foldAt(fits);
            --k; // measured again on the new line
        } else {
            foldAt(k); // a word longer than the width: the line stays long
        }
    }
    if (line.size() - start + startExtra > kFoldWidth && fits != none) {
        foldAt(fits);
    }
    out.append(line.substr(start));
    return out;
}

std::string fromValue(std::string_view name, std::string_view address)
{
    const std::string angle = "<" + std::string(address) + ">";
    if (name.empty()) {
        return angle;
    }
    // A run without blanks that folding could not break would make the line
    // too long: encoded words can be folded anywhere.
    std::size_t run = 0;
    std::size_t longestRun = 0;
    for (const char c : name) {
        run = c == ' ' ? 0 : run + 1;
        longestRun = std::max(longestRun, run);
    }
    if (has8Bit(name) || hasControl(name) || name.find("=?") != std::string_view::npos ||
        longestRun > kMaxLineLength - kFoldWidth) {
        // An encoded word stands apart from the "<" that follows it.
        return encodedWords(name, "windows-1252") + " " + angle;
    }
    bool plain = name.front() != ' ' && name.back() != ' ';
    for (const char c : name) {
        plain = plain && (isAtext(static_cast<unsigned char>(c)) || c == ' ');
    }
    if (plain) {
        return std::string(name) + angle;
    }
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"" + angle;
}

std::vector<std::string> splitRecipients(std::string_view field)
{
    std::vector<std::string> out;
    std::string current;
    bool quoted = false;
    bool angle = false;
    auto take = [&] {
        std::string entry = trimmed(current);
        if (!entry.empty()) {
            out.push_back(std::move(entry));
        }
        current.clear();
    };
    for (const char c : field) {
        if (!quoted && !angle && (c == ',' || c == ';')) {
            take();
            continue;
        }
        if (c == '"' && !angle) {
            quoted = !quoted;
        } else if (c == '<' && !quoted) {
            angle = true;
        } else if (c == '>' && !quoted) {
            angle = false;
        }
        current += c;
    }
    take();
    return out;
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
    setHeader(header, "From", fromValue(message.FromName, message.FromAddress));
    setHeader(header, "To", joined(message.ToAddress));
    setHeader(header, "CC", joined(message.ToCarbonCopy));
    setHeader(header, "Subject", unstructuredValue("Subject", message.Subject));
    setHeader(header, "X-Mailer", unstructuredValue("X-Mailer", message.LocalProgram));
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
    for (std::string& line : header) {
        const std::string name = line.substr(0, line.find(':'));
        const bool addresses = name == "From" || name == "To" || name == "CC" || name == "Reply-To";
        line = headerLine(name, std::string_view(line).substr(name.size() + 2), addresses);
    }
    return header;
}

std::string dotStuffed(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 64 + 1);
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && c == '.') {
            out += '.';
        }
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::string buildBody(const TPostMessage& message, TMimeType subType, std::string_view charset,
                      std::string_view boundary, TEncodeType encodeType, const BodyEvents& events)
{
    const std::vector<std::string> lines = bodyLines(message);
    const TextLabel label = textLabel(message, charset);
    std::string text;
    if (label.transferEncoding.empty()) {
        for (const auto& line : lines) {
            text += line + "\r\n";
        }
    } else {
        text = quotedPrintable(lines);
    }
    if (boundary.empty() || message.Attachments.empty()) {
        return text;
    }
    const std::string dashBoundary = "--" + std::string(boundary);
    std::string body = dashBoundary + "\r\n";
    body += "Content-Type: " + mimeTypeText(subType) + "; charset=" + label.charset + "\r\n";
    if (!label.transferEncoding.empty()) {
        body += "Content-Transfer-Encoding: " + label.transferEncoding + "\r\n";
    }
    body += "\r\n";
    body += text;
    // The transfer-encoding label names the coding actually used: uuencoded
    // data labelled base64 would reach the recipient as garbage.
    for (const auto& path : message.Attachments) {
        body += "\r\n" + dashBoundary + "\r\n";
        const std::string utf8Name = fileNameOf(path);
        if (plainFileName(utf8Name)) {
            const std::string name = headerFileName(path);
            body += "Content-Type: application/octet-stream; name=\"" + name + "\"\r\n";
            body += std::string("Content-Transfer-Encoding: ") +
                    (encodeType == uuCode ? "X-UUENCODE" : "base64") + "\r\n";
            body += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
        } else {
            // Other programs read the RFC 2231 form; older ones the encoded
            // words of the name.
            body += headerLine("Content-Type", "application/octet-stream; name=\"" +
                                                   encodedWords(utf8Name, "utf-8") + "\"") +
                    "\r\n";
            body += std::string("Content-Transfer-Encoding: ") +
                    (encodeType == uuCode ? "X-UUENCODE" : "base64") + "\r\n";
            body += headerLine("Content-Disposition", "attachment; filename*=" + extendedValue(utf8Name)) +
                    "\r\n";
        }
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
        // Coded lines end with CR LF already.
        body += TAttachCoder::encodeBytes(
            data, encodeType == uuCode ? TAttachCoder::MethodUUEncode : TAttachCoder::MethodBase64);
        if (events.encodeEnd) {
            events.encodeEnd(path);
        }
    }
    // The closing delimiter; ended by CR LF so that the "." after the body
    // stands on a line of its own.
    body += "\r\n" + dashBoundary + "--\r\n";
    return body;
}

std::string TComposedMessage::text() const
{
    std::string out;
    std::size_t size = body.size() + 4;
    for (const auto& line : header) {
        size += line.size() + 2;
    }
    out.reserve(size);
    for (const auto& line : header) {
        out += line + "\r\n";
    }
    // The blank line that ends the header, and one empty line in front of the
    // body (readers of this program drop it).
    out += "\r\n\r\n";
    out += body;
    return out;
}

TComposedMessage composeMessage(const TPostMessage& message, TMimeType subType, std::string_view charset,
                                TEncodeType encodeType, std::mt19937& random, const BodyEvents& events)
{
    checkHeaderSafety(message, charset);
    TComposedMessage composed;
    composed.boundary = message.Attachments.empty() ? std::string() : makeBoundary(random);
    composed.header = buildHeader(message, subType, charset, composed.boundary);
    composed.body = buildBody(message, subType, charset, composed.boundary, encodeType, events);
    return composed;
}

std::string dateText(int year, int month, int day, int dayOfWeek, int hour, int minute, int second,
                     int offsetMinutes)
{
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d", days[(dayOfWeek + 6) % 7],
                  day, months[(month + 11) % 12], year, hour, minute, second, offsetMinutes < 0 ? '-' : '+',
                  absolute / 60, absolute % 60);
    return text;
}

std::string fileNameOf(std::string_view path)
{
    const auto slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

} // namespace mail
} // namespace tq
