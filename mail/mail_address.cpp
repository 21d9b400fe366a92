#include "mail/mail_address.h"

#include <cstddef>

namespace tq::mail {
namespace {

// Skips a quoted string starting at value[i] == '"'; returns the index after it.
std::size_t skipQuoted(std::string_view value, std::size_t i, std::string* into)
{
    if (into != nullptr) {
        *into += '"';
    }
    for (++i; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size()) {
            if (into != nullptr) {
                *into += c;
                *into += value[i + 1];
            }
            ++i;
            continue;
        }
        if (into != nullptr) {
            *into += c;
        }
        if (c == '"') {
            return i + 1;
        }
    }
    return i;
}

// Skips a comment (nested, with quoted pairs) starting at value[i] == '('.
std::size_t skipComment(std::string_view value, std::size_t i)
{
    int depth = 0;
    for (; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\') {
            ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return i + 1;
        }
    }
    return i;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The bare address (name@domain) without comments and folding blanks; a
// quoted name before the "@" keeps its quotes. Empty when it is not usable as an address.
std::string cleanAddress(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '(') {
            i = skipComment(text, i);
        } else if (c == '"') {
            i = skipQuoted(text, i, &out);
        } else if (isBlank(c)) {
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    // An obsolete route in front: "@relay1,@relay2:user@host".
    if (!out.empty() && out[0] == '@') {
        const auto colon = out.find(':');
        out = colon == std::string::npos ? std::string() : out.substr(colon + 1);
    }
    for (const char c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127 || c == '<' || c == '>' || c == ',' || c == ';') {
            return std::string();
        }
    }
    // A phrase is no address: an encoded word left alone, or words that were
    // separated by blanks ("Jan de Vries").
    if (out.find("=?") != std::string::npos && out.find("?=") != std::string::npos) {
        return std::string();
    }
    return out;
}

} // namespace

std::string mailboxAddress(std::string_view value)
{
    // Walks the first mailbox: up to a "," outside quotes, comments and
    // brackets; a ":" there opens a group whose first member is taken.
    std::size_t start = 0;
    bool sawBlankWord = false; // words separated by blanks: a display name
    bool inWord = false;
    bool wordEnded = false;
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '"') {
            i = skipQuoted(value, i, nullptr);
            sawBlankWord = sawBlankWord || wordEnded;
            inWord = true;
            continue;
        }
        if (c == '(') {
            i = skipComment(value, i);
            if (inWord) {
                wordEnded = true;
                inWord = false;
            }
            continue;
        }
        if (c == '<') {
            const std::size_t open = i + 1;
            std::size_t j = open;
            while (j < value.size() && value[j] != '>') {
                if (value[j] == '"') {
                    j = skipQuoted(value, j, nullptr);
                } else if (value[j] == '(') {
                    j = skipComment(value, j);
                } else {
                    ++j;
                }
            }
            if (j >= value.size()) {
                return std::string(); // unclosed bracket
            }
            return cleanAddress(value.substr(open, j - open));
        }
        if (c == ':') {
            // A group: its members follow.
            start = i + 1;
            sawBlankWord = false;
            inWord = false;
            wordEnded = false;
            ++i;
            continue;
        }
        if (c == ',' || c == ';') {
            if (start == i || value.substr(start, i - start).find_first_not_of(" \t\r\n") ==
                                  std::string_view::npos) {
                // An empty member ("Group:;" or ",,"): look at the next one.
                start = i + 1;
                ++i;
                continue;
            }
            break;
        }
        if (isBlank(c)) {
            if (inWord) {
                wordEnded = true;
                inWord = false;
            }
        } else {
            sawBlankWord = sawBlankWord || wordEnded;
            inWord = true;
            wordEnded = false;
        }
        ++i;
    }
    std::size_t end = start;
    // The bare address of the mailbox: from `start` to its end.
    for (std::size_t i = start; i < value.size();) {
        const char c = value[i];
        if (c == '"') {
            i = skipQuoted(value, i, nullptr);
        } else if (c == '(') {
            i = skipComment(value, i);
        } else if (c == ',' || c == ';') {
            break;
        } else {
            ++i;
        }
        end = i;
    }
    if (sawBlankWord) {
        return std::string();
    }
    return cleanAddress(value.substr(start, end - start));
}

} // namespace tq::mail
