#include "app/windowsetup.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace tq {

void prepareWindow(QWidget* window, const QString& caption, QSize clientSize, Frame frame, bool onTop)
{
    Qt::WindowFlags flags = Qt::Window;
    switch (frame) {
    case Frame::Sizeable:
        flags |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint;
        break;
    case Frame::FixedSingle:
        flags |= Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint;
        break;
    case Frame::FixedDialog:
        flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        break;
    case Frame::ToolWindow:
        flags = Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;
        break;
    }
    if (onTop) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    window->setWindowFlags(flags);
    window->setWindowTitle(caption);
    if (frame == Frame::Sizeable) {
        window->resize(clientSize);
    } else {
        window->setFixedSize(clientSize);
    }
}

void centreOver(QWidget* window, const QWidget* owner)
{
    QRect area;
    if (owner != nullptr && owner->isVisible() && owner->width() > 0) {
        area = owner->frameGeometry();
    } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    } else {
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(area.center());
    window->move(frame.topLeft());
}

bool dialogKey(QKeyEvent* event, const std::function<void()>& ok, const std::function<void()>& cancel)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ok();
        return true;
    case Qt::Key_Escape:
        cancel();
        return true;
    default:
        return false;
    }
}

} // namespace tq
