// The send-mail window: composes and sends the memo by SMTP, optionally encrypted and with attachments.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards; its controls and commands are added with its own feature.
#pragma once

#include <QWidget>

namespace tq {

class TMail : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TMail(QWidget* owner = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* owner_;
};

} // namespace tq
