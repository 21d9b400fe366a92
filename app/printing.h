// Plain-text printing of the memo.
//
// The lines are printed in order, one printed row each, in the paint device's
// default font; a line longer than the printable width wraps (at the last blank
// that fits, else between characters), a tab advances to the next multiple of
// eight character columns, and a new page starts when a page is full. Copies follow
// one another in the same job, as a plain-text printer stream does.
#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QFontMetricsF;
class QPagedPaintDevice;

namespace tq {

// One 8-bit line as printable text: Windows-1252 characters, tabs expanded to
// columns of eight, control codes shown as control pictures.
QString printableLine(const std::string& bytes);

// Splits one printable line into rows no wider than `width` (at least one row,
// an empty line gives one empty row).
std::vector<QString> wrapRow(const QString& line, const QFontMetricsF& metrics, double width);

// Called for every row drawn: page number (from 0), the row's top in device
// pixels and its text.
using PrintObserver = std::function<void(int page, double top, const QString& text)>;

// Prints `copies` copies of `lines` on `device` (a QPrinter or QPdfWriter) and
// returns the number of pages. Throws std::runtime_error when the device cannot
// be painted on (printer not ready, file not writable).
int printPlainText(QPagedPaintDevice& device, const std::vector<std::string>& lines, int copies,
                   const PrintObserver& observer = {});

} // namespace tq
