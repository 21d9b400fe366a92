#include "memo/search.h"

#include <algorithm>

namespace tq {

std::string upperAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::size_t findFolded(std::string_view line, std::string_view word)
{
    if (word.empty()) {
        return std::string_view::npos;
    }
    return upperAscii(line).find(upperAscii(word));
}

std::optional<SearchHit> searchLines(int lineCount, int startLine, std::string_view word,
                                     const std::function<std::string(int)>& lineAt,
                                     const std::function<std::int64_t(int)>& lengthAt,
                                     const std::function<void()>& perLine)
{
    if (word.empty()) {
        return std::nullopt;
    }
    const std::string folded = upperAscii(word);
    const int first = std::max(startLine, 0);
    // Offsets of the lines before `first` are added up only when a match is found.
    for (int i = first; i < lineCount; ++i) {
        if (perLine) {
            perLine();
        }
        const std::size_t pos = upperAscii(lineAt(i)).find(folded);
        if (pos == std::string::npos) {
            continue;
        }
        std::int64_t offset = 0;
        for (int k = 0; k < i; ++k) {
            offset += lengthAt(k);
        }
        SearchHit hit;
        hit.line = i;
        hit.column = static_cast<int>(pos);
        hit.offset = offset + 2 * static_cast<std::int64_t>(i) + static_cast<std::int64_t>(pos);
        return hit;
    }
    return std::nullopt;
}

} // namespace tq
