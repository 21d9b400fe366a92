#include "memo/memo_document.h"

#include "memo/memo_lines.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace tq {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBreakByte(char c)
{
    return c == '\r' || c == '\n';
}

// Offsets are ints: refuse texts that would not fit.
void checkSize(std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX) - 16) {
        throw std::runtime_error("The memo cannot hold more than 2 GB of text.");
    }
}

} // namespace

void MemoDocument::setText(std::string_view bytes)
{
    checkSize(bytes.size());
    // Room to type into: without it the first keystroke in a long text would
    // copy the whole text to a larger buffer.
    std::string normalized;
    appendNormalized(normalized, bytes, std::max<std::size_t>(4096, bytes.size() / 16));
    checkSize(normalized.size());
    text_ = std::move(normalized);
    lineStarts_.assign(1, 0);
    for (std::size_t pos = text_.find('\n'); pos != std::string::npos; pos = text_.find('\n', pos + 1)) {
        lineStarts_.push_back(static_cast<int>(pos + 1));
    }
    caret_ = 0;
    anchor_ = 0;
    forgetUndo();
}

int MemoDocument::lineCount() const
{
    return memoLineCount(breakLineCount(), lineStarts_.back() == length());
}

int MemoDocument::lineEnd(int i) const
{
    const auto next = static_cast<std::size_t>(i) + 1;
    return next < lineStarts_.size() ? lineStarts_[next] - 2 : length();
}

int MemoDocument::lineOfOffset(int off) const
{
    const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), off);
    return static_cast<int>(it - lineStarts_.begin()) - 1;
}

std::string MemoDocument::line(int i) const
{
    if (i < 0 || i >= lineCount()) {
        return {};
    }
    const int s = lineStart(i);
    return text_.substr(static_cast<std::size_t>(s), static_cast<std::size_t>(lineEnd(i) - s));
}

int MemoDocument::lineLength(int i) const
{
    if (i < 0 || i >= lineCount()) {
        return 0;
    }
    return lineEnd(i) - lineStart(i);
}

std::vector<std::string> MemoDocument::lines() const
{
    std::vector<std::string> out;
    const int n = lineCount();
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        out.push_back(line(i));
    }
    return out;
}

std::string MemoDocument::selectedText() const
{
    return text_.substr(static_cast<std::size_t>(selStart()), static_cast<std::size_t>(selEnd() - selStart()));
}

int MemoDocument::snap(int off) const
{
    off = std::clamp(off, 0, length());
    if (off > 0 && off < length() && text_[static_cast<std::size_t>(off)] == '\n') {
        --off; // between CR and LF: to the start of the break
    }
    return off;
}

void MemoDocument::setSelection(int anchor, int caret)
{
    anchor_ = snap(anchor);
    caret_ = snap(caret);
    mergeOpen_ = false;
}

int MemoDocument::nextPos(int off) const
{
    off = snap(off);
    if (off >= length()) {
        return length();
    }
    return text_[static_cast<std::size_t>(off)] == '\r' ? off + 2 : off + 1;
}

int MemoDocument::prevPos(int off) const
{
    off = snap(off);
    if (off <= 0) {
        return 0;
    }
    return text_[static_cast<std::size_t>(off - 1)] == '\n' ? off - 2 : off - 1;
}

int MemoDocument::nextWord(int off) const
{
    off = snap(off);
    const int n = length();
    if (off >= n) {
        return n;
    }
    if (text_[static_cast<std::size_t>(off)] == '\r') {
        return off + 2;
    }
    while (off < n && !isBlank(text_[static_cast<std::size_t>(off)]) && !isBreakByte(text_[static_cast<std::size_t>(off)])) {
        ++off;
    }
    while (off < n && isBlank(text_[static_cast<std::size_t>(off)])) {
        ++off;
    }
    return off;
}

int MemoDocument::prevWord(int off) const
{
    off = snap(off);
    if (off <= 0) {
        return 0;
    }
    if (text_[static_cast<std::size_t>(off - 1)] == '\n') {
        return off - 2;
    }
    while (off > 0 && isBlank(text_[static_cast<std::size_t>(off - 1)])) {
        --off;
    }
    while (off > 0 && !isBlank(text_[static_cast<std::size_t>(off - 1)]) && !isBreakByte(text_[static_cast<std::size_t>(off - 1)])) {
        --off;
    }
    return off;
}

std::pair<int, int> MemoDocument::wordAt(int off) const
{
    off = snap(off);
    const int n = length();
    auto at = [this](int i) { return text_[static_cast<std::size_t>(i)]; };
    // At a line end, take the character before the caret.
    if (off >= n || at(off) == '\r') {
        if (off == 0 || at(off - 1) == '\n') {
            return {off, off};
        }
        --off;
    }
    const bool blank = isBlank(at(off));
    auto same = [&](int i) { return !isBreakByte(at(i)) && isBlank(at(i)) == blank; };
    int b = off;
    int e = off + 1;
    while (b > 0 && same(b - 1)) {
        --b;
    }
    while (e < n && same(e)) {
        ++e;
    }
    return {b, e};
}

