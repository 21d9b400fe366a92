#include "mail/mail_message.h"

#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "platform/atomicfile.h"
#include "platform/codepage.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace tq {

void TMailMessage::Clear()
{
    *this = TMailMessage();
}

namespace mail {
namespace {

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool containsIgnoreCase(std::string_view text, std::string_view what)
{
    return upper(text).find(upper(what)) != std::string::npos;
}

std::string trimmed(std::string_view s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

std::string firstWord(std::string_view line)
{
    const auto blank = line.find_first_of(" \t");
    return upper(line.substr(0, blank));
}

// The value of "Name: value": after the name, its colon and one blank.
std::string fieldValue(std::string_view line, std::size_t nameLength)
{
    std::string_view value = line.substr(nameLength + 1);
    if (!value.empty() && (value[0] == ' ' || value[0] == '\t')) {
        value.remove_prefix(1);
    }
    return std::string(value.substr(0, kMaxFieldLength));
}

// The value of a parameter "name=value" or name="value" in a header line; the
// name must not be the tail of a longer word ("filename" is not "name").
bool findParameter(std::string_view line, std::string_view name, std::string& value)
{
    const std::string up = upper(line);
    const std::string key = upper(name) + "=";
    std::size_t pos = 0;
    while ((pos = up.find(key, pos)) != std::string::npos) {
        if (pos > 0 && (std::isalnum(static_cast<unsigned char>(up[pos - 1])) || up[pos - 1] == '-' ||
                        up[pos - 1] == '*')) {
            pos += key.size();
            continue;
        }
        std::string_view rest = line.substr(pos + key.size());
        if (!rest.empty() && rest[0] == '"') {
            rest.remove_prefix(1);
            const auto close = rest.find('"');
            value = std::string(rest.substr(0, close));
        } else {
            const auto end = rest.find_first_of("; \t");
            value = std::string(rest.substr(0, end));
        }
        value = value.substr(0, kMaxFieldLength);
        return true;
    }
    return false;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// A parameter value in the extended form charset'language'percent-encoded
// (RFC 2231), as 8-bit text.
std::string decodeExtendedValue(const std::string& value)
{
    const auto first = value.find('\'');
    const auto second = first == std::string::npos ? first : value.find('\'', first + 1);
    if (second == std::string::npos) {
        return value;
    }
    const std::string charset = upper(value.substr(0, first));
    std::string bytes;
    for (std::size_t i = second + 1; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && hexValue(value[i + 1]) >= 0 &&
            hexValue(value[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(value[i + 1]) * 16 + hexValue(value[i + 2]));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    return charset == "UTF-8" ? cp1252::fromUtf8Lossy(bytes) : bytes;
}

bool isDeviceName(const std::string& name)
{
    // Windows treats these as devices with or without an extension.
    std::string stem = upper(name.substr(0, name.find('.')));
    while (!stem.empty() && (stem.back() == ' ')) {
        stem.pop_back();
    }
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : devices) {
        if (stem == d) {
            return true;
        }
    }
    if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0)) {
        const char digit = stem[3];
        // COM0-9, LPT0-9 and the superscript digits Windows also reserves.
        return (digit >= '0' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
    }
    return false;
}

bool existsAtAll(const std::filesystem::path& p)
{
    std::error_code ec;
    const auto st = std::filesystem::symlink_status(p, ec);
    return !ec && st.type() != std::filesystem::file_type::not_found;
}

std::string joinLines(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from) {
            out += "\r\n";
        }
        out += lines[i];
    }
    return out;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}


std::string decodeQuotedPrintable(const std::vector<std::string>& lines, std::size_t from,
                                  std::size_t to)
{
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        std::string line = lines[i];
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        bool soft = false;
        for (std::size_t k = 0; k < line.size(); ++k) {
            if (line[k] != '=') {
                out += line[k];
                continue;
            }
            if (k + 1 == line.size()) {
                soft = true;
                break;
            }
            const int hi = hexValue(line[k + 1]);
            const int lo = k + 2 < line.size() ? hexValue(line[k + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                k += 2;
            } else {
                out += '=';
            }
        }
        if (!soft && i + 1 < to) {
            out += "\r\n";
        }
    }
    return out;
}

struct PartContext {
    const ParseOptions& options;
    TMailMessage& message;
    bool textTaken = false;
};

// The lines of a text part as the reader should see them.
std::vector<std::string> textLines(const HeaderFields& fields, const std::vector<std::string>& lines,
                                   std::size_t from, std::size_t to)
{
    const std::string encoding = upper(fields.transferEncoding);
    if (encoding.find("BASE64") != std::string::npos) {
        return splitLines(TAttachCoder::decodeText(joinLines(lines, from, to), 0));
    }
    if (encoding.find("QUOTED-PRINTABLE") != std::string::npos) {
        return splitLines(decodeQuotedPrintable(lines, from, to));
    }
    // The part's content ends with the line break in front of the next
    // delimiter; as text that is the end of the last line, not an empty line.
    if (to > from && lines[to - 1].empty()) {
        --to;
    }
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from),
                                    lines.begin() + static_cast<std::ptrdiff_t>(to));
}

