#include "memo/memo_layout.h"

#include <algorithm>
#include <cmath>

namespace tq {

void MemoLayout::setMetrics(const Advances& advances, double tabWidth, double width)
{
    if (tabWidth <= 0.0) {
        tabWidth = 1.0;
    }
    if (advances != advances_ || tabWidth != tabWidth_ || width != width_) {
        advances_ = advances;
        tabWidth_ = tabWidth;
        width_ = width;
        valid_ = false;
    }
}

MemoLayout::RowScan MemoLayout::scanRow(std::string_view text, int start) const
{
    const int n = static_cast<int>(text.size());
    double x = 0.0;
    int lastBreak = -1; // offset just after the last blank of the row
    for (int i = start;; ++i) {
        if (i == n) {
            return RowScan{-1, n + 1};
        }
        const char c = text[static_cast<std::size_t>(i)];
        if (c == '\r') {
            return RowScan{i + 2, i + 2}; // CR LF ends the row
        }
        const double w = c == '\t' ? (std::floor(x / tabWidth_) + 1.0) * tabWidth_ - x
                                   : advances_[static_cast<unsigned char>(c)];
        if (x + w > width_ && i > start) {
            if (c == ' ') {
                // The space hangs at the row's end; a break right after it
                // belongs to this row.
                if (i + 1 == n) {
                    return RowScan{-1, n + 1};
                }
                if (text[static_cast<std::size_t>(i + 1)] == '\r') {
                    return RowScan{i + 3, i + 3};
                }
                return RowScan{i + 1, i + 2};
            }
            if (lastBreak > start) {
                return RowScan{lastBreak, i + 1};
            }
            return RowScan{i, i + 1};
        }
        x += w;
        if (c == ' ' || c == '\t') {
            lastBreak = i + 1;
        }
    }
}

void MemoLayout::layoutAll(std::string_view text)
{
    starts_.assign(1, 0);
    for (int s = 0;;) {
        const RowScan scan = scanRow(text, s);
        if (scan.next < 0) {
            break;
        }
        starts_.push_back(scan.next);
        s = scan.next;
    }
    valid_ = true;
}

void MemoLayout::update(std::string_view text, const MemoEdit& edit)
{
    if (!valid_) {
        return;
    }
    const int pos = edit.pos;
    const int delta = edit.inserted - edit.removed;

    // Rows that read nothing at or after pos are unchanged. What a row reads
    // grows with the row index, so walk back from the row holding pos to the
    // first row that read the edit.
    int r = rowOfOffset(pos);
    while (r > 0 && scanRow(text, starts_[static_cast<std::size_t>(r - 1)]).reach > pos) {
        --r;
    }

    std::vector<int> fresh;
    std::size_t j = static_cast<std::size_t>(r) + 1; // candidate old row to meet
    for (int s = starts_[static_cast<std::size_t>(r)];;) {
        const RowScan scan = scanRow(text, s);
        if (scan.next < 0) {
            starts_.erase(starts_.begin() + r + 1, starts_.end());
            starts_.insert(starts_.end(), fresh.begin(), fresh.end());
            return;
        }
        const int next = scan.next;
        if (next >= pos + edit.inserted) {
            // Past the edit the text is the old text shifted by delta: a row
            // starting where an old row started continues exactly as before.
            const int old = next - delta;
            while (j < starts_.size() && starts_[j] < old) {
                ++j;
            }
            if (j < starts_.size() && starts_[j] == old) {
                const auto first = starts_.begin() + r + 1;
                const auto tail = starts_.erase(first, starts_.begin() + static_cast<std::ptrdiff_t>(j));
                const auto tailIndex = tail - starts_.begin();
                starts_.insert(tail, fresh.begin(), fresh.end());
                if (delta != 0) {
                    for (auto it = starts_.begin() + tailIndex + static_cast<std::ptrdiff_t>(fresh.size());
                         it != starts_.end(); ++it) {
                        *it += delta;
                    }
                }
                return;
            }
        }
        fresh.push_back(next);
        s = next;
    }
}

int MemoLayout::rowEnd(std::string_view text, int row) const
{
    if (row + 1 >= rowCount()) {
        return static_cast<int>(text.size());
    }
    const int next = starts_[static_cast<std::size_t>(row) + 1];
    return text[static_cast<std::size_t>(next - 1)] == '\n' ? next - 2 : next;
}

int MemoLayout::rowOfOffset(int off) const
{
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), off);
    return std::max(0, static_cast<int>(it - starts_.begin()) - 1);
}

} // namespace tq