MemoEdit MemoDocument::apply(int pos, int len, const std::string& normalized)
{
    const auto upos = static_cast<std::size_t>(pos);
    text_.replace(upos, static_cast<std::size_t>(len), normalized);

    // Line index: starts up to pos stay; starts inside the removed range go; the
    // breaks of the inserted text add starts; later starts shift.
    const int delta = static_cast<int>(normalized.size()) - len;
    auto first = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), pos);
    auto last = std::upper_bound(first, lineStarts_.end(), pos + len);
    std::vector<int> added;
    for (std::size_t p = normalized.find('\n'); p != std::string::npos; p = normalized.find('\n', p + 1)) {
        added.push_back(pos + static_cast<int>(p) + 1);
    }
    const auto tail = lineStarts_.erase(first, last);
    const auto tailIndex = tail - lineStarts_.begin();
    lineStarts_.insert(tail, added.begin(), added.end());
    for (auto it = lineStarts_.begin() + tailIndex + static_cast<std::ptrdiff_t>(added.size()); it != lineStarts_.end(); ++it) {
        *it += delta;
    }
    return MemoEdit{pos, len, static_cast<int>(normalized.size())};
}

MemoEdit MemoDocument::replace(int pos, int len, std::string_view bytes, EditKind kind)
{
    pos = snap(pos);
    int end = snap(pos + std::clamp(len, 0, length() - pos));
    len = end - pos;
    checkSize(bytes.size());
    const std::string normalized = normalizeBreaks(bytes);
    checkSize(text_.size() - static_cast<std::size_t>(len) + normalized.size());
    const int n = static_cast<int>(normalized.size());
    if (len == 0 && n == 0) {
        caret_ = anchor_ = pos;
        return MemoEdit{pos, 0, 0};
    }

    // Merge with the open undo step when this edit continues it.
    bool merged = false;
    if (mergeOpen_ && undo_.valid && undo_.kind == kind) {
        if (kind == EditKind::Typing && len == 0 && pos == undo_.pos + undo_.insertedLength) {
            undo_.insertedLength += n;
            merged = true;
        } else if (kind == EditKind::Backspace && n == 0 && pos + len == undo_.pos && undo_.insertedLength == 0) {
            undo_.removed.insert(0, text_, static_cast<std::size_t>(pos), static_cast<std::size_t>(len));
            undo_.pos = pos;
            merged = true;
        } else if (kind == EditKind::Delete && n == 0 && pos == undo_.pos && undo_.insertedLength == 0) {
            undo_.removed.append(text_, static_cast<std::size_t>(pos), static_cast<std::size_t>(len));
            merged = true;
        }
    }
    if (!merged) {
        undo_.valid = true;
        undo_.pos = pos;
        undo_.removed.assign(text_, static_cast<std::size_t>(pos), static_cast<std::size_t>(len));
        undo_.insertedLength = n;
        undo_.kind = kind;
    }

    const MemoEdit edit = apply(pos, len, normalized);
    caret_ = anchor_ = pos + n;
    mergeOpen_ = kind != EditKind::Other;
    return edit;
}

MemoEdit MemoDocument::replaceSelection(std::string_view bytes, EditKind kind)
{
    return replace(selStart(), selEnd() - selStart(), bytes, kind);
}

MemoEdit MemoDocument::undo()
{
    if (!undo_.valid) {
        return MemoEdit{caret_, 0, 0};
    }
    const int pos = undo_.pos;
    const int len = undo_.insertedLength;
    std::string current = text_.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(len));
    const std::string restore = std::move(undo_.removed);
    const MemoEdit edit = apply(pos, len, restore);
    // The reverted edit becomes the step, so the next undo re-does it.
    undo_.removed = std::move(current);
    undo_.insertedLength = static_cast<int>(restore.size());
    undo_.kind = EditKind::Other;
    anchor_ = pos;
    caret_ = pos + static_cast<int>(restore.size());
    mergeOpen_ = false;
    return edit;
}

namespace {

// Zeros the whole buffer of `bytes`, spare capacity included, through a volatile
// pointer so that the compiler cannot drop the stores, and frees it.
void wipeString(std::string& bytes)
{
    bytes.resize(bytes.capacity());
    volatile char* p = bytes.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        p[i] = 0;
    }
    bytes.clear();
    bytes.shrink_to_fit();
}

} // namespace

void MemoDocument::wipe()
{
    wipeString(text_);
    wipeString(undo_.removed);
    std::string().swap(text_);
    lineStarts_.assign(1, 0);
    lineStarts_.shrink_to_fit();
    caret_ = 0;
    anchor_ = 0;
    forgetUndo();
}

void MemoDocument::forgetUndo()
{
    undo_ = UndoStep{};
    mergeOpen_ = false;
}

} // namespace tq
