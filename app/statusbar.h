// The main window's status bar: six fixed-width panels of short texts, with an
// overlay that the main window paints over panel 0 (its progress bar).
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QPainter;

namespace tq {

class TStatusBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPanels = 6;
    static constexpr std::array<int, kPanels> kWidths = {110, 144, 80, 80, 300, 50};
    static constexpr int kHeight = 19;

    explicit TStatusBar(QWidget* parent = nullptr);

    // Panel texts; setting the same text again repaints nothing.
    void setPanelText(int panel, const QString& text);
    QString panelText(int panel) const;
    int panelWidth(int panel) const;
    // Left edge of a panel.
    int panelLeft(int panel) const;

    // Painted after the panels on every paint of the bar.
    void setOverlay(std::function<void(QPainter&)> overlay) { overlay_ = std::move(overlay); }

    QSize sizeHint() const override;

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QString, kPanels> texts_;
    std::function<void(QPainter&)> overlay_;
};

} // namespace tq
