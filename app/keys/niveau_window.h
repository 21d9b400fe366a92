// The compression settings: sort time limit and table sampling step of the compressor.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards. It has no OK or Cancel: a command reads what the controls show at
// the moment it starts. Nothing is stored between runs.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace tq {

class TNiveau : public QWidget {
    Q_OBJECT
public:
    // `owner` is the main window, over which the window is centred when shown.
    explicit TNiveau(QWidget* owner = nullptr);

    // Switches the sort time limit on or off (ticked at start).
    QCheckBox* chkMaxTime = nullptr;
    // The sort time limit in milliseconds, 1 to 255 (255 at start). The edit field
    // shows the number; the up-down's value is the setting.
    QLabel* lblMaxMSec = nullptr;
    QLineEdit* edtMaxMSec = nullptr;
    QSpinBox* UpDownMaxMSec = nullptr;
    // The sampling step of table building, 2 to 32,000 (2 at start).
    QLabel* lblSkipBytes = nullptr;
    QLineEdit* edtSkipBytes = nullptr;
    QSpinBox* UpDownSkipBytes = nullptr;
    // Shown and toggleable; the encrypted memo file is always saved compressed.
    QCheckBox* chkUseCompression = nullptr;
    // The decorative picture at the top left.
    QLabel* imgNiveau = nullptr;

    // Enables the millisecond field and its up-down exactly when chkMaxTime is ticked.
    void chkMaxTimeClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* owner_;
};

// Couples a plain edit field to an up-down that holds the value. Arrows and the
// value write the number into the field. Typing a whole number in range sets the
// value; a number outside the range sets the nearest bound while the field keeps
// what was typed; any other text leaves the value. When the field loses focus or
// Enter is pressed, it shows the value again.
void coupleEditToUpDown(QLineEdit* edit, QSpinBox* upDown);

} // namespace tq
