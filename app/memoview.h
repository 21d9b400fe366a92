// The memo: the main window's 8-bit text area.
//
// MemoView is a purpose-built scrolling text view over a byte string. It holds
// the text as logical lines separated by CR LF, one byte a character
// (Windows-1252), and lays out only what it shows: logical lines are soft-wrapped
// at the view width into rows, and only the visible rows are shaped and painted.
// That keeps a 16 MB single line (cipher text) as fast as a short memo: showing
// it costs one linear pass, a keystroke re-wraps only the rows around the edit,
// and the blinking caret repaints one row.
//
// Offsets. Every offset and length in this interface counts bytes of text() in
// which each line break is the two characters CR LF, as a Windows edit control
// counts. A caret or selection end never lies between the CR and the LF of a
// break; offsets given there are moved to the start of the break.
//
// Lines. lineCount() follows the rule of a Windows memo's line list: an empty
// memo has 0 lines, "abc" has 1, "abc\r\n" has 1 and "abc\r\n\r\n" has 2 (a final
// line break does not start another line). The caret can stand on the empty line
// after a final break, so caretLine() can be equal to lineCount().
//
// 8-bit display. Printable codes show as their Windows-1252 characters; tab is a
// tab; the control codes 0x00-0x1F, 0x7F and the five codes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) show as a small box holding their
// hexadecimal code, whatever the font; the soft hyphen 0xAD shows as a hyphen.
// This is display only: the stored text keeps the bytes, so all 256 codes (0 and
// 160 included) come back unchanged from text(), line() and selectedText().
//
// Clipboard and typing. The clipboard carries Unicode text (line breaks as LF;
// Qt adds the CR on Windows) plus the exact bytes under a private type, so copy
// and paste inside the program are lossless. Pasted or typed characters are
// mapped through Windows-1252; a character it cannot hold becomes "?". Lone CR
// and lone LF become CR LF.
//
// Undo. One step, like a Windows edit control: undo() reverts the last edit and
// a second undo() re-does it. Consecutive typed characters (and consecutive
// Backspace or Delete presses) form one edit. setText() is not undoable and
// forgets the undo step; clear() is undoable (so an emptied memo can be brought
// back once), and clearing an empty memo changes nothing.
//
// Keys. The usual editing and caret keys (arrows, Ctrl+arrows for words, Home,
// End, Page Up/Down, Ctrl+Home/End, Shift to select, Backspace, Delete, Enter,
// Ctrl+Z/X/C/V/A, Shift+Del, Ctrl+Ins, Shift+Ins) are handled by the view even
// when a window shortcut uses the same key. Tab moves the focus, as in a dialog;
// Ctrl+Tab types a tab. Other keys (F3, Esc, ...) go on to the parent widget.
//
// Context menu. The view shows none of its own; give it one with
// setContextMenuPolicy(Qt::CustomContextMenu) and customContextMenuRequested()
// (positions are in viewport() coordinates).
#pragma once

#include <QAbstractScrollArea>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QMimeData;

namespace tq {

class MemoView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit MemoView(QWidget* parent = nullptr);
    ~MemoView() override;

    // --- Text -------------------------------------------------------------

    // The whole text as bytes, lines joined by CR LF.
    std::string text() const;
    // Replaces the whole text. CR LF, lone CR and lone LF each end a line. The
    // caret goes to offset 0, the view to the top; the undo step is forgotten.
    // Throws std::runtime_error (memo unchanged) for a text above 2 GB; so do
    // the other calls that would make the text that long.
    void setText(std::string_view bytes);
    // Empties the memo (undoable once, see above).
    void clear();
    // Empties the memo and overwrites with zeros every copy of the text the
    // view holds: the document's text and spare capacity, the undo step and the
    // row layout. Not undoable. Copies Qt made while painting or typing are
    // freed memory, not the view's (see platform/freed_memory.h).
    void wipe();
    // Length of text() in bytes (line breaks count 2).
    int textLength() const;

    // Logical lines (see "Lines" above). line(i) and lineLength(i) hold no line
    // break; an index outside 0..lineCount()-1 gives "" and 0.
    int lineCount() const;
    std::string line(int i) const;
    int lineLength(int i) const;
    std::vector<std::string> lines() const;
    // Offset of the first character of line i (0 <= i <= lineCount(); for
    // i == lineCount() the offset just after the final break or the text end).
    int lineStart(int i) const;
    // Adds a line at the end, as a memo's Lines.Add does: a line break is put
    // before it unless the memo is empty or already ends with a break, and
    // after it. Line breaks inside `bytes` are normalised as in setText().
    // Not undoable.
    void appendLine(std::string_view bytes);

    // --- Caret and selection ------------------------------------------------

    // Caret position, both 0-based: the line holding the caret and the caret's
    // offset from the start of that line.
    int caretLine() const;
    int caretColumn() const;
    // Caret offset in the whole text.
    int caretOffset() const;

    int selStart() const;
    int selLength() const;
    // Selects `length` characters from `start` (clamped to the text), with the
    // caret at the end, and scrolls the caret into view. A length of 0 places
    // the caret. A negative length selects backwards (caret at the start).
    void setSelection(int start, int length);
    bool hasSelection() const;
    std::string selectedText() const;
    // Scrolls so that the caret's row is visible.
    void ensureCaretVisible();

    // --- Editing ------------------------------------------------------------

    void cut();
    void copy();
    void paste();
    void deleteSelection();
    void selectAll();
    void undo();
    bool canUndo() const;
    // Replaces the selection (or inserts at the caret) with `bytes`; line breaks
    // are normalised. Undoable; the caret ends after the inserted text.
    void replaceSelection(std::string_view bytes);
    // True when the clipboard holds text of length above 0.
    static bool clipboardHasText();
    // Where copy() and cut() hand the clipboard data they made (the view's
    // Unicode text and the exact bytes); the default puts it on the clipboard.
    // The writer takes ownership of the data.
    using ClipboardWriter = std::function<void(QMimeData* data)>;
    void setClipboardWriter(ClipboardWriter writer);

    // Read-only: the caret, selection, copy and navigation still work; typing,
    // cut, paste, delete and undo do nothing.
    void setReadOnly(bool readOnly);
    bool isReadOnly() const;

    // Busy: shows the wait cursor over the text (the I-beam otherwise). The main
    // window also disables the view while busy; this is only the cursor.
    void setBusy(bool busy);

signals:
    // The text changed (by typing, editing commands, setText, clear, undo).
    void textChanged();
    // The caret or the selection moved.
    void caretMoved();
    // A key went down in the view; emitted before the key takes effect.
    // producesCharacter is true for keys that type: printable characters,
    // Enter and Backspace.
    void keyPressed(int key, bool producesCharacter);
    // Typing changed the text: a character, Enter or Backspace was applied.
    void characterTyped();
    // A mouse button went down in the text area.
    void mousePressed();
    // The view received the input focus.
    void focusReceived();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* e) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace tq
