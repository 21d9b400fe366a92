#include "app/statusbar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace tq {

TStatusBar::TStatusBar(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusBar::setPanelText(int panel, const QString& text)
{
    if (panel < 0 || panel >= kPanels || texts_[panel] == text) {
        return;
    }
    texts_[panel] = text;
    update(QRect(panelLeft(panel), 0, panelWidth(panel), height()));
}

QString TStatusBar::panelText(int panel) const
{
    return panel >= 0 && panel < kPanels ? texts_[panel] : QString();
}

int TStatusBar::panelWidth(int panel) const
{
    if (panel == kPanels - 1) {
        // The last panel takes what is left, as a status bar's last panel does.
        return std::max(kWidths[panel], width() - panelLeft(panel));
    }
    return kWidths[panel];
}

int TStatusBar::panelLeft(int panel) const
{
    int x = 0;
    for (int i = 0; i < panel && i < kPanels; ++i) {
        x += kWidths[i];
    }
    return x;
}

QSize TStatusBar::sizeHint() const
{
    return {panelLeft(kPanels), kHeight};
}

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Mid);
    for (int i = 0; i < kPanels; ++i) {
        const QRect r(panelLeft(i), 2, panelWidth(i) - 2, height() - 2);
        // Sunken panel frame.
        p.setPen(dark);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(light);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        if (!texts_[i].isEmpty()) {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                       texts_[i]);
        }
    }
    if (overlay_) {
        overlay_(p);
    }
}

void TStatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

} // namespace tq
