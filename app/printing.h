// Plain-text printing of the memo.
//
// The lines are printed in order, one printed row each, in the paint device's
// default font; a line longer than the printable width wraps (at the last blank
// that fits, else between characters), a tab advances to the next multiple of
// eight character columns, and a new page starts when a page is full. Copies follow
// one another in the same job, as a plain-text printer stream does.
#pragma once

#include "platform/yield.h"

#include <QString>

#include <functional>
#include <unordered_map>
#include <string>
#include <vector>

class QFontMetricsF;
class QPagedPaintDevice;

namespace tq {

// One 8-bit line as printable text: Windows-1252 characters, tabs expanded to
// columns of eight, control codes shown as control pictures.
QString printableLine(const std::string& bytes);

// The advances of single characters in one font, each measured once.
class CharAdvances {
public:
    explicit CharAdvances(const QFontMetricsF& metrics);
    double operator()(QChar c);

private:
    const QFontMetricsF& metrics_;
    // Latin-1, the rest of Windows-1252 and the control pictures (below U+2500);
    // -1 while not measured.
    std::vector<double> small_ = std::vector<double>(0x2500, -1.0);
    std::unordered_map<char16_t, double> other_;
};

// Splits one printable line into rows in a single pass, one row at a time, so
// that a line of any length costs time in proportion to its length and printing
// can stop between two rows. A row is the longest run of characters whose
// advances fit `width` (at least one character); a longer line breaks after the
// last blank of the run (a blank right after it hangs at the row's end), else
// between characters. An empty line gives one empty row.
class RowWrapper {
public:
    RowWrapper(const QString& line, CharAdvances& advances, double width);
    // The next row; false when the line is used up.
    bool next(QString& row);

private:
    const QString& line_;
    CharAdvances& advances_;
    double width_;
    int pos_ = 0;
    bool done_ = false;
};

// All rows of one printable line (see RowWrapper).
std::vector<QString> wrapRow(const QString& line, const QFontMetricsF& metrics, double width);

// Called for every row drawn: page number (from 0), the row's top in device
// pixels and its text.
using PrintObserver = std::function<void(int page, double top, const QString& text)>;

// What keeps a long print job responsive: the hook ticked after every row, and
// the flag (the main window's AbortRequested) tested before every row.
struct PrintControl {
    YieldHook* yield = nullptr;
    const bool* abort = nullptr;
};

// Prints `copies` copies of `lines` on `device` (a QPrinter or QPdfWriter) and
// returns the number of pages. The font prints without kerning, as a plain-text
// printer does. When the abort flag is set no further row is printed and a
// printer's job is withdrawn. Throws std::runtime_error when the device cannot be
// painted on (printer not ready, file not writable).
int printPlainText(QPagedPaintDevice& device, const std::vector<std::string>& lines, int copies,
                   const PrintObserver& observer = {}, const PrintControl& control = {});

} // namespace tq
