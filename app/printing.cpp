#include "app/printing.h"

#include "platform/codepage.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tq {

QString printableLine(const std::string& bytes)
{
    QString out;
    out.reserve(static_cast<int>(bytes.size()));
    int column = 0;
    for (const char ch : bytes) {
        const auto code = static_cast<unsigned char>(ch);
        if (code == '\t') {
            const int spaces = 8 - column % 8;
            out += QString(spaces, u' ');
            column += spaces;
            continue;
        }
        char32_t u = cp1252::toUnicode(code);
        if (code < 0x20) {
            u = 0x2400 + code;
        } else if (code == 0x7F) {
            u = 0x2421;
        }
        out += QChar(static_cast<char16_t>(u));
        ++column;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Wrapping

CharAdvances::CharAdvances(const QFontMetricsF& metrics) : metrics_(metrics) {}

double CharAdvances::operator()(QChar c)
{
    const char16_t code = c.unicode();
    if (code < small_.size()) {
        double& slot = small_[code];
        if (slot < 0) {
            slot = metrics_.horizontalAdvance(c);
        }
        return slot;
    }
    const auto found = other_.find(code);
    if (found != other_.end()) {
        return found->second;
    }
    return other_.emplace(code, metrics_.horizontalAdvance(c)).first->second;
}

RowWrapper::RowWrapper(const QString& line, CharAdvances& advances, double width)
    : line_(line), advances_(advances), width_(width)
{
}

bool RowWrapper::next(QString& row)
{
    const int size = line_.size();
    if (done_) {
        return false;
    }
    // The longest run from pos_ that fits (at least one character), adding the
    // characters' advances; the last blank seen decides where a longer line breaks.
    int fit = 0;
    double used = 0;
    int blank = -1;
    while (pos_ + fit < size) {
        const QChar c = line_.at(pos_ + fit);
        const double advance = advances_(c);
        if (fit > 0 && used + advance > width_) {
            break;
        }
        if (c == u' ' && fit > 0) {
            blank = fit;
        }
        used += advance;
        ++fit;
    }
    if (pos_ + fit >= size) {
        // The rest fits: the last row.
        row = line_.mid(pos_);
        pos_ = size;
        done_ = true;
        return true;
    }
    int cut = fit;
    if (line_.at(pos_ + fit) == u' ') {
        cut = fit + 1; // the blank that does not fit hangs at the end of the row
    } else if (blank > 0) {
        cut = blank + 1; // the blank stays at the end of the row
    }
    row = line_.mid(pos_, cut);
    pos_ += cut;
    return true;
}

std::vector<QString> wrapRow(const QString& line, const QFontMetricsF& metrics, double width)
{
    CharAdvances advances(metrics);
    RowWrapper wrapper(line, advances, width);
    std::vector<QString> rows;
    QString row;
    while (wrapper.next(row)) {
        rows.push_back(row);
    }
    return rows;
}

// ---------------------------------------------------------------------------
// Printing

int printPlainText(QPagedPaintDevice& device, const std::vector<std::string>& lines, int copies,
                   const PrintObserver& observer, const PrintControl& control)
{
    QPainter painter;
    if (!painter.begin(&device)) {
        throw std::runtime_error("Cannot print: the printer or output file could not be opened.");
    }
    // Plain text as a line printer writes it: each character takes its own
    // advance, so the widths added up while wrapping are the widths printed.
    QFont font = painter.font();
    font.setKerning(false);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &device);
    CharAdvances advances(metrics);
    const double rowHeight = std::max(1.0, metrics.lineSpacing());
    const double width = std::max(1, device.width());
    const double height = std::max(1, device.height());
    const auto aborted = [&] { return control.abort != nullptr && *control.abort; };
    int page = 0;
    double top = 0;
    for (int copy = 0; copy < std::max(1, copies) && !aborted(); ++copy) {
        for (std::size_t l = 0; l < lines.size() && !aborted(); ++l) {
            const QString printable = printableLine(lines[l]);
            RowWrapper wrapper(printable, advances, width);
            QString row;
            while (!aborted() && wrapper.next(row)) {
                if (top + rowHeight > height && top > 0) {
                    if (!device.newPage()) {
                        throw std::runtime_error("Cannot print: the printer did not accept a new page.");
                    }
                    ++page;
                    top = 0;
                }
                painter.drawText(QPointF(0, top + metrics.ascent()), row);
                if (observer) {
                    observer(page, top, row);
                }
                top += rowHeight;
                if (control.yield != nullptr) {
                    control.yield->tick();
                }
            }
        }
    }
    if (aborted()) {
        // A printer job is withdrawn; a file keeps the pages written so far.
        if (auto* printer = dynamic_cast<QPrinter*>(&device)) {
            printer->abort();
        }
        painter.end();
        return page + 1;
    }
    if (!painter.end()) {
        throw std::runtime_error("Cannot print: the print job could not be completed.");
    }
    return page + 1;
}

} // namespace tq
