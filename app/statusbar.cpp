#include "app/statusbar.h"

#include <QPainter>

#include <algorithm>
#include <numeric>

namespace tq {
namespace {

// The colour Windows gives an inactive window's caption.
const QColor kInactiveCaption(191, 205, 219);

constexpr int kFrameWidth = 100;
constexpr int kFrameHeight = 13;
constexpr int kFrameTop = 4;
constexpr int kMaxFill = kFrameWidth - 2;

} // namespace

TStatusBar::TStatusBar(std::vector<int> widths, int height, QWidget* parent)
    : QWidget(parent)
    , widths_(std::move(widths))
    , texts_(widths_.size())
    , height_(height)
{
    setFixedHeight(height_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TStatusBar::setPanelText(int panel, const QString& text)
{
    if (panel < 0 || panel >= panelCount() || texts_[static_cast<std::size_t>(panel)] == text) {
        return;
    }
    texts_[static_cast<std::size_t>(panel)] = text;
    update(QRect(panelLeft(panel), 0, panelWidth(panel), height()));
}

QString TStatusBar::panelText(int panel) const
{
    return panel >= 0 && panel < panelCount() ? texts_[static_cast<std::size_t>(panel)] : QString();
}

int TStatusBar::panelWidth(int panel) const
{
    if (panel < 0 || panel >= panelCount()) {
        return 0;
    }
    const int own = widths_[static_cast<std::size_t>(panel)];
    if (panel == panelCount() - 1) {
        // The last panel takes what is left, as a status bar's last panel does.
        return std::max(own, width() - panelLeft(panel));
    }
    return own;
}

int TStatusBar::panelLeft(int panel) const
{
    const int n = std::clamp(panel, 0, panelCount());
    return std::accumulate(widths_.begin(), widths_.begin() + n, 0);
}

void TStatusBar::placeProgress(Edge edge, int offset)
{
    progressEdge_ = edge;
    progressOffset_ = offset;
    update();
}

QRect TStatusBar::progressFrame() const
{
    const int left = progressEdge_ == Edge::Left ? progressOffset_ : width() - progressOffset_;
    return {left, kFrameTop, kFrameWidth, kFrameHeight};
}

void TStatusBar::drawProgress()
{
    update(progressFrame());
}

void TStatusBar::updateProgress()
{
    update(progressFrame().adjusted(1, 1, -1, -1));
}

QSize TStatusBar::sizeHint() const
{
    return {panelLeft(panelCount()), height_};
}

void TStatusBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    for (int i = 0; i < panelCount(); ++i) {
        const int w = panelWidth(i);
        const QRect r(panelLeft(i), 2, w - 2, height() - 3);
        // Sunken panel frame.
        p.setPen(palette().color(QPalette::Dark));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
        const QString& text = texts_[static_cast<std::size_t>(i)];
        if (!text.isEmpty()) {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(r.adjusted(3, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                       fontMetrics().elidedText(text, Qt::ElideRight, w - 7));
        }
    }
    const std::optional<double> percent = source_ ? source_() : std::nullopt;
    if (!percent) {
        return;
    }
    const QRect frame = progressFrame();
    p.fillRect(frame, kInactiveCaption);
    p.setPen(palette().color(QPalette::Shadow));
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    const int fill = std::clamp(static_cast<int>(*percent), 0, kMaxFill);
    if (fill > 0) {
        p.fillRect(QRect(frame.left() + 1, frame.top() + 1, fill, kFrameHeight - 2),
                   palette().color(QPalette::Highlight));
    }
}

void TStatusBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit resized();
}

} // namespace tq
