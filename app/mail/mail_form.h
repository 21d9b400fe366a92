// Building blocks shared by the mail windows: labelled fields, the "field
// left" notification, and the way a mail command runs.
#pragma once

#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QStatusBar;
class QWidget;

namespace tq {
class TPasswordStore;
}

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

// Makes a password field hold the password of its account as it is now
// (TPasswordStore::settle); the field is set only when that changes it.
void settlePassword(TPasswordStore& store, QLineEdit* field);

// Runs `load`, an activation's reading of a stored password. A keyring that
// fails is shown in `status` rather than in an error box, whose closing would
// activate the window again and read again without end; the next command
// reports it as an error.
void loadOnActivation(QStatusBar* status, const std::function<void()>& load);

// Runs a command of a mail window inside the program's guard. Whatever way it
// ends, `restore` gives the window its controls back; an error is then shown
// through the guard, unless `quiet()` says the user ended the command (closed
// the window), in which case nothing is shown. `failed`, when given, hears the
// error's text first (for the window's status bar).
void run(QWidget* window, const std::function<void()>& command, const std::function<void()>& restore,
         const std::function<bool()>& quiet, const std::function<void(const QString& error)>& failed = {});

} // namespace tq::mailform
