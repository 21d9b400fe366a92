// The folder picker of the archive window.
//
// A tree of the file system's folders (folders only, from the file-system root
// or the drives down, opened at the user's desktop or home folder the first
// time). The caller sets the caption ("Plaatsen in map..." or "Map selecteren")
// and calls ExeCute(), which shows the dialog and waits in an event loop until it
// is closed; it returns Confirmed, and SelectedPath holds the chosen folder.
// The dialog is created once and reused; the tree keeps its expanded folders and
// its selection between uses.
#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QFileSystemModel;
class QPushButton;
class QTreeView;
class QStatusBar;

namespace tq {

class TPathDialog : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TPathDialog(QWidget* owner = nullptr);

    // Shows the dialog and processes events until it is closed; returns Confirmed.
    bool ExeCute();

    // The folder chosen with "&Ok" (empty after "Annuleren" or when the selection
    // has no file-system path).
    QString SelectedPath;
    // True after "&Ok"; false after "Annuleren", any other close, and on showing.
    bool Confirmed = false;
    // Ends the wait of ExeCute: false on showing, true after every close.
    bool Closed = false;

    // The path of the folder selected in the tree, empty when none.
    QString currentFolder() const;
    // Selects `folder` in the tree (expanding its parents) and scrolls to it.
    void selectFolder(const QString& folder);
    // Clears the tree's selection.
    void clearSelection();

    // The buttons' commands.
    void btnOkClick();
    void btnCancelClick();

    // (Tests answer the dialog through setFolderPickerHandler, app/seams.h.)

    QTreeView* ShellTreeView = nullptr;
    QFileSystemModel* model = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnAnnuleren = nullptr;
    QStatusBar* StatusBar = nullptr;

signals:
    void closedDialog();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* owner_;
    bool closingByOk_ = false;
    bool startPlaced_ = false;
    // The selection was set by selectFolder and should be scrolled into view
    // while the folders above it are still being read; a user's own scrolling
    // (any click in the tree) ends this.
    bool scrollPending_ = false;
};

} // namespace tq
