// The memo key dialog: shows and edits the four key values of the main window,
// offers the key-file commands, and opens a .crp file given on the command line
// once the keys are confirmed.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards; it does not block the main window and stays in front of it.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace tq {

class TfrmMemo;

class TfrmSleutel : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window (TfrmMemo), over which the window is centred
    // when shown and whose key fields it edits.
    explicit TfrmSleutel(QWidget* owner = nullptr);

    QToolButton* btnOpenen = nullptr;
    QToolButton* btnOpslaan = nullptr;
    QLabel* lblSleutel1 = nullptr;
    QLabel* lblSleutel2 = nullptr;
    QLabel* lblSleutel3 = nullptr;
    QLabel* lblSleutel4 = nullptr;
    QLineEdit* edtSleutel1 = nullptr;
    QLineEdit* edtSleutel2 = nullptr;
    QLineEdit* edtSleutel3 = nullptr;
    QLineEdit* edtSleutel4 = nullptr;
    QSpinBox* UpDown1 = nullptr;
    QSpinBox* UpDown2 = nullptr;
    QSpinBox* UpDown3 = nullptr;
    QSpinBox* UpDown4 = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnAnnuleren = nullptr;

    // Box n (1..4) and its up-down.
    QLineEdit* box(int n) const;
    QSpinBox* boxUpDown(int n) const;
    // Puts four texts into the boxes (Open keys of the main window does this
    // while the dialog is visible).
    void setBoxes(const QString (&values)[4]);

    // Fills the boxes from the main window's key fields.
    void FormShow();
    // Applies the keys to the main window; opens the start-up .crp file the
    // first time; hides the dialog.
    void btnOkClick();
    void btnAnnulerenClick();
    void btnOpenenClick();
    void btnOpslaanClick();

    // The .crp file of the command line waits for this dialog's first Ok. Set
    // by the main window when it shows the dialog at start-up.
    void setStartFile(const QString& path) { startFile_ = path; }
    const QString& startFile() const { return startFile_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Enter is Ok (the default button), Esc is Cancel.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Steps 1 and 2 of Ok: the main window's up-downs, then its fields' texts.
    void applyKeys();
    TfrmMemo* memo() const;

    QWidget* owner_;
    QString startFile_;
};

} // namespace tq
