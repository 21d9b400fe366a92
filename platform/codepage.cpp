#include "platform/codepage.h"

#include <array>

namespace tq::cp1252 {
namespace {

// Code points of 0x80..0x9F; the rest of the table is the identity.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one UTF-8 sequence at `i`; returns U+FFFD and advances by one byte on
// malformed input.
char32_t decodeUtf8(std::string_view s, std::size_t& i, bool& valid)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    valid = true;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t c = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        c = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        c = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        c = b0 & 0x07;
    } else {
        ++i;
        valid = false;
        return 0xFFFD;
    }
    if (i + static_cast<std::size_t>(len) > s.size()) {
        ++i;
        valid = false;
        return 0xFFFD;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            valid = false;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        valid = false;
        return 0xFFFD;
    }
    i += static_cast<std::size_t>(len);
    return c;
}

} // namespace

char32_t toUnicode(unsigned char code)
{
    if (code >= 0x80 && code <= 0x9F) {
        return kHigh[code - 0x80];
    }
    return code;
}

int fromUnicode(char32_t codePoint)
{
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<int>(codePoint);
    }
    for (int k = 0; k < 32; ++k) {
        if (kHigh[static_cast<std::size_t>(k)] == codePoint) {
            return 0x80 + k;
        }
    }
    return -1;
}

std::string toUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        appendUtf8(out, toUnicode(static_cast<unsigned char>(ch)));
    }
    return out;
}

bool fromUtf8(std::string_view utf8, std::string& out, char32_t* badChar)
{
    out.clear();
    out.reserve(utf8.size());
    bool ok = true;
    std::size_t i = 0;
    while (i < utf8.size()) {
        bool valid = true;
        const char32_t c = decodeUtf8(utf8, i, valid);
        const int code = valid ? fromUnicode(c) : -1;
        if (code < 0) {
            if (ok && badChar != nullptr) {
                *badChar = c;
            }
            ok = false;
            out.push_back('?');
        } else {
            out.push_back(static_cast<char>(code));
        }
    }
    return ok;
}

std::string fromUtf8Lossy(std::string_view utf8)
{
    std::string out;
    fromUtf8(utf8, out);
    return out;
}

unsigned char toUpper(unsigned char code)
{
    if (code >= 'a' && code <= 'z') {
        return static_cast<unsigned char>(code - 32);
    }
    switch (code) {
    case 0x9A: return 0x8A; // š
    case 0x9C: return 0x8C; // œ
    case 0x9E: return 0x8E; // ž
    case 0xFF: return 0x9F; // ÿ
    default: break;
    }
    // à..þ except ÷ (0xF7); ß (0xDF) has no single upper-case form.
    if (code >= 0xE0 && code <= 0xFE && code != 0xF7) {
        return static_cast<unsigned char>(code - 32);
    }
    return code;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (toUpper(static_cast<unsigned char>(a[i])) != toUpper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace tq::cp1252
