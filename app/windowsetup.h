// Shared set-up of the program's secondary windows: caption, client size, frame
// kind and placement. Every window is created once at start and only shown and
// hidden afterwards.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>

class QKeyEvent;

namespace tq {

enum class Frame {
    Sizeable,     // ordinary resizable window
    FixedSingle,  // fixed size, system menu only
    FixedDialog,  // fixed size dialog frame without title-bar buttons
    ToolWindow,   // small tool-window frame
};

// Applies caption, client size and frame; `onTop` keeps the window above others.
void prepareWindow(QWidget* window, const QString& caption, QSize clientSize, Frame frame, bool onTop);

// Moves `window` so that it is centred over `owner` (or the screen when owner is
// null or invisible).
void centreOver(QWidget* window, const QWidget* owner);

// The keys of a small dialog: Return and Enter run `ok`, Escape runs `cancel`.
// Returns false (and runs nothing) for any other key, which the dialog then
// passes on to QWidget::keyPressEvent.
bool dialogKey(QKeyEvent* event, const std::function<void()>& ok, const std::function<void()>& cancel);

} // namespace tq
