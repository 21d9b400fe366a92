// The memo's text model: 8-bit text with CR LF line breaks, the caret and
// selection, and a one-step undo like a Windows edit control.
//
// Plain C++ (no Qt) so that it can be tested on its own. All offsets are byte
// offsets into text(), in which every line break is the pair CR LF. The text
// never holds a lone CR or a lone LF, and no caret, selection end or edit
// boundary ever lies between the CR and the LF of a break.
#pragma once

#include "memo/memo_lines.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tq {

// One change of the text: `removed` bytes at `pos` were replaced by `inserted`
// bytes. A layout that knew the old text follows the change with it.
struct MemoEdit {
    int pos = 0;
    int removed = 0;
    int inserted = 0;
};

class MemoDocument {
public:
    // How an edit came about; typing, Backspace and Delete presses that follow
    // each other merge into one undo step.
    enum class EditKind { Other, Typing, Backspace, Delete };

    const std::string& text() const { return text_; }
    int length() const { return static_cast<int>(text_.size()); }

    // Replaces the whole text (line breaks normalised); caret and anchor go to
    // 0 and the undo step is forgotten. setText() and replace() throw
    // std::runtime_error, changing nothing, when the text would pass 2 GB.
    void setText(std::string_view bytes);

    // --- Lines ----------------------------------------------------------------
    // "Rows" of the text split at every CR LF: always at least one (the text ""
    // is one empty row; "a\r\n" is "a" and ""). The caret's line is one of them.
    int breakLineCount() const { return static_cast<int>(lineStarts_.size()); }
    // The memo's line count (memo_lines.h): breakLineCount(), less the empty
    // remainder after a final break or of an empty text.
    int lineCount() const;
    // Start offset of line i, 0 <= i < breakLineCount().
    int lineStart(int i) const { return lineStarts_[static_cast<std::size_t>(i)]; }
    // Offset of the CR ending line i, or the text end for the last line.
    int lineEnd(int i) const;
    // The line holding offset `off` (0..length()).
    int lineOfOffset(int off) const;
    std::string line(int i) const;
    int lineLength(int i) const;
    std::vector<std::string> lines() const;

    // --- Caret and selection -----------------------------------------------------
    int caret() const { return caret_; }
    int anchor() const { return anchor_; }
    int selStart() const { return caret_ < anchor_ ? caret_ : anchor_; }
    int selEnd() const { return caret_ < anchor_ ? anchor_ : caret_; }
    bool hasSelection() const { return caret_ != anchor_; }
    std::string selectedText() const;
    // Sets anchor and caret (each clamped and snapped). Ends typing merges.
    void setSelection(int anchor, int caret);
    // Clamps to 0..length() and moves an offset between CR and LF to the CR.
    int snap(int off) const;

    // Caret steps: one character, a line break being one step.
    int nextPos(int off) const;
    int prevPos(int off) const;
    // Word steps as a Windows edit control does them: to the start of the next
    // word, or the start of this or the previous word.
    int nextWord(int off) const;
    int prevWord(int off) const;
    // The word (or run of blanks, or single other character) at `off`, as a
    // [begin, end) pair for a double click.
    std::pair<int, int> wordAt(int off) const;

    // --- Editing -------------------------------------------------------------------
    // Replaces [pos, pos+len) with `bytes` (line breaks normalised here), records
    // the undo step and puts the caret after the inserted text.
    MemoEdit replace(int pos, int len, std::string_view bytes, EditKind kind = EditKind::Other);
    // Replaces the selection (or inserts at the caret).
    MemoEdit replaceSelection(std::string_view bytes, EditKind kind = EditKind::Other);

    bool canUndo() const { return undo_.valid; }
    // Reverts the last edit; the reverted edit becomes the undo step, so a
    // second undo() re-does it. The text put back is selected.
    MemoEdit undo();
    void forgetUndo();

    // Overwrites the text, its spare capacity and the undo step with zeros and
    // empties the document (caret and anchor at 0), so that no copy of the old
    // text stays behind in memory the document owns. Not undoable.
    void wipe();

private:
    struct UndoStep {
        bool valid = false;
        int pos = 0;
        std::string removed;
        int insertedLength = 0;
        EditKind kind = EditKind::Other;
    };

    // Changes text and line index; no undo bookkeeping.
    MemoEdit apply(int pos, int len, const std::string& normalized);

    std::string text_;
    std::vector<int> lineStarts_{0};
    int caret_ = 0;
    int anchor_ = 0;
    UndoStep undo_;
    bool mergeOpen_ = false;
};

} // namespace tq
