#include "crypto/armor.h"

#include "platform/base64.h"

#include <algorithm>
#include <cstdint>

namespace tq::armor {
namespace {

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

// One line of the text: where it starts, where its content ends (before a CR
// of its CR LF) and where the next line starts.
struct Line {
    std::size_t start = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

Line lineAt(std::string_view text, std::size_t start)
{
    Line line;
    line.start = start;
    const std::size_t lf = text.find('\n', start);
    line.next = lf == std::string_view::npos ? text.size() : lf + 1;
    line.end = lf == std::string_view::npos ? text.size() : lf;
    if (line.end > start && text[line.end - 1] == '\r') {
        --line.end;
    }
    return line;
}

// A line's content without its quote marks and blanks in front and its blanks
// behind.
std::string_view contentOf(std::string_view text, const Line& line)
{
    std::size_t from = line.start;
    std::size_t to = line.end;
    while (from < to && (text[from] == '>' || blank(text[from]))) {
        ++from;
    }
    while (to > from && blank(text[to - 1])) {
        --to;
    }
    return text.substr(from, to - from);
}

[[noreturn]] void damaged(const std::string& why)
{
    throw ArmorError("The sealed text is damaged: " + why);
}

std::string lineName(std::size_t number)
{
    return "line " + std::to_string(number) + " of the block";
}

// The bytes of `chars`, strict base64: whole groups of four, "=" only as the
// padding of the last group, unused bits zero.
std::string decode(std::string_view chars)
{
    if (chars.size() % 4 != 0) {
        damaged("its characters do not make whole groups of four (one is missing or extra).");
    }
    std::string out;
    out.reserve(chars.size() / 4 * 3);
    for (std::size_t i = 0; i < chars.size(); i += 4) {
        const bool last = i + 4 == chars.size();
        int padding = 0;
        if (last && chars[i + 3] == '=') {
            padding = chars[i + 2] == '=' ? 2 : 1;
        }
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = chars[i + k];
            int value = base64::value(c);
            if (k >= 4 - static_cast<std::size_t>(padding)) {
                value = 0; // a padding character (checked above)
            } else if (value < 0) {
                damaged(c == '=' ? "\"=\" stands before its end." : "it holds a character base64 does not use.");
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        const char bytes[3] = {static_cast<char>(group >> 16), static_cast<char>(group >> 8 & 0xFF),
                               static_cast<char>(group & 0xFF)};
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            damaged("its last character was changed.");
        }
        out.append(bytes, 3 - static_cast<std::size_t>(padding));
    }
    return out;
}

} // namespace

std::string Armor(std::string_view bytes, std::string_view lineBreak)
{
    std::string out;
    const std::size_t groups = (bytes.size() + 2) / 3;
    const std::size_t lines = (bytes.size() + kBytesPerLine - 1) / kBytesPerLine;
    out.reserve(kBeginLine.size() + kEndLine.size() + groups * 4 + (lines + 2) * lineBreak.size());
    out += kBeginLine;
    out += lineBreak;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < bytes.size(); i += kBytesPerLine) {
        base64::append(out, data + i, std::min(kBytesPerLine, bytes.size() - i));
        out += lineBreak;
    }
    out += kEndLine;
    out += lineBreak;
    return out;
}

bool ContainsArmor(std::string_view text)
{
    for (std::size_t at = text.find(kBeginLine); at != std::string_view::npos;
         at = text.find(kBeginLine, at + 1)) {
        std::size_t start = text.rfind('\n', at);
        start = start == std::string_view::npos ? 0 : start + 1;
        if (contentOf(text, lineAt(text, start)) == kBeginLine) {
            return true;
        }
    }
    return false;
}

std::optional<Found> Find(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const Line line = lineAt(text, at);
        at = line.next;
        if (contentOf(text, line) != kBeginLine) {
            continue;
        }
        Found found;
        found.begin = line.start;
        std::string chars;
        std::size_t number = 1;
        while (at < text.size()) {
            const Line inner = lineAt(text, at);
            at = inner.next;
            ++number;
            const std::string_view content = contentOf(text, inner);
            if (content == kEndLine) {
                found.end = inner.end;
                found.bytes = decode(chars);
                return found;
            }
            if (content.empty()) {
                damaged(lineName(number) + " is empty.");
            }
            if (content.size() > kLineLength) {
                damaged(lineName(number) + " is longer than " + std::to_string(kLineLength) + " characters.");
            }
            for (const char c : content) {
                if (base64::value(c) < 0 && c != '=') {
                    damaged(lineName(number) + " holds a character base64 does not use.");
                }
            }
            chars += content;
        }
        throw ArmorError("The sealed text has no end line (\"" + std::string(kEndLine) +
                         "\"): it was cut short, or not copied whole.");
    }
    return std::nullopt;
}

} // namespace tq::armor
