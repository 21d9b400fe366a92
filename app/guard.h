// The one guard every command handler of every window runs through.
//
// A command that throws must not unwind through Qt's event loop. runGuarded()
// runs the handler, catches whatever escapes it, calls the recovery hook (the main
// window installs one that returns it to the idle state with EnableAll) and then
// shows the error's text in a message box, so that no failure passes silently.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <utility>

class QWidget;

namespace tq {

// Called after a command failed, before the message is shown (may be empty).
void setGuardRecovery(std::function<void()> recovery);

// Reports a failure that escaped a command: recovery first, then the message box.
void reportCommandFailure(QWidget* parent, const QString& message);

// Text for an exception: its what() (UTF-8) or a general text for unknown errors.
QString describeException(std::exception_ptr error);

// Runs `handler` inside the guard.
template <typename F>
void runGuarded(QWidget* parent, F&& handler) noexcept
{
    QString message;
    try {
        std::forward<F>(handler)();
        return;
    } catch (...) {
        message = describeException(std::current_exception());
    }
    reportCommandFailure(parent, message);
}

// Wraps `handler` so that connect() runs it inside the guard:
//   connect(action, &QAction::triggered, this, guarded(this, [this] { ... }));
template <typename F>
auto guarded(QWidget* parent, F handler)
{
    return [parent, handler = std::move(handler)](auto&&...) mutable { runGuarded(parent, handler); };
}

} // namespace tq
