#include "mail/mail_charset.h"

#include "mail/attach_coder.h"
#include "platform/codepage.h"

#include <cctype>

namespace tq::mail {
namespace {

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

enum class Set { Unknown, Utf8, Ascii, Latin1, Latin9, Windows1252 };

Set setOf(std::string_view charset)
{
    const std::string up = upperAscii(charset);
    if (up == "UTF-8" || up == "UTF8") {
        return Set::Utf8;
    }
    if (up == "US-ASCII" || up == "ASCII" || up == "ANSI_X3.4-1968") {
        return Set::Ascii;
    }
    if (up == "ISO-8859-1" || up == "ISO8859-1" || up == "LATIN1" || up == "ISO_8859-1") {
        return Set::Latin1;
    }
    if (up == "ISO-8859-15" || up == "ISO8859-15" || up == "LATIN-9" || up == "ISO_8859-15") {
        return Set::Latin9;
    }
    if (up == "WINDOWS-1252" || up == "CP1252") {
        return Set::Windows1252;
    }
    return Set::Unknown;
}

// The eight places where ISO-8859-15 differs from ISO-8859-1.
char32_t latin9ToUnicode(unsigned char c)
{
    switch (c) {
    case 0xA4: return 0x20AC;
    case 0xA6: return 0x0160;
    case 0xA8: return 0x0161;
    case 0xB4: return 0x017D;
    case 0xB8: return 0x017E;
    case 0xBC: return 0x0152;
    case 0xBD: return 0x0153;
    case 0xBE: return 0x0178;
    default: return c;
    }
}

std::string fromUnicodeBytes(std::string_view bytes, bool latin9)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const int code = cp1252::fromUnicode(latin9 ? latin9ToUnicode(c) : char32_t(c));
        out += code < 0 ? '?' : static_cast<char>(code);
    }
    return out;
}

// Q encoding of RFC 2047: "_" is a blank, "=XX" a byte.
std::string decodeQ(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (text[i] == '=' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// One encoded word "=?charset?X?text?=" at the start of `s`: its length and its
// decoded text, or 0 when `s` does not start with a well-formed word.
std::size_t encodedWord(std::string_view s, std::string& decoded)
{
    if (s.size() < 8 || s.compare(0, 2, "=?") != 0) {
        return 0;
    }
    const std::size_t q1 = s.find('?', 2);
    if (q1 == std::string_view::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') {
        return 0;
    }
    const char mode = static_cast<char>(std::toupper(static_cast<unsigned char>(s[q1 + 1])));
    const std::size_t end = s.find("?=", q1 + 3);
    if (end == std::string_view::npos || (mode != 'Q' && mode != 'B')) {
        return 0;
    }
    std::string_view charset = s.substr(2, q1 - 2);
    // RFC 2231 adds a language after "*": "utf-8*en".
    charset = charset.substr(0, charset.find('*'));
    const std::string_view text = s.substr(q1 + 3, end - q1 - 3);
    if (text.find_first_of(" \t") != std::string_view::npos) {
        return 0;
    }
    const std::string bytes =
        mode == 'Q' ? decodeQ(text) : TAttachCoder::decodeText(std::string(text) + "\r\n", TAttachCoder::MethodBase64);
    decoded = toCodePage(bytes, charset);
    return end + 2;
}

} // namespace

int hexDigit(char c)
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

std::string charsetOf(std::string_view contentType)
{
    const std::string up = upperAscii(contentType);
    std::size_t pos = 0;
    while ((pos = up.find("CHARSET", pos)) != std::string::npos) {
        std::size_t i = pos + 7;
        const bool wordStart = pos == 0 || up[pos - 1] == ';' || up[pos - 1] == ' ' || up[pos - 1] == '\t';
        while (i < up.size() && (up[i] == ' ' || up[i] == '\t')) {
            ++i;
        }
        if (!wordStart || i >= up.size() || up[i] != '=') {
            pos += 7;
            continue;
        }
        ++i;
        while (i < up.size() && (up[i] == ' ' || up[i] == '\t')) {
            ++i;
        }
        std::string_view rest = contentType.substr(i);
        if (!rest.empty() && rest[0] == '"') {
            rest.remove_prefix(1);
            return std::string(rest.substr(0, rest.find('"')));
        }
        return std::string(rest.substr(0, rest.find_first_of("; \t")));
    }
    return std::string();
}

bool isKnownCharset(std::string_view charset)
{
    return setOf(charset) != Set::Unknown;
}

std::string toCodePage(std::string_view bytes, std::string_view charset)
{
    switch (setOf(charset)) {
    case Set::Utf8:
        return cp1252::fromUtf8Lossy(bytes);
    case Set::Latin1:
        return fromUnicodeBytes(bytes, false);
    case Set::Latin9:
        return fromUnicodeBytes(bytes, true);
    case Set::Ascii:
    case Set::Windows1252:
    case Set::Unknown:
        break;
    }
    return std::string(bytes);
}

std::string decodeHeaderValue(std::string_view value)
{
    if (value.find("=?") == std::string_view::npos) {
        return std::string(value);
    }
    std::string out;
    std::string pendingBlanks;
    bool lastWasEncoded = false;
    std::size_t i = 0;
    while (i < value.size()) {
        std::string decoded;
        const std::size_t length = encodedWord(value.substr(i), decoded);
        if (length > 0) {
            // Blanks between two encoded words are not part of the text.
            if (!lastWasEncoded) {
                out += pendingBlanks;
            }
            pendingBlanks.clear();
            out += decoded;
            lastWasEncoded = true;
            i += length;
            continue;
        }
        const char c = value[i];
        if (c == ' ' || c == '\t') {
            pendingBlanks += c;
        } else {
            out += pendingBlanks;
            pendingBlanks.clear();
            out += c;
            lastWasEncoded = false;
        }
        ++i;
    }
    out += pendingBlanks;
    return out;
}

} // namespace tq::mail
