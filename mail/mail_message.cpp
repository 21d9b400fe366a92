#include "mail/mail_message.h"

#include "mail/attach_coder.h"
#include "mail/mail_address.h"
#include "mail/mail_errors.h"
#include "mail/mail_charset.h"
#include "platform/atomicfile.h"
#include "platform/codepage.h"

#include <algorithm>
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
        if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
            hexDigit(value[i + 2]) >= 0) {
            bytes += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    return toCodePage(bytes, charset);
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
            const int hi = hexDigit(line[k + 1]);
            const int lo = k + 2 < line.size() ? hexDigit(line[k + 2]) : -1;
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
    FreeNames& names;
    bool textTaken = false;
    std::size_t parts = 0;
};

// The lines of a text part as the reader should see them: transfer encoding
// undone, converted to the memo's code page. `partEnd`: the content ends with
// the line break in front of the next delimiter, which as text is the end of
// the last line, not an empty line.
std::vector<std::string> textLines(const HeaderFields& fields, const std::vector<std::string>& lines,
                                   std::size_t from, std::size_t to, bool partEnd)
{
    const std::string charset = charsetOf(fields.contentType);
    const std::string encoding = upper(fields.transferEncoding);
    std::vector<std::string> out;
    if (encoding.find("BASE64") != std::string::npos) {
        out = splitLines(toCodePage(TAttachCoder::decodeText(joinLines(lines, from, to), 0), charset));
    } else if (encoding.find("QUOTED-PRINTABLE") != std::string::npos) {
        out = splitLines(toCodePage(decodeQuotedPrintable(lines, from, to), charset));
    } else {
        if (partEnd && to > from && lines[to - 1].empty()) {
            --to;
        }
        out.reserve(to - from);
        for (std::size_t i = from; i < to; ++i) {
            out.push_back(toCodePage(lines[i], charset));
        }
    }
    return out;
}

bool isAttachmentPart(const HeaderFields& fields)
{
    return fields.hasFileName || containsIgnoreCase(fields.disposition, "attachment");
}

bool isInlineText(const HeaderFields& fields)
{
    if (isAttachmentPart(fields)) {
        return false;
    }
    return fields.contentType.empty() || containsIgnoreCase(fields.contentType, "text/plain");
}

bool isInlineHtml(const HeaderFields& fields)
{
    return !isAttachmentPart(fields) && containsIgnoreCase(fields.contentType, "text/html");
}

bool isMultipart(const HeaderFields& fields)
{
    return containsIgnoreCase(fields.contentType, "multipart") && !fields.boundary.empty();
}

