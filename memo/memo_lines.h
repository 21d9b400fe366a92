// The memo's line rules, shared by the memo document, the .crp file steps, key
// files and the command-line tool.
//
// A memo text's line breaks are CR LF; a lone CR or a lone LF read from outside
// counts as a break too. The memo's lines are the rows between breaks, less the
// empty remainder after a final break (or of an empty text): "" has no line,
// "a" and "a\r\n" have one, "a\r\n\r\n" has two.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tq {

// Every line break made CR LF: CR LF stays, a lone CR and a lone LF each become
// CR LF. Every other byte is kept.
std::string normalizeBreaks(std::string_view text);
// Appends normalizeBreaks(text) to `out`, reserving `slack` bytes of room beyond it.
void appendNormalized(std::string& out, std::string_view text, std::size_t slack = 0);

// The line count of a text split at its breaks into `rows` rows (at least one),
// the last of which is empty or not.
constexpr int memoLineCount(int rows, bool lastRowEmpty)
{
    return lastRowEmpty ? rows - 1 : rows;
}

// The memo's lines of a text.
std::vector<std::string> memoLines(std::string_view text);

} // namespace tq
