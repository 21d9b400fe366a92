// The archive key dialog: the two keys (0..255) that shift the pair table of
// every compressed entry the archive window adds, and that are taken off again
// when it extracts.
//
// The keys live only in the two up-down controls: the archive window reads their
// positions at the moment it adds or extracts an entry. They start at the
// default archive keys at every program start and are never stored, except in
// key files the user saves explicitly (one decimal line each, extensions .ky1
// and .ky2). "&Ok" and "Annuleren" only hide the dialog.
#pragma once

#include <QSpinBox>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace tq {

// An up-down control with its attached edit box: a spin box whose edit box is
// reachable, so that the dialog can mask the key's digits.
class TKeyUpDown : public QSpinBox {
    Q_OBJECT
public:
    explicit TKeyUpDown(QWidget* parent = nullptr);
    QLineEdit* edit() const { return lineEdit(); }
};

class TfrmCompressKey : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TfrmCompressKey(QWidget* owner = nullptr);

    // The keys: the positions of the two up-down controls.
    int key1() const;
    int key2() const;

    // Commands: the toolbar's second and first buttons, and the two buttons.
    void SaveKeysClick();
    void LoadKeysClick();
    void btnOkClick();
    void btnAnnulerenClick();

    // The two edit boxes (masked) and their up-down controls, range 0..255.
    QLineEdit* edtKey1 = nullptr;
    QLineEdit* edtKey2 = nullptr;
    TKeyUpDown* UpDownSleutel1 = nullptr;
    TKeyUpDown* UpDownSleutel2 = nullptr;
    QToolButton* btnLoadKeys = nullptr;
    QToolButton* btnSaveKeys = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnAnnuleren = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Sets a key from a loaded text; refuses (with a message naming the file) a
    // text that is not a whole number 0..255.
    static int keyFromText(const QString& text, const QString& file);

    QWidget* owner_;
    // Line buffer for reading and writing key files.
    QStringList FWrite;
};

} // namespace tq
