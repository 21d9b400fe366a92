// The panel that takes the memo's place while it is locked: a lock sign, the
// text "The memo is locked." with a line on how to get it back, and the button
// "Unlock..." that asks for the passphrase.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace tq {

class LockedPanel : public QWidget {
    Q_OBJECT

public:
    explicit LockedPanel(QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    QPushButton* unlockButton() const { return unlock_; }

signals:
    void unlockRequested();

private:
    QLabel* title_ = nullptr;
    QPushButton* unlock_ = nullptr;
};

} // namespace tq
