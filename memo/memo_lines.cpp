#include "memo/memo_lines.h"

namespace tq {

std::string normalizeBreaks(std::string_view text)
{
    std::string out;
    appendNormalized(out, text, 0);
    return out;
}

void appendNormalized(std::string& out, std::string_view bytes, std::size_t slack)
{
    // Count lone breaks first so that the result is allocated once. Breaks
    // are rare (cipher text has none), so search for them with find().
    std::size_t extra = 0;
    for (std::size_t i = bytes.find('\r'); i != std::string_view::npos; i = bytes.find('\r', i + 1)) {
        if (i + 1 == bytes.size() || bytes[i + 1] != '\n') {
            ++extra;
        }
    }
    for (std::size_t i = bytes.find('\n'); i != std::string_view::npos; i = bytes.find('\n', i + 1)) {
        if (i == 0 || bytes[i - 1] != '\r') {
            ++extra;
        }
    }
    out.reserve(out.size() + bytes.size() + extra + slack);
    if (extra == 0) {
        out.append(bytes);
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
}

std::vector<std::string> memoLines(std::string_view text)
{
    // Rows between breaks; a break is CR LF, a lone CR or a lone LF.
    std::vector<std::string> rows;
    std::size_t start = 0;
    for (;;) {
        std::size_t i = start;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') {
            ++i;
        }
        rows.emplace_back(text.substr(start, i - start));
        if (i == text.size()) {
            break;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        }
        start = i + 1;
    }
    rows.resize(static_cast<std::size_t>(memoLineCount(static_cast<int>(rows.size()), rows.back().empty())));
    return rows;
}

} // namespace tq
