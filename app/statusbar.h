// The status bar of the main window and of the archive window: fixed-width
// panels of short texts (the last panel takes what is left of the width) and a
// progress bar painted over the panels.
//
// The progress bar is a frame of 100 by 13 pixels, outlined in the dark 3-D
// shadow colour and filled with the inactive-caption colour, and inside it a
// fill of trunc(percent) pixels (0 to 98) in the highlight colour. The window
// that owns the bar keeps the progress state; the bar asks for it on every
// paint through the progress source, so a repaint while no progress is shown
// removes the bar.
//
// The protocol the windows follow: drawProgress() repaints frame and fill,
// updateProgress() the fill only; resized() tells the window that the bar's
// size changed (the archive window's bar is anchored to the right edge).
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace tq {

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    // The edge the progress bar's place is measured from.
    enum class Edge { Left, Right };

    // `widths` are the panels' widths in pixels; the bar is `height` pixels high.
    TStatusBar(std::vector<int> widths, int height, QWidget* parent = nullptr);

    // Panel texts; setting the same text again repaints nothing.
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    int panelCount() const { return static_cast<int>(widths_.size()); }
    int panelWidth(int panel) const;
    // Left edge of a panel.
    int panelLeft(int panel) const;

    // The progress bar's frame starts `offset` pixels from the left edge, or
    // `offset` pixels before the right edge.
    void placeProgress(Edge edge, int offset);
    // The percent to draw, or nothing while no progress is shown.
    void setProgressSource(std::function<std::optional<double>()> source) { source_ = std::move(source); }
    // Repaint the progress bar's frame and fill, or the fill only.
    void drawProgress();
    void updateProgress();
    // The frame's rectangle at the bar's present width.
    QRect progressFrame() const;

    QSize sizeHint() const override;

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::vector<int> widths_;
    std::vector<QString> texts_;
    int height_;
    Edge progressEdge_ = Edge::Left;
    int progressOffset_ = 5;
    std::function<std::optional<double>()> source_;
};

} // namespace tq
