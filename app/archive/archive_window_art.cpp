#include "app/archive/archive_window_art.h"

#include "platform/codepage.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace tq {
namespace {

// A sheet of paper with a folded corner, the base of most entry icons.
void drawSheet(QPainter& p, const QColor& paper = Qt::white)
{
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(10.5, 1.5);
    page.lineTo(13.5, 4.5);
    page.lineTo(13.5, 14.5);
    page.lineTo(3.5, 14.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(paper);
    p.drawPath(page);
    p.drawLine(QPointF(10.5, 1.5), QPointF(10.5, 4.5));
    p.drawLine(QPointF(10.5, 4.5), QPointF(13.5, 4.5));
}

void drawTextLines(QPainter& p, const QColor& colour)
{
    p.setPen(QPen(colour, 1));
    for (int y = 6; y <= 12; y += 2) {
        p.drawLine(QPointF(5, y + 0.5), QPointF(y == 6 ? 9 : 12, y + 0.5));
    }
}

QPixmap paintEntryIcon(int index)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (index) {
    case 1: // text, log, document
        drawSheet(p);
        drawTextLines(p, QColor(40, 70, 160));
        break;
    case 2: { // archive
        p.setPen(QPen(QColor(110, 70, 20), 1));
        p.setBrush(QColor(225, 175, 90));
        p.drawRect(QRectF(1.5, 4.5, 13, 10));
        p.setBrush(QColor(245, 210, 140));
        p.drawRect(QRectF(1.5, 2.5, 13, 3));
        p.setPen(QPen(QColor(160, 20, 20), 2));
        p.drawLine(QPointF(5.5, 7.5), QPointF(10.5, 12.5));
        p.drawLine(QPointF(10.5, 7.5), QPointF(5.5, 12.5));
        break;
    }
    case 3: // program
        p.setPen(QPen(QColor(40, 40, 90), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setBrush(QColor(30, 60, 170));
        p.drawRect(QRectF(1.5, 2.5, 13, 3));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(4, 8, 8, 3));
        break;
    case 4: // settings file
        drawSheet(p, QColor(250, 250, 235));
        p.setPen(QPen(QColor(120, 120, 120), 1));
        p.setBrush(QColor(230, 200, 60));
        p.drawEllipse(QRectF(5.5, 6.5, 5, 5));
        p.setBrush(QColor(250, 250, 235));
        p.drawEllipse(QRectF(7, 8, 2, 2));
        break;
    case 5: // picture
        p.setPen(QPen(QColor(80, 80, 80), 1));
        p.setBrush(QColor(150, 200, 250));
        p.drawRect(QRectF(1.5, 2.5, 13, 11));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 220, 40));
        p.drawEllipse(QRectF(9, 4, 4, 4));
        p.setBrush(QColor(40, 150, 60));
        {
            QPainterPath hill;
            hill.moveTo(2, 13);
            hill.lineTo(6, 7);
            hill.lineTo(10, 13);
            hill.closeSubpath();
            p.drawPath(hill);
        }
        break;
    case 6: // registry file: three blocks
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.setBrush(QColor(60, 160, 220));
        p.drawRect(QRectF(1.5, 8.5, 6, 6));
        p.setBrush(QColor(220, 80, 60));
        p.drawRect(QRectF(8.5, 8.5, 6, 6));
        p.setBrush(QColor(90, 190, 90));
        p.drawRect(QRectF(5.5, 1.5, 6, 6));
        break;
    case 7: // encrypted memo: a padlock
        p.setPen(QPen(QColor(90, 90, 90), 2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 1, 8, 9), 0, 180 * 16);
        p.drawLine(QPointF(4, 5.5), QPointF(4, 8));
        p.drawLine(QPointF(12, 5.5), QPointF(12, 8));
        p.setPen(QPen(QColor(120, 90, 10), 1));
        p.setBrush(QColor(235, 190, 50));
        p.drawRect(QRectF(2.5, 7.5, 11, 7));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(90, 60, 0));
        p.drawRect(QRectF(7, 10, 2, 3));
        break;
    case 8: { // library: a cog on a sheet
        drawSheet(p, QColor(235, 235, 235));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(70, 70, 70), 1));
        p.setBrush(QColor(130, 130, 150));
        p.drawEllipse(QRectF(4.5, 5.5, 7, 7));
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QRectF(7, 8, 2, 2));
        break;
    }
    case 9: { // media: a note
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.drawLine(QPointF(7.5, 12), QPointF(7.5, 2.5));
        p.drawLine(QPointF(7.5, 2.5), QPointF(13, 4.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(130, 40, 160));
        p.drawEllipse(QRectF(2.5, 10, 5.5, 4.5));
        break;
    }
    default: // any other file
        drawSheet(p);
        break;
    }
    p.end();
    return pixmap;
}

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& colour)
{
    p.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::max(1.0, std::hypot(d.x(), d.y()));
    const QPointF u(d.x() / len, d.y() / len);
    const QPointF n(-u.y(), u.x());
    QPainterPath head;
    head.moveTo(to + u * 2.5);
    head.lineTo(to - u * 3.5 + n * 4);
    head.lineTo(to - u * 3.5 - n * 4);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(head);
}

