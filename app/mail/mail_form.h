// Building blocks shared by the mail windows: labelled fields, the "field
// left" notification, and the way a mail command runs.
#pragma once

#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

namespace tq::mailform {

// Row geometry of the windows' field panels.
constexpr int kLabelX = 8;
constexpr int kFieldX = 136;
constexpr int kFieldHeight = 21;
constexpr int kRowPitch = 24;

// A label and a line edit on one row of `panel`; the hint is the field's tool
// tip. The label is returned through `label` when it is wanted.
QLineEdit* addField(QWidget* panel, const char* name, const QString& caption, const QString& hint, int y,
                    int fieldWidth, QLabel** label = nullptr);

// Calls `handler` each time `field` loses the input focus (the field is left).
void onLeave(QLineEdit* field, std::function<void()> handler);

// Runs a command of a mail window inside the program's guard. Whatever way it
// ends, `restore` gives the window its controls back; an error is then shown
// through the guard, unless `quiet()` says the user ended the command (closed
// the window), in which case nothing is shown. `failed`, when given, hears the
// error's text first (for the window's status bar).
void run(QWidget* window, const std::function<void()>& command, const std::function<void()>& restore,
         const std::function<bool()>& quiet, const std::function<void(const QString& error)>& failed = {});

} // namespace tq::mailform
