// Row layout of the memo: where each logical line is soft-wrapped into rows.
//
// Plain C++ (no Qt). Every byte shows as one glyph whose advance comes from a
// 256-entry table; a tab advances to the next multiple of the tab width, counted
// from the row's start. A row ends at a line break or at the first character
// that no longer fits the width; it then breaks after the last blank (space or
// tab) in the row, or, when the row holds none, before that character (cipher
// text has no blanks). A space that does not fit hangs at the end of its row.
// Every row holds at least one character.
//
// The layout is a sorted list of row start offsets. After an edit it re-wraps
// only the rows that the edit can reach: the first row that read the changed
// offset, forward until a new row start meets an old one, after which all rows
// are the old rows shifted. A keystroke in a 16 MB line therefore costs a few
// rows plus a shift of the row list, not a re-wrap of the line.
#pragma once

#include "memo/memo_document.h"

#include <array>
#include <string_view>
#include <vector>

namespace tq {

class MemoLayout {
public:
    using Advances = std::array<double, 256>;

    // Sets the glyph advances, the tab width and the row width; the layout
    // becomes invalid when anything changed.
    void setMetrics(const Advances& advances, double tabWidth, double width);
    double width() const { return width_; }

    bool valid() const { return valid_; }
    void invalidate() { valid_ = false; }

    // Lays out the whole text.
    void layoutAll(std::string_view text);
    // Follows one edit: `text` is the text after the edit. Does nothing while
    // the layout is invalid.
    void update(std::string_view text, const MemoEdit& edit);

    int rowCount() const { return static_cast<int>(starts_.size()); }
    int rowStart(int row) const { return starts_[static_cast<std::size_t>(row)]; }
    // End of row's characters: the start of the next row, less its line break.
    int rowEnd(std::string_view text, int row) const;
    // The row holding offset `off` (a row start belongs to the row it starts).
    int rowOfOffset(int off) const;
    const std::vector<int>& starts() const { return starts_; }

    struct RowScan {
        int next;  // start of the following row, or -1 when this row ends the text
        int reach; // one past the last offset read (text length + 1 at the text end)
    };
    // Wraps one row starting at `start`.
    RowScan scanRow(std::string_view text, int start) const;

private:
    Advances advances_{};
    double tabWidth_ = 8.0;
    double width_ = 0.0;
    bool valid_ = false;
    std::vector<int> starts_{0};
};

} // namespace tq