bool isInlineText(const HeaderFields& fields)
{
    if (fields.hasFileName || containsIgnoreCase(fields.disposition, "attachment")) {
        return false;
    }
    return fields.contentType.empty() || containsIgnoreCase(fields.contentType, "text/plain");
}

// Writes an attachment through a temporary file "Temp<n>.mme" in its folder. Its
// name comes from the message: a link in its place is replaced, never followed.
void writeFileAtomically(const std::filesystem::path& target, const std::string& data)
{
    try {
        AtomicFile::TempName temp;
        temp.prefix = "Temp";
        temp.suffix = ".mme";
        temp.counted = true;
        AtomicFile file(target, AtomicFile::Links::Replace, temp);
        file.write(data.data(), data.size());
        file.commit();
    } catch (const FileError& e) {
        throw EMailError(e.what());
    }
}

void writeAttachment(PartContext& ctx, const HeaderFields& fields,
                     const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    const ParseOptions& options = ctx.options;
    std::string name = sanitizeAttachmentName(fields.fileName);
    if (name.empty()) {
        name = "text.tmp";
    }
    std::filesystem::path folder = options.folder;
    if (folder.empty()) {
        throw EMailError("No folder for attachments is set");
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        throw EMailError("Cannot create the attachment folder \"" + folder.u8string() + "\": " +
                         ec.message());
    }
    name = freeAttachmentName(folder, name);
    if (options.decodeStart) {
        std::string proposed = name;
        options.decodeStart(name, folder);
        // The handler's answer is reduced to a plain name as well.
        name = sanitizeAttachmentName(name);
        if (name.empty()) {
            name = freeAttachmentName(folder, proposed);
        }
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            throw EMailError("Cannot create the attachment folder \"" + folder.u8string() +
                             "\": " + ec.message());
        }
    }
    if (options.status) {
        options.status("Decoding file");
    }
    const std::string content = joinLines(lines, from, to);
    const std::string encoding = upper(fields.transferEncoding);
    std::string data;
    if (encoding.find("BASE64") != std::string::npos) {
        data = TAttachCoder::decodeText(content, TAttachCoder::MethodBase64);
    } else if (encoding.find("X-UUENCODE") != std::string::npos) {
        data = TAttachCoder::decodeText(content, TAttachCoder::MethodUUEncode);
    } else {
        data = content;
    }
    if (options.status) {
        options.status("Extracting file");
    }
    writeFileAtomically(pathInFolder(folder, name), data);
    ctx.message.Body.push_back("\r\nFile \"" + name + "\" extracted");
    ctx.message.Attachments.push_back(name);
    if (options.decodeEnd) {
        options.decodeEnd(name);
    }
}

// One part (or a single-part body): inline text goes to the body, anything else
// that has content into a file.
void handlePart(PartContext& ctx, const HeaderFields& fields, const std::vector<std::string>& lines,
                std::size_t from, std::size_t to)
{
    if (!ctx.textTaken && isInlineText(fields)) {
        ctx.textTaken = true;
        auto text = textLines(fields, lines, from, to);
        ctx.message.Body.insert(ctx.message.Body.end(), text.begin(), text.end());
        return;
    }
    bool empty = true;
    for (std::size_t i = from; i < to && empty; ++i) {
        empty = trimmed(lines[i]).empty();
    }
    if (!empty) {
        writeAttachment(ctx, fields, lines, from, to);
    }
}

// 0: not a delimiter, 1: delimiter, 2: closing delimiter.
int delimiterKind(const std::string& line, const std::string& dashBoundary)
{
    if (line.compare(0, dashBoundary.size(), dashBoundary) != 0) {
        return 0;
    }
    const std::string rest = trimmed(std::string_view(line).substr(dashBoundary.size()));
    if (rest.empty()) {
        return 1;
    }
    return rest == "--" ? 2 : 0;
}

void splitMultipart(PartContext& ctx, const std::vector<std::string>& body)
{
    const std::string dash = "--" + ctx.message.Boundary;
    std::size_t i = 0;
    // The preamble (for messages of this program the empty line in front).
    while (i < body.size() && delimiterKind(body[i], dash) == 0) {
        ctx.message.Body.push_back(body[i]);
        ++i;
    }
    while (i < body.size() && delimiterKind(body[i], dash) == 1) {
        ++i;
        HeaderFields fields;
        while (i < body.size() && !body[i].empty() && delimiterKind(body[i], dash) == 0) {
            scanHeaderLine(body[i], fields);
            ++i;
        }
        if (i < body.size() && body[i].empty()) {
            ++i;
        }
        const std::size_t from = i;
        while (i < body.size() && delimiterKind(body[i], dash) == 0) {
            ++i;
        }
        handlePart(ctx, fields, body, from, i);
    }
}

} // namespace


