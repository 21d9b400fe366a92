// The help window TfrmHelp: a page control with "Basic Help" (a legend of the
// main window's tools, each row the tool's image and what it does) and
// "Contact" (name, version and the author's contact details), and "&Close".
//
// Showing it always selects "Basic Help" and refreshes the version label; the
// main window stays usable meanwhile. "&Close", Enter and Esc close it.
#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace tq {

class TfrmHelp : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TfrmHelp(QWidget* owner = nullptr);

    QTabWidget* PageControlHelp = nullptr;
    QWidget* tabAlgemeen = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLabel* lblVersie = nullptr;
    QPlainTextEdit* tabContact = nullptr;
    QPushButton* btnSluiten = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildBasicHelp();
    void buildContact();
    void FormShow();
    QWidget* owner_;
};

} // namespace tq
