// The memo's word search.
//
// Lines are searched from the caret's line downwards, never wrapping to the top.
// Letters are compared with ASCII case folding only (a-z against A-Z; other codes
// must match exactly). The offset of a match counts each line break as two
// characters, so the match in line i at 1-based position p starts at
// (sum of the lengths of lines 0..i-1) + 2*i + p - 1.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tq {

struct SearchHit {
    int line = 0;              // index of the line holding the match
    int column = 0;            // 0-based position of the match in that line
    std::int64_t offset = 0;   // start of the match in the whole text
};

// Upper-cases ASCII letters a-z only.
std::string upperAscii(std::string_view text);

// Position of `word` in `line` with ASCII case folding, or npos. An empty word
// matches nothing.
std::size_t findFolded(std::string_view line, std::string_view word);

// Searches lines startLine..lineCount-1 for `word`. `lineAt(i)` gives line i
// without its line break and `lengthAt(i)` its length; `perLine` (may be empty)
// runs before each line is searched, so the window can process pending events
// during a long search.
std::optional<SearchHit> searchLines(int lineCount, int startLine, std::string_view word,
                                     const std::function<std::string(int)>& lineAt,
                                     const std::function<std::int64_t(int)>& lengthAt,
                                     const std::function<void()>& perLine = {});

} // namespace tq