// A name for a part that names no file: "text.tmp", or for an image (the inline
// pictures of an HTML message) "image" with the image type as extension.
std::string nameForNamelessPart(const HeaderFields& fields)
{
    const std::string type = upper(trimmed(fields.contentType.substr(0, fields.contentType.find(';'))));
    if (type.compare(0, 6, "IMAGE/") == 0 && type.size() > 6) {
        std::string ext;
        for (const char c : type.substr(6)) {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                ext += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        if (ext == "jpeg") {
            ext = "jpg";
        }
        if (!ext.empty() && ext.size() <= 8) {
            return "image." + ext;
        }
    }
    return "text.tmp";
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
        name = nameForNamelessPart(fields);
    }
    if (!options.writeFiles) {
        ctx.message.Body.push_back("\r\nFile \"" + name + "\" extracted");
        ctx.message.Attachments.push_back(name);
        return;
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
    name = ctx.names.find(folder, name);
    if (options.decodeStart) {
        std::string proposed = name;
        options.decodeStart(name, folder);
        // The handler's answer is reduced to a plain name as well.
        name = sanitizeAttachmentName(name);
        if (name.empty()) {
            name = ctx.names.find(folder, proposed);
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
    } else if (encoding.find("QUOTED-PRINTABLE") != std::string::npos) {
        data = decodeQuotedPrintable(lines, from, to);
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

// Takes a text part into the body (its first text part only).
void takeText(PartContext& ctx, const HeaderFields& fields, const std::vector<std::string>& lines,
              std::size_t from, std::size_t to, bool partEnd, bool html)
{
    ctx.textTaken = true;
    ctx.message.HtmlBody = html;
    auto text = textLines(fields, lines, from, to, partEnd);
    ctx.message.Body.insert(ctx.message.Body.end(), text.begin(), text.end());
}

// One leaf part: the text goes to the body, an HTML alternative of a text that
// has a plain part is dropped, anything else that has content into a file.
void handlePart(PartContext& ctx, const HeaderFields& fields, const std::vector<std::string>& lines,
                std::size_t from, std::size_t to, bool htmlHasPlainSibling)
{
    if (!ctx.textTaken && isInlineText(fields)) {
        takeText(ctx, fields, lines, from, to, true, false);
        return;
    }
    if (isInlineHtml(fields)) {
        if (htmlHasPlainSibling) {
            return;
        }
        if (!ctx.textTaken) {
            takeText(ctx, fields, lines, from, to, true, true);
            return;
        }
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

// Header lines with their continuation lines (those starting with a blank)
// joined on, as one logical line each.
std::vector<std::string> unfolded(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    std::vector<std::string> out;
    for (std::size_t i = from; i < to; ++i) {
        const std::string& line = lines[i];
        if (!out.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            out.back() += line;
        } else {
            out.push_back(line);
        }
    }
    return out;
}

HeaderFields scanHeader(const std::vector<std::string>& lines, std::size_t from, std::size_t to)
{
    HeaderFields fields;
    for (const auto& line : unfolded(lines, from, to)) {
        scanHeaderLine(line, fields);
    }
    return fields;
}

struct Part {
    HeaderFields fields;
    std::size_t from = 0;
    std::size_t to = 0;
};

// Multiparts may nest (a text with its HTML alternative inside a message with
// attachments, pictures beside the HTML they illustrate); nesting deeper than
// this is not followed.
constexpr int kMaxNesting = 20;

void walkMultipart(PartContext& ctx, const std::vector<std::string>& body, std::size_t begin,
                   std::size_t end, const HeaderFields& container, bool topLevel, bool htmlHasPlain,
                   int depth)
{
    const std::string dash = "--" + container.boundary;
    std::size_t i = begin;
    // The preamble ("This is a multi-part message in MIME format.", for
    // messages of this program the empty line in front) is no text of the
    // message; the epilogue after the closing delimiter is never read.
    while (i < end && delimiterKind(body[i], dash) == 0) {
        ++i;
    }
    if (topLevel && i == end) {
        // No delimiter at all: the sender's text is all there is.
        ctx.message.Body.insert(ctx.message.Body.end(), body.begin() + static_cast<std::ptrdiff_t>(begin),
                                body.begin() + static_cast<std::ptrdiff_t>(end));
        return;
    }
    std::vector<Part> parts;
    while (i < end && delimiterKind(body[i], dash) == 1) {
        if (++ctx.parts > kMaxParts) {
            throw EMailError("The message has more than " + std::to_string(kMaxParts) +
                             " MIME parts (the limit for one message)");
        }
        ++i;
        Part part;
        const std::size_t headerStart = i;
        while (i < end && !body[i].empty() && delimiterKind(body[i], dash) == 0) {
            ++i;
        }
        part.fields = scanHeader(body, headerStart, i);
        if (i < end && body[i].empty()) {
            ++i;
        }
        part.from = i;
        while (i < end && delimiterKind(body[i], dash) == 0) {
            ++i;
        }
        part.to = i;
        parts.push_back(std::move(part));
    }
    // In an alternative, a plain text makes the HTML versions beside it redundant.
    bool plainHere = htmlHasPlain;
    if (containsIgnoreCase(container.contentType, "multipart/alternative")) {
        for (const Part& part : parts) {
            plainHere = plainHere || isInlineText(part.fields);
        }
    }
    for (const Part& part : parts) {
        if (isMultipart(part.fields) && depth < kMaxNesting) {
            walkMultipart(ctx, body, part.from, part.to, part.fields, false, plainHere, depth + 1);
        } else {
            handlePart(ctx, part.fields, body, part.from, part.to, plainHere);
        }
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
    // Subject and sender may hold encoded words; they are decoded before the
    // value is cut, so that a cut never splits an encoded word.
    auto takeDecoded = [&](std::string_view name, std::string& into) {
        if (word.size() == name.size() + 1 && word.compare(0, name.size(), name) == 0 &&
            word.back() == ':' && into.empty()) {
            std::string_view value = line.substr(name.size() + 1);
            if (!value.empty() && (value[0] == ' ' || value[0] == '\t')) {
                value.remove_prefix(1);
            }
            into = decodeHeaderValue(value).substr(0, kMaxFieldLength);
            return true;
        }
        return false;
    };
    if (word == "FROM:" && fields.fromRaw.empty()) {
        fields.fromRaw = std::string(line.substr(5, kMaxRawFromLength));
    }
    takeDecoded("SUBJECT", fields.subject) || takeDecoded("FROM", fields.from) ||
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
    // The RFC 2231 form names the file exactly and wins over a plain name=
    // or filename= (senders give both; the plain one for older readers).
    if (!fields.extendedFileName &&
        (findParameter(line, "filename*", value) || findParameter(line, "name*", value))) {
        value = decodeExtendedValue(value);
        fields.fileName = value.substr(0, kMaxFieldLength);
        fields.hasFileName = true;
        fields.extendedFileName = true;
    } else if ((!fields.hasFileName || fields.fileName.empty()) &&
               (findParameter(line, "filename", value) || findParameter(line, "name", value))) {
        if (!value.empty() || !fields.hasFileName) {
            fields.fileName = decodeHeaderValue(value).substr(0, kMaxFieldLength);
            fields.hasFileName = true;
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
    constexpr std::size_t kMaxName = 200;
    // Windows drops trailing dots and blanks; leading blanks are confusing.
    // Trimmed after every cut too, so that the name written is the name
    // reported (a cut may end in a blank).
    auto trimEnds = [](std::string& s) {
        while (!s.empty() && (s.back() == '.' || s.back() == ' ')) {
            s.pop_back();
        }
        std::size_t lead = 0;
        while (lead < s.size() && s[lead] == ' ') {
            ++lead;
        }
        s.erase(0, lead);
    };
    // Cuts to kMaxName bytes as the file system stores the name (UTF-8, where
    // a letter above 127 takes two or three), keeping a short extension: well
    // under the usual limit of 255, so that "_1" and the like still fit.
    auto cut = [&](std::string& s) {
        if (cp1252::toUtf8(s).size() <= kMaxName) {
            return;
        }
        const auto dot = s.find_last_of('.');
        const std::string ext = (dot != std::string::npos && s.size() - dot <= 16) ? s.substr(dot) : "";
        const std::size_t extBytes = cp1252::toUtf8(ext).size();
        std::string stem = s.substr(0, s.size() - ext.size());
        while (!stem.empty() && cp1252::toUtf8(stem).size() + extBytes > kMaxName) {
            stem.pop_back();
        }
        s = stem + ext;
        trimEnds(s);
    };
    trimEnds(out);
    cut(out);
    if (out.find_first_not_of('.') == std::string::npos) {
        return std::string(); // "", ".", "..", "..."
    }
    if (isDeviceName(out)) {
        out.insert(0, "_");
        cut(out);
    }
    return out;
}

std::filesystem::path pathInFolder(const std::filesystem::path& folder, const std::string& name)
{
    return folder / std::filesystem::u8path(cp1252::toUtf8(name));
}

std::string freeAttachmentName(const std::filesystem::path& folder, const std::string& name)
{
    return FreeNames().find(folder, name);
}

std::string FreeNames::find(const std::filesystem::path& folder, const std::string& name)
{
    if (!existsAtAll(pathInFolder(folder, name))) {
        return name;
    }
    const auto dot = name.find_last_of('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const std::string stem = hasExt ? name.substr(0, dot) : name;
    const std::string ext = hasExt ? name.substr(dot) : std::string();
    auto numbered = [&](unsigned long long n) { return stem + "_" + std::to_string(n) + ext; };
    auto taken = [&](unsigned long long n) { return existsAtAll(pathInFolder(folder, numbered(n))); };

    const std::string key = folder.u8string() + '\0' + name;
    auto slot = std::find_if(last_.begin(), last_.end(), [&](const auto& e) { return e.first == key; });
    if (slot == last_.end()) {
        last_.emplace_back(key, 0u);
        slot = last_.end() - 1;
    }
    // `low` is taken (or 0), `high` free: doubling steps from the last number
    // handed out, then halving between the two.
    unsigned long long low = slot->second;
    unsigned long long step = 1;
    unsigned long long high = low + step;
    while (taken(high)) {
        low = high;
        step *= 2;
        high = low + step;
    }
    while (high - low > 1) {
        const unsigned long long mid = low + (high - low) / 2;
        if (taken(mid)) {
            low = mid;
        } else {
            high = mid;
        }
    }
    slot->second = static_cast<unsigned>(high);
    return numbered(high);
}

void parseSummary(const std::vector<std::string>& header, TSummary& summary)
{
    const HeaderFields fields = scanHeader(header, 0, header.size());
    summary.Subject = fields.subject;
    summary.From = fields.from;
    summary.MessageId = fields.messageId;
    summary.Header = header;
}

void parseMessage(const std::vector<std::string>& header, const std::vector<std::string>& body,
                  const ParseOptions& options, TMailMessage& message)
{
    message.Clear();
    const HeaderFields fields = scanHeader(header, 0, header.size());
    message.Header = header;
    message.RawBody = body;
    message.Subject = fields.subject;
    message.From = fields.from;
    message.ReplyAddress = mailboxAddress(fields.fromRaw);
    message.ContentType = fields.contentType;
    message.MessageId = fields.messageId;
    message.Boundary = fields.boundary;

    FreeNames localNames;
    PartContext ctx{options, message, options.names != nullptr ? *options.names : localNames};
    if (isMultipart(fields)) {
        walkMultipart(ctx, body, 0, body.size(), fields, true, false, 0);
    } else if (options.parse) {
        if (!isInlineText(fields) && !isInlineHtml(fields)) {
            handlePart(ctx, fields, body, 0, body.size(), false);
        } else {
            takeText(ctx, fields, body, 0, body.size(), false, isInlineHtml(fields));
        }
    } else if (isInlineText(fields) || isInlineHtml(fields)) {
        // A text is always shown as its sender wrote it: transfer encoding
        // undone and converted to the memo's code page.
        takeText(ctx, fields, body, 0, body.size(), false, isInlineHtml(fields));
    } else {
        message.Body = body;
    }
}

} // namespace mail
} // namespace tq