void scanHeaderLine(std::string_view line, HeaderFields& fields)
{
    const std::string word = firstWord(line);
    auto take = [&](std::string_view name, std::string& into) {
        if (word.size() == name.size() + 1 && word.compare(0, name.size(), name) == 0 &&
            word.back() == ':' && into.empty()) {
            into = fieldValue(line, name.size());
            return true;
        }
        return false;
    };
    take("SUBJECT", fields.subject) || take("FROM", fields.from) ||
        take("CONTENT-TYPE", fields.contentType) || take("MESSAGE-ID", fields.messageId) ||
        take("CONTENT-DISPOSITION", fields.disposition);

    std::string value;
    if (fields.boundary.empty() && findParameter(line, "boundary", value)) {
        fields.boundary = value;
    }
    const std::string up = upper(line);
    if (fields.transferEncoding.empty() && up.find("CONTENT-TRANSFER-ENCODING") != std::string::npos) {
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            fields.transferEncoding = trimmed(line.substr(colon + 1)).substr(0, kMaxFieldLength);
        }
    }
    if (!fields.hasFileName || fields.fileName.empty()) {
        if (findParameter(line, "filename*", value) || findParameter(line, "name*", value)) {
            value = decodeExtendedValue(value);
            fields.fileName = value.substr(0, kMaxFieldLength);
            fields.hasFileName = true;
        } else if (findParameter(line, "filename", value) || findParameter(line, "name", value)) {
            if (!value.empty() || !fields.hasFileName) {
                fields.fileName = value;
                fields.hasFileName = true;
            }
        }
    }
}

std::string sanitizeAttachmentName(std::string_view name)
{
    // Only the last path element counts, whichever separator the sender used.
    const auto sep = name.find_last_of("/\\");
    if (sep != std::string_view::npos) {
        name.remove_prefix(sep + 1);
    }
    // A drive ("C:") or stream name ("a.txt:x") is dropped with everything in front.
    const auto colon = name.find_last_of(':');
    if (colon != std::string_view::npos) {
        name.remove_prefix(colon + 1);
    }
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127) {
            continue;
        }
        if (std::strchr("<>\"|?*", ch) != nullptr) {
            out += '_';
            continue;
        }
        out += ch;
    }
    // Windows drops trailing dots and blanks; leading blanks are confusing.
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) {
        out.pop_back();
    }
    std::size_t lead = 0;
    while (lead < out.size() && out[lead] == ' ') {
        ++lead;
    }
    out.erase(0, lead);
    if (out.find_first_not_of('.') == std::string::npos) {
        return std::string(); // "", ".", "..", "..."
    }
    if (isDeviceName(out)) {
        out.insert(0, "_");
    }
    constexpr std::size_t kMaxName = 200;
    if (out.size() > kMaxName) {
        const auto dot = out.find_last_of('.');
        std::string ext = (dot != std::string::npos && out.size() - dot <= 16) ? out.substr(dot) : "";
        out = out.substr(0, kMaxName - ext.size()) + ext;
    }
    return out;
}

std::filesystem::path pathInFolder(const std::filesystem::path& folder, const std::string& name)
{
    return folder / std::filesystem::u8path(cp1252::toUtf8(name));
}

std::string freeAttachmentName(const std::filesystem::path& folder, const std::string& name)
{
    if (!existsAtAll(pathInFolder(folder, name))) {
        return name;
    }
    const auto dot = name.find_last_of('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string ext = hasExt ? name.substr(dot) : std::string();
    for (unsigned n = 1;; ++n) {
        std::string candidate = stem + "_" + std::to_string(n) + ext;
        if (!existsAtAll(pathInFolder(folder, candidate))) {
            return candidate;
        }
    }
}

void parseMessage(const std::vector<std::string>& header, const std::vector<std::string>& body,
                  const ParseOptions& options, TMailMessage& message)
{
    message.Clear();
    HeaderFields fields;
    for (const auto& line : header) {
        scanHeaderLine(line, fields);
    }
    message.Header = header;
    message.RawBody = body;
    message.Subject = fields.subject;
    message.From = fields.from;
    message.ContentType = fields.contentType;
    message.MessageId = fields.messageId;
    message.Boundary = fields.boundary;

    PartContext ctx{options, message};
    if (containsIgnoreCase(fields.contentType, "multipart") && !fields.boundary.empty()) {
        splitMultipart(ctx, body);
    } else if (options.parse) {
        handlePart(ctx, fields, body, 0, body.size());
    } else {
        message.Body = body;
    }
}

} // namespace mail
} // namespace tq
