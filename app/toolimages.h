// Artwork of the main window's tools and a clickable image widget.
//
// Each tool is drawn here with QPainter (no image files to ship); the grey twin
// of a colour image is derived from it (grey scale, lightened), as the tool row
// shows a colour image when a command is available and its grey twin when not.
#pragma once

#include <QLabel>
#include <QPixmap>

namespace tq {

enum class ToolArt {
    New,
    Open,
    Save,
    Abort,
    Encrypt,
    Decrypt,
    Search,
    OpenKeys,
    SaveKeys,
    Mail,
    KeyFields,
    Emblem,
    Product, // the product picture of the about and help windows
};

// The colour image of a tool.
QPixmap toolPixmap(ToolArt art);

// The grey twin of an image: grey scale, lightened, same size and transparency.
QPixmap greyTwin(const QPixmap& colour);

// The program's icon (the emblem) drawn at `size` by `size` pixels.
QPixmap programIcon(int size);

// An image that reports mouse clicks (the tool row's buttons).
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(const QPixmap& pixmap, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool pressed_ = false;
};

} // namespace tq
