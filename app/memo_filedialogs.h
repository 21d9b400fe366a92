// The file dialogs of the main window and its key dialog (.crp files and key
// files), and the folder they start in.
//
// Every dialog is described by a MemoFileRequest and shown through
// runMemoFileDialog(). By default that shows a QFileDialog; a test installs its
// own runner to answer the dialogs without a user and to check what was asked.
#pragma once

#include <QString>

#include <filesystem>
#include <functional>

class QWidget;

namespace tq {

struct MemoFileRequest {
    enum class Kind {
        Open, // one existing file
        Save, // a file name to write in an existing folder; asks before replacing a file
    };
    Kind kind = Kind::Open;
    QString title;
    // Folder the dialog starts in (empty: the dialog's own choice).
    QString folder;
    // The name the dialog starts with ("*.crp").
    QString fileName;
    // The pattern offered ("*.crp", "*.ky1").
    QString filter;
    // Extension added to a name typed without one ("crp", "ky1"); empty for none.
    QString defaultSuffix;
};

// Returns the chosen file's full path, or an empty string when cancelled.
using MemoFileDialogRunner = std::function<QString(QWidget* parent, const MemoFileRequest& request)>;

QString runMemoFileDialog(QWidget* parent, const MemoFileRequest& request);

// Installs a runner (an empty function restores the QFileDialog) and returns the
// previous one.
MemoFileDialogRunner setMemoFileDialogRunner(MemoFileDialogRunner runner);

// The user's desktop folder, read before every dialog: on Windows the value
// "Desktop" of the current user's Explorer "Shell Folders" registry key
// (absent: empty); elsewhere the desktop folder of the
// freedesktop.org user directories. Tests may override it.
QString desktopFolder();
void setDesktopFolderOverride(const QString& folder);

// A path for the engines' file functions.
std::filesystem::path toFsPath(const QString& path);

} // namespace tq
