// The receive-mail window: fetches mail from a POP3 mailbox into the memo.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards; its controls and commands are added with its own feature.
#pragma once

#include <QWidget>

namespace tq {

class TmailOntvangen : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TmailOntvangen(QWidget* owner = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* owner_;
};

} // namespace tq
