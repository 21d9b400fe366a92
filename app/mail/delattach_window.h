// The attachment list of the send-mail window: shows the files the next message
// carries and lets the user remove entries and add files.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards. It works on the send window's attachment list (full file paths),
// which it refills into FileList every time it becomes active.
#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QAction;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;

namespace tq {

// The file-open dialog that picks an attachment; the chosen path, or an empty
// text when the dialog was cancelled.
QString askAttachmentFile(QWidget* parent);

class TfrmDelAttach : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TfrmDelAttach(QWidget* owner = nullptr);

    // The list the window shows and edits (the send window's attachments).
    void setAttachments(std::vector<std::string>* attachments) { attachments_ = attachments; }

    void FormActivate();
    void btnVerwijderenClick();
    void btnToevoegenClick();
    // The 200 ms timer's tick: Remove and the pop-up item follow the list.
    void TimerTimer();

    QListWidget* FileList = nullptr;
    QPushButton* btnVerwijderen = nullptr;
    QPushButton* btnSluiten = nullptr;
    QPushButton* btnToevoegen = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* Verwijderen1 = nullptr;
    QTimer* Timer = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refill();

    QWidget* owner_;
    std::vector<std::string>* attachments_ = nullptr;
};

} // namespace tq
