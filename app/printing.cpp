#include "app/printing.h"

#include "platform/codepage.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

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

std::vector<QString> wrapRow(const QString& line, const QFontMetricsF& metrics, double width)
{
    std::vector<QString> rows;
    QString rest = line;
    while (metrics.horizontalAdvance(rest) > width && rest.size() > 1) {
        // The longest prefix that fits (binary search on the advance, which only grows).
        int lo = 1;
        int hi = rest.size() - 1;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (metrics.horizontalAdvance(rest.left(mid)) <= width) {
                lo = mid;
            } else {
                hi = mid - 1;
            }
        }
        int cut = lo;
        const int blank = rest.lastIndexOf(u' ', lo);
        if (blank > 0) {
            cut = blank + 1; // the blank stays at the end of the row
        }
        rows.push_back(rest.left(cut));
        rest = rest.mid(cut);
    }
    rows.push_back(rest);
    return rows;
}

int printPlainText(QPagedPaintDevice& device, const std::vector<std::string>& lines, int copies,
                   const PrintObserver& observer)
{
    QPainter painter;
    if (!painter.begin(&device)) {
        throw std::runtime_error("Cannot print: the printer or output file could not be opened.");
    }
    const QFontMetricsF metrics(painter.font(), &device);
    const double rowHeight = std::max(1.0, metrics.lineSpacing());
    const double width = std::max(1, device.width());
    const double height = std::max(1, device.height());
    int page = 0;
    double top = 0;
    for (int copy = 0; copy < std::max(1, copies); ++copy) {
        for (const std::string& line : lines) {
            for (const QString& row : wrapRow(printableLine(line), metrics, width)) {
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
            }
        }
    }
    if (!painter.end()) {
        throw std::runtime_error("Cannot print: the print job could not be completed.");
    }
    return page + 1;
}

} // namespace tq
