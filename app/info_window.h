// The about dialog Tinfo: the program's emblem and product picture, a text box
// with name, version and credits, a link to the author's site and "&Ok".
//
// While it is shown the main window takes no input (the dialog behaves as
// modal); "&Ok", Enter and Esc close it.
#pragma once

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace tq {

class TImage;
class TWebLabel;

// The credit line of the about dialog and the help window.
inline constexpr const char* kAuthorCredit = "Written by the Tarnquill authors";

class Tinfo : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown
    // and which is disabled while it is shown.
    explicit Tinfo(QWidget* owner = nullptr);

    TImage* Image1 = nullptr;
    TImage* Image2 = nullptr;
    QPlainTextEdit* infoBox = nullptr;
    TWebLabel* WebLabel1 = nullptr;
    QPushButton* Button1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormShow();
    QWidget* owner_;
};

} // namespace tq
