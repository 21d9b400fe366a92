// The attachment list of the send-mail window.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards; its controls and commands are added with its own feature.
#pragma once

#include <QWidget>

namespace tq {

class TfrmDelAttach : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TfrmDelAttach(QWidget* owner = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* owner_;
};

} // namespace tq
