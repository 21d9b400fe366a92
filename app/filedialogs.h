// The program's open and save dialogs (memo files, key files, archives).
//
// Every file dialog is described by a FileRequest and shown through
// runFileDialog(). By default that shows a QFileDialog; a test installs its own
// runner to answer the dialogs without a user and to check what was asked.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace tq {

struct FileRequest {
    enum class Kind {
        OpenOne,  // one existing file
        OpenMany, // one or more existing files
        Save,     // a file name to write
    };
    Kind kind = Kind::OpenOne;
    QString title;
    // Folder the dialog starts in (empty or missing: the home folder).
    QString folder;
    // The name the dialog starts with ("*.X").
    QString fileName;
    // The pattern offered ("*.crp"), or a description and patterns separated by '|'
    // ("*.X|*.X").
    QString filter;
    // Further patterns the user may switch to, in the same form as `filter`.
    QStringList moreFilters;
    // Extension added to a name typed without one ("X", "ky1"); empty for none.
    QString defaultSuffix;
    // Save only: ask before replacing an existing file.
    bool confirmOverwrite = true;
};

// The file-name patterns a dialog offers for a request's filter ("*.X|*.X" gives
// *.X, *.x). "*.*" means every file, as on Windows, so it becomes "*": on other
// systems "*.*" would hide names without a dot (README, Makefile).
QStringList dialogPatterns(const QString& filter);

// Returns the chosen files (empty when the dialog was cancelled).
using FileDialogRunner = std::function<QStringList(QWidget* parent, const FileRequest& request)>;

QStringList runFileDialog(QWidget* parent, const FileRequest& request);

// The one chosen file of an OpenOne or Save request, or an empty string.
QString runSingleFileDialog(QWidget* parent, const FileRequest& request);

// Installs a runner (an empty function restores the QFileDialog) and returns the
// previous one.
FileDialogRunner setFileDialogRunner(FileDialogRunner runner);

} // namespace tq
