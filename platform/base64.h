// Base64 (the standard alphabet with "=" padding) shared by the mail attachment
// coder and the ASCII armour of sealed files. Each caller decides its own line
// length and how forgiving its decoding is; this holds only the alphabet, the
// character values and the encoding of whole groups.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace tq::base64 {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace detail {
constexpr std::array<signed char, 256> makeValues()
{
    std::array<signed char, 256> values{};
    for (auto& v : values) {
        v = -1;
    }
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    }
    return values;
}
inline constexpr std::array<signed char, 256> kValues = makeValues();
} // namespace detail

// The value (0-63) of a base64 character, -1 for every other byte ("=" included).
constexpr int value(char c)
{
    return detail::kValues[static_cast<unsigned char>(c)];
}

// Appends the base64 of the `n` bytes at `data` to `out`: four characters per
// three bytes, the last group padded with "=".
inline void append(std::string& out, const unsigned char* data, std::size_t n)
{
    for (std::size_t i = 0; i < n; i += 3) {
        const std::size_t rest = n - i;
        const unsigned group = (static_cast<unsigned>(data[i]) << 16) | (rest > 1 ? data[i + 1] << 8 : 0) |
                               (rest > 2 ? data[i + 2] : 0);
        out += kAlphabet[group >> 18 & 63];
        out += kAlphabet[group >> 12 & 63];
        out += rest > 1 ? kAlphabet[group >> 6 & 63] : '=';
        out += rest > 2 ? kAlphabet[group & 63] : '=';
    }
}

} // namespace tq::base64
