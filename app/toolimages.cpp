#include "app/toolimages.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace tq {
namespace {

QSize artSize(ToolArt art)
{
    switch (art) {
    case ToolArt::Encrypt:
    case ToolArt::Decrypt:
        return {32, 28};
    case ToolArt::KeyFields:
        return {120, 24};
    case ToolArt::Emblem:
        return {32, 33};
    case ToolArt::Product:
        return {95, 80};
    default:
        return {22, 22};
    }
}

void drawPage(QPainter& p, const QRectF& r)
{
    QPainterPath page;
    page.moveTo(r.left(), r.top());
    page.lineTo(r.right() - 5, r.top());
    page.lineTo(r.right(), r.top() + 5);
    page.lineTo(r.right(), r.bottom());
    page.lineTo(r.left(), r.bottom());
    page.closeSubpath();
    p.setPen(QPen(QColor(70, 70, 70), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(r.right() - 5, r.top()), QPointF(r.right() - 5, r.top() + 5));
    p.drawLine(QPointF(r.right() - 5, r.top() + 5), QPointF(r.right(), r.top() + 5));
}

void drawFolder(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(140, 100, 20), 1));
    p.setBrush(QColor(250, 205, 80));
    QPainterPath tab;
    tab.moveTo(r.left(), r.top() + 3);
    tab.lineTo(r.left() + 6, r.top() + 3);
    tab.lineTo(r.left() + 8, r.top() + 5);
    tab.lineTo(r.right(), r.top() + 5);
    tab.lineTo(r.right(), r.bottom());
    tab.lineTo(r.left(), r.bottom());
    tab.closeSubpath();
    p.drawPath(tab);
    p.setBrush(QColor(255, 225, 120));
    QPainterPath front;
    front.moveTo(r.left() + 3, r.top() + 8);
    front.lineTo(r.right() + 1, r.top() + 8);
    front.lineTo(r.right() - 2, r.bottom());
    front.lineTo(r.left(), r.bottom());
    front.closeSubpath();
    p.drawPath(front);
}

void drawDisk(QPainter& p, const QRectF& r)
{
    p.setPen(QPen(QColor(20, 40, 90), 1));
    p.setBrush(QColor(50, 90, 170));
    p.drawRect(r);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(r.left() + 3, r.top() + 1, r.width() - 6, r.height() * 0.45));
    p.setBrush(QColor(190, 190, 190));
    p.drawRect(QRectF(r.left() + 5, r.bottom() - r.height() * 0.35, r.width() - 10, r.height() * 0.35));
}

void drawKey(QPainter& p, const QPointF& at, double scale, const QColor& colour)
{
    p.setPen(QPen(colour.darker(160), 1));
    p.setBrush(colour);
    p.drawEllipse(QPointF(at.x() + 3 * scale, at.y()), 3 * scale, 3 * scale);
    p.drawRect(QRectF(at.x() + 5.5 * scale, at.y() - 1 * scale, 8 * scale, 2 * scale));
    p.drawRect(QRectF(at.x() + 11 * scale, at.y() + 1 * scale, 1.5 * scale, 2 * scale));
    p.drawRect(QRectF(at.x() + 8.5 * scale, at.y() + 1 * scale, 1.5 * scale, 1.5 * scale));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(at.x() + 2.5 * scale, at.y()), 1 * scale, 1 * scale);
}

void drawLock(QPainter& p, const QRectF& body, bool open)
{
    p.setPen(QPen(QColor(90, 90, 90), 2.5));
    p.setBrush(Qt::NoBrush);
    const double w = body.width() * 0.6;
    const QRectF shackle(body.center().x() - w / 2 + (open ? 5 : 0), body.top() - w * 0.9, w, w * 1.4);
    p.drawArc(shackle, 0, 180 * 16);
    p.drawLine(QPointF(shackle.left(), shackle.center().y()), QPointF(shackle.left(), body.top() + 1));
    if (!open) {
        p.drawLine(QPointF(shackle.right(), shackle.center().y()), QPointF(shackle.right(), body.top() + 1));
    }
    p.setPen(QPen(QColor(120, 80, 0), 1));
    p.setBrush(QColor(230, 180, 40));
    p.drawRoundedRect(body, 2, 2);
    p.setBrush(QColor(60, 40, 0));
    p.drawEllipse(QPointF(body.center().x(), body.center().y() - 1), 1.5, 1.5);
    p.drawRect(QRectF(body.center().x() - 0.75, body.center().y(), 1.5, 3));
}

