#include "app/keys/sleutel_window.h"

#include "app/guard.h"
#include "app/keys/key_value.h"
#include "app/mainwindow.h"
#include "app/toolimages.h"
#include "app/windowsetup.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QToolButton>

#include <stdexcept>

namespace tq {

TfrmSleutel::TfrmSleutel(TfrmMemo* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmSleutel"));
    prepareWindow(this, QStringLiteral("Keys"), QSize(235, 163), Frame::ToolWindow, true);

    auto tool = [this](QToolButton*& button, const char* name, ToolArt art, const QString& hint, int x) {
        button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(name));
        const QPixmap pixmap = toolPixmap(art);
        button->setIcon(QIcon(pixmap));
        button->setIconSize(pixmap.size());
        button->setToolTip(hint);
        button->setAutoRaise(true);
        button->setGeometry(x, 4, pixmap.width() + 6, pixmap.height() + 6);
    };
    tool(btnOpenen, "btnOpenen", ToolArt::OpenKeys, QStringLiteral("Open keys"), 6);
    tool(btnOpslaan, "btnOpslaan", ToolArt::SaveKeys, QStringLiteral("Save keys"), 6 + btnOpenen->width() + 2);

    struct Row {
        QLabel** label;
        QLineEdit** edit;
        QSpinBox** upDown;
        int minimum;
        int maximum;
        const char* designText;
    };
    const Row rows[] = {
        {&lblSleutel1, &edtSleutel1, &UpDown1, 5, 127, "5"},
        {&lblSleutel2, &edtSleutel2, &UpDown2, 7, 31, "7"},
        {&lblSleutel3, &edtSleutel3, &UpDown3, 10, 254, "10"},
        {&lblSleutel4, &edtSleutel4, &UpDown4, 1, 1000, "1"},
    };
    const int top = btnOpenen->geometry().bottom() + 6;
    for (int i = 0; i < 4; ++i) {
        const Row& r = rows[i];
        const int n = i + 1;
        const int y = top + i * 24;
        auto* label = new QLabel(QStringLiteral("Key %1:").arg(n), this);
        label->setObjectName(QStringLiteral("lblSleutel%1").arg(n));
        label->setGeometry(10, y + 2, 50, 18);
        auto* edit = new QLineEdit(QString::fromLatin1(r.designText), this);
        edit->setObjectName(QStringLiteral("edtSleutel%1").arg(n));
        edit->setEchoMode(QLineEdit::Password);
        edit->setToolTip(QStringLiteral("Key %1").arg(n));
        edit->setGeometry(64, y, 60, 21);
        auto* upDown = new QSpinBox(this);
        upDown->setObjectName(QStringLiteral("UpDown%1").arg(n));
        upDown->setRange(r.minimum, r.maximum);
        upDown->setValue(edit->text().toInt());
        upDown->setWrapping(false);
        upDown->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        if (auto* inner = upDown->findChild<QLineEdit*>()) {
            inner->setEchoMode(QLineEdit::NoEcho);
        }
        upDown->setGeometry(124, y, 17, 21);
        // The arrows step the value and write it into the box; a number typed
        // into the box within the range moves the up-down.
        connect(upDown, qOverload<int>(&QSpinBox::valueChanged), edit, [edit](int value) {
            bool ok = false;
            if (edit->text().toInt(&ok) != value || !ok) {
                edit->setText(QString::number(value));
            }
        });
        connect(edit, &QLineEdit::textEdited, upDown, [upDown](const QString& text) {
            bool ok = false;
            const int value = text.toInt(&ok);
            if (ok && value >= upDown->minimum() && value <= upDown->maximum()) {
                upDown->setValue(value);
            }
        });
        label->setBuddy(edit);
        *r.label = label;
        *r.edit = edit;
        *r.upDown = upDown;
    }

    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setAutoDefault(true);
    btnOk->setGeometry(150, top, 76, 25);
    btnAnnuleren = new QPushButton(QStringLiteral("Cancel"), this);
    btnAnnuleren->setObjectName(QStringLiteral("btnAnnuleren"));
    btnAnnuleren->setGeometry(150, top + 31, 76, 25);

    connect(btnOk, &QPushButton::clicked, this, guarded(this, [this] { btnOkClick(); }));
    connect(btnAnnuleren, &QPushButton::clicked, this, guarded(this, [this] { btnAnnulerenClick(); }));
    connect(btnOpenen, &QToolButton::clicked, this, guarded(this, [this] { btnOpenenClick(); }));
    connect(btnOpslaan, &QToolButton::clicked, this, guarded(this, [this] { btnOpslaanClick(); }));
}

TfrmMemo* TfrmSleutel::memo() const
{
    if (owner_ == nullptr) {
        throw std::logic_error("The key dialog has no main window.");
    }
    return owner_;
}

QLineEdit* TfrmSleutel::box(int n) const
{
    QLineEdit* const boxes[] = {edtSleutel1, edtSleutel2, edtSleutel3, edtSleutel4};
    return boxes[n - 1];
}

QSpinBox* TfrmSleutel::boxUpDown(int n) const
{
    QSpinBox* const upDowns[] = {UpDown1, UpDown2, UpDown3, UpDown4};
    return upDowns[n - 1];
}

void TfrmSleutel::setBoxes(const QString (&values)[4])
{
    for (int n = 1; n <= 4; ++n) {
        bool ok = false;
        const int value = values[n - 1].toInt(&ok);
        if (ok) {
            boxUpDown(n)->setValue(value);
        }
        box(n)->setText(values[n - 1]);
    }
}

void TfrmSleutel::FormShow()
{
    if (isVisible()) {
        btnOk->setFocus();
    }
    TfrmMemo* m = memo();
    for (int n = 1; n <= 4; ++n) {
        boxUpDown(n)->setValue(m->keyNumber(n));
        box(n)->setText(m->keyText(n));
    }
}

void TfrmSleutel::applyKeys()
{
    TfrmMemo* m = memo();
    for (int n = 1; n <= 4; ++n) {
        m->setKeyNumber(n, keyValue(box(n)->text(), QStringLiteral("key %1").arg(n)));
    }
    for (int n = 1; n <= 4; ++n) {
        m->setKeyText(n, box(n)->text());
    }
}

void TfrmSleutel::btnOkClick()
{
    applyKeys();
    // The command-line file opens with the first Ok only: a later Ok (the
    // dialog shown again from the Edit menu) must not replace the memo, which
    // may hold edits, with the file once more.
    const QString path = startFile_;
    startFile_.clear();
    const QFileInfo info(path);
    if (!path.isEmpty() && info.exists() && info.isFile() &&
        QStringLiteral(".") + info.suffix().toUpper() == QStringLiteral(".CRP") && memo()->confirmDiscard(this)) {
        memo()->OpenTarnFile(path);
    }
    hide();
}

void TfrmSleutel::btnAnnulerenClick()
{
    startFile_.clear();
    hide();
}

void TfrmSleutel::btnOpenenClick()
{
    memo()->OpenKeysCommand();
}

void TfrmSleutel::btnOpslaanClick()
{
    applyKeys();
    memo()->SaveKeysCommand();
}

void TfrmSleutel::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        runGuarded(this, [this] { FormShow(); });
    }
}

void TfrmSleutel::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        runGuarded(this, [this] { btnOkClick(); });
        return;
    case Qt::Key_Escape:
        runGuarded(this, [this] { btnAnnulerenClick(); });
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TfrmSleutel::closeEvent(QCloseEvent* event)
{
    // Closing by the title bar is Cancel.
    startFile_.clear();
    QWidget::closeEvent(event);
}

} // namespace tq