void drawFolderShape(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(140, 100, 20), 1));
    p.setBrush(QColor(250, 205, 80));
    QPainterPath folder;
    folder.moveTo(r.left(), r.top() + 2);
    folder.lineTo(r.left() + 6, r.top() + 2);
    folder.lineTo(r.left() + 8, r.top() + 4);
    folder.lineTo(r.right(), r.top() + 4);
    folder.lineTo(r.right(), r.bottom());
    folder.lineTo(r.left(), r.bottom());
    folder.closeSubpath();
    p.drawPath(folder);
}

void drawBigSheet(QPainter& p, const QRectF& r)
{
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - 4, r.top());
    page.lineTo(r.right(), r.top() + 4);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
}

} // namespace

int FileIconIndex(std::string_view entryName)
{
    const std::size_t slash = entryName.find_last_of("\\/");
    const std::string_view last = slash == std::string_view::npos ? entryName : entryName.substr(slash + 1);
    const std::size_t dot = last.rfind('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    std::string ext(last.substr(dot));
    for (char& c : ext) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    struct Row {
        const char* ext;
        int icon;
    };
    static constexpr Row kTable[] = {
        {".LOG", 1}, {".TXT", 1}, {".DOC", 1}, {".X", 2},   {".EXE", 3}, {".COM", 3}, {".INI", 4},
        {".GIF", 5}, {".JPG", 5}, {".BMP", 5}, {".REG", 6}, {".CRP", 7}, {".DLL", 8}, {".SYS", 8},
        {".WAV", 9}, {".MP3", 9}, {".AVI", 9}, {".MPG", 9}, {".MID", 9},
    };
    for (const Row& row : kTable) {
        if (ext == row.ext) {
            return row.icon;
        }
    }
    return 0;
}

const QIcon& entryIcon(int index)
{
    static const std::array<QIcon, kEntryIconCount> icons = [] {
        std::array<QIcon, kEntryIconCount> made;
        for (int i = 0; i < kEntryIconCount; ++i) {
            // The same image for the normal and the selected state.
            const QPixmap pixmap = paintEntryIcon(i);
            made[static_cast<std::size_t>(i)].addPixmap(pixmap, QIcon::Normal);
            made[static_cast<std::size_t>(i)].addPixmap(pixmap, QIcon::Selected);
        }
        return made;
    }();
    if (index < 0 || index >= kEntryIconCount) {
        index = 0;
    }
    return icons[static_cast<std::size_t>(index)];
}

QPixmap archiveToolPixmap(ArchiveTool tool)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QColor green(30, 150, 40);
    const QColor red(200, 30, 30);
    const QColor blue(30, 80, 190);
    switch (tool) {
    case ArchiveTool::AddFiles:
        drawBigSheet(p, QRectF(2.5, 2.5, 12, 16));
        drawArrow(p, QPointF(18, 6), QPointF(18, 17), green);
        break;
    case ArchiveTool::Delete:
        drawBigSheet(p, QRectF(2.5, 2.5, 12, 16));
        p.setPen(QPen(red, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(10, 9), QPointF(19, 18));
        p.drawLine(QPointF(19, 9), QPointF(10, 18));
        break;
    case ArchiveTool::AddFolder:
        drawFolderShape(p, QRectF(1.5, 5.5, 14, 12));
        drawArrow(p, QPointF(18.5, 3), QPointF(18.5, 16), green);
        break;
    case ArchiveTool::Extract:
        p.setPen(QPen(QColor(110, 70, 20), 1));
        p.setBrush(QColor(225, 175, 90));
        p.drawRect(QRectF(2.5, 10.5, 17, 9));
        drawArrow(p, QPointF(11, 11), QPointF(11, 2.5), blue);
        break;
    case ArchiveTool::Deselect:
        p.setPen(QPen(QColor(60, 60, 60), 1, Qt::DashLine));
        p.setBrush(QColor(200, 220, 250));
        p.drawRect(QRectF(2.5, 4.5, 14, 9));
        p.setPen(QPen(red, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(13, 13), QPointF(19, 19));
        p.drawLine(QPointF(19, 13), QPointF(13, 19));
        break;
    case ArchiveTool::Settings: {
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.setBrush(QColor(150, 150, 170));
        QPainterPath cog;
        const QPointF c(11, 11);
        for (int i = 0; i < 8; ++i) {
            const double a = i * 3.14159265358979 / 4;
            const QPointF tip(c.x() + 9 * std::cos(a), c.y() + 9 * std::sin(a));
            cog.addEllipse(tip, 2.2, 2.2);
        }
        cog.addEllipse(c, 7, 7);
        p.drawPath(cog.simplified());
        p.setBrush(Qt::white);
        p.drawEllipse(c, 2.5, 2.5);
        break;
    }
    case ArchiveTool::SaveSealed: {
        // A padlock: the shackle, then the body with its keyhole.
        p.setPen(QPen(QColor(90, 90, 100), 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6, 2.5, 10, 12), 0, 180 * 16);
        p.drawLine(QPointF(6, 8.5), QPointF(6, 10.5));
        p.drawLine(QPointF(16, 8.5), QPointF(16, 10.5));
        p.setPen(QPen(QColor(120, 80, 10), 1));
        p.setBrush(QColor(230, 180, 40));
        p.drawRoundedRect(QRectF(3.5, 10.5, 15, 10), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(70, 45, 5));
        p.drawEllipse(QPointF(11, 14.5), 1.6, 1.6);
        p.drawRect(QRectF(10.3, 15, 1.4, 3.5));
        break;
    }
    }
    p.end();
    return pixmap;
}

} // namespace tq