void paintArt(QPainter& p, ToolArt art, const QSize& size)
{
    const double w = size.width();
    const double h = size.height();
    switch (art) {
    case ToolArt::New:
        drawPage(p, QRectF(4.5, 1.5, 13, 19));
        p.setPen(QPen(QColor(240, 180, 0), 1.5));
        p.drawLine(QPointF(14, 12), QPointF(20, 18));
        p.drawLine(QPointF(20, 12), QPointF(14, 18));
        break;
    case ToolArt::Open:
        drawFolder(p, QRectF(1.5, 3.5, 19, 15));
        break;
    case ToolArt::Save:
        drawDisk(p, QRectF(2.5, 2.5, 17, 17));
        break;
    case ToolArt::Abort: {
        p.setPen(QPen(QColor(120, 0, 0), 1));
        p.setBrush(QColor(210, 30, 30));
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const double a = (22.5 + 45.0 * i) * 3.14159265358979 / 180.0;
            octagon << QPointF(11 + 9.5 * std::cos(a), 11 + 9.5 * std::sin(a));
        }
        p.drawPolygon(octagon);
        p.setPen(QPen(Qt::white, 2.5));
        p.drawLine(QPointF(7.5, 11), QPointF(14.5, 11));
        break;
    }
    case ToolArt::Encrypt:
    case ToolArt::Decrypt: {
        drawPage(p, QRectF(1.5, 1.5, 15, 24));
        p.setPen(QPen(QColor(150, 150, 150), 1));
        for (int y = 6; y < 24; y += 3) {
            p.drawLine(QPointF(4, y), QPointF(14, y));
        }
        drawLock(p, QRectF(15.5, 13.5, 14, 11), art == ToolArt::Decrypt);
        break;
    }
    case ToolArt::Search:
        p.setPen(QPen(QColor(90, 60, 20), 3));
        p.drawLine(QPointF(13, 13), QPointF(20, 20));
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.setBrush(QColor(170, 215, 255));
        p.drawEllipse(QPointF(9, 9), 6.5, 6.5);
        break;
    case ToolArt::OpenKeys:
        drawFolder(p, QRectF(1.5, 6.5, 19, 13));
        drawKey(p, QPointF(3, 5), 1.1, QColor(240, 200, 40));
        break;
    case ToolArt::SaveKeys:
        drawDisk(p, QRectF(4.5, 4.5, 16, 16));
        drawKey(p, QPointF(1, 5), 1.1, QColor(240, 200, 40));
        break;
    case ToolArt::Mail:
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.setBrush(QColor(255, 250, 235));
        p.drawRect(QRectF(1.5, 5.5, 19, 12));
        p.drawLine(QPointF(1.5, 5.5), QPointF(11, 12.5));
        p.drawLine(QPointF(20.5, 5.5), QPointF(11, 12.5));
        break;
    case ToolArt::KeyFields:
        for (int i = 0; i < 4; ++i) {
            const double x = 1.5 + i * 30;
            p.setPen(QPen(QColor(100, 100, 100), 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(x, 2.5, 20, h - 5));
            p.setBrush(Qt::black);
            p.drawEllipse(QPointF(x + 10, h / 2), 3, 3);
            p.setBrush(QColor(220, 220, 220));
            p.drawRect(QRectF(x + 20, 2.5, 7, h - 5));
        }
        break;
    case ToolArt::Emblem:
        p.setPen(QPen(QColor(30, 50, 110), 1.5));
        p.setBrush(QColor(60, 110, 200));
        p.drawRoundedRect(QRectF(1.5, 1.5, w - 3, h - 3), 6, 6);
        drawLock(p, QRectF(w / 2 - 8, h / 2 - 1, 16, 12), false);
        break;
    case ToolArt::Product: {
        // A memo page with its cipher text, and the emblem's lock over it.
        drawPage(p, QRectF(8.5, 4.5, 44, 60));
        p.setPen(QPen(QColor(120, 120, 160), 1));
        for (int y = 14; y < 60; y += 5) {
            p.drawLine(QPointF(13, y), QPointF(46 - (y % 3) * 4, y));
        }
        p.setPen(QPen(QColor(30, 50, 110), 1.5));
        p.setBrush(QColor(60, 110, 200));
        p.drawRoundedRect(QRectF(42.5, 30.5, 44, 44), 8, 8);
        p.save();
        p.translate(64.5, 50);
        p.scale(1.6, 1.6);
        drawLock(p, QRectF(-8, -1, 16, 12), false);
        p.restore();
        break;
    }
    }
}

} // namespace

QPixmap toolPixmap(ToolArt art)
{
    const QSize size = artSize(art);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    paintArt(p, art, size);
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap greyTwin(const QPixmap& colour)
{
    QImage image = colour.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = row[x];
            const int grey = qGray(c);
            const int light = 96 + grey * 5 / 8; // lightened so it reads as unavailable
            row[x] = qRgba(light, light, light, qAlpha(c));
        }
    }
    return QPixmap::fromImage(image);
}

QPixmap programIcon(int size)
{
    // The emblem is drawn, not scaled, so that large icons stay sharp.
    const QSize design = artSize(ToolArt::Emblem);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double scale = static_cast<double>(size) / std::max(design.width(), design.height());
    p.translate((size - design.width() * scale) / 2, (size - design.height() * scale) / 2);
    p.scale(scale, scale);
    paintArt(p, ToolArt::Emblem, design);
    p.end();
    return QPixmap::fromImage(image);
}

TImage::TImage(const QPixmap& pixmap, QWidget* parent)
    : QLabel(parent)
{
    setPixmap(pixmap);
    setFixedSize(pixmap.size());
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
    }
    QLabel::mousePressEvent(event);
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (event->button() == Qt::LeftButton && wasPressed && rect().contains(event->position().toPoint()) &&
        isEnabled()) {
        emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
}

} // namespace tq
