#include "app/keys/niveau_window.h"

#include "app/windowsetup.h"

#include <QCheckBox>
#include <algorithm>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QShowEvent>
#include <QSpinBox>

namespace tq {

namespace {

// A small drawn gauge for the decorative picture (no image files are shipped).
QPixmap gaugePicture()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(250, 240, 200));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    const QColor bars[] = {QColor(60, 160, 60), QColor(220, 180, 40), QColor(200, 60, 40)};
    for (int i = 0; i < 3; ++i) {
        p.fillRect(QRectF(8 + i * 6, 22 - i * 5, 4, 4 + i * 5), bars[i]);
    }
    return pixmap;
}

} // namespace

void coupleEditToUpDown(QLineEdit* edit, QSpinBox* upDown)
{
    edit->setText(QString::number(upDown->value()));
    QObject::connect(upDown, qOverload<int>(&QSpinBox::valueChanged), edit, [edit](int value) {
        // While the user types an out-of-range number the value moves to the bound
        // but the field keeps the typed text.
        if (edit->hasFocus() && edit->isModified()) {
            return;
        }
        const QString text = QString::number(value);
        if (edit->text() != text) {
            edit->setText(text);
        }
    });
    QObject::connect(edit, &QLineEdit::textEdited, upDown, [upDown](const QString& text) {
        bool ok = false;
        const long long value = text.trimmed().toLongLong(&ok);
        if (!ok) {
            return;
        }
        const long long clamped = std::max<long long>(upDown->minimum(), std::min<long long>(upDown->maximum(), value));
        upDown->setValue(static_cast<int>(clamped));
    });
    QObject::connect(edit, &QLineEdit::editingFinished, upDown, [edit, upDown] {
        edit->setModified(false);
        edit->setText(QString::number(upDown->value()));
    });
    // Stepping with the arrows ends any typing in the field.
    QObject::connect(upDown, &QAbstractSpinBox::editingFinished, edit, [edit, upDown] {
        edit->setModified(false);
        edit->setText(QString::number(upDown->value()));
    });
}

namespace {

QSpinBox* makeUpDown(QWidget* parent, const char* name, int minimum, int maximum, int value)
{
    auto* upDown = new QSpinBox(parent);
    upDown->setObjectName(QString::fromLatin1(name));
    upDown->setRange(minimum, maximum);
    upDown->setValue(value);
    upDown->setWrapping(false);
    upDown->setSingleStep(1);
    upDown->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    // Only the arrows show; the number lives in the edit field beside them.
    if (auto* inner = upDown->findChild<QLineEdit*>()) {
        inner->setEchoMode(QLineEdit::NoEcho);
    }
    return upDown;
}

} // namespace

TNiveau::TNiveau(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TNiveau"));
    prepareWindow(this, QStringLiteral("Compressie instellingen"), QSize(269, 116), Frame::ToolWindow, true);

    imgNiveau = new QLabel(this);
    imgNiveau->setObjectName(QStringLiteral("imgNiveau"));
    imgNiveau->setPixmap(gaugePicture());
    imgNiveau->setGeometry(4, 4, 32, 32);

    chkMaxTime = new QCheckBox(QStringLiteral("Maximum tijd inschakelen"), this);
    chkMaxTime->setObjectName(QStringLiteral("chkMaxTime"));
    chkMaxTime->setChecked(true);
    chkMaxTime->setGeometry(42, 4, 222, 18);
    connect(chkMaxTime, &QCheckBox::clicked, this, [this] { chkMaxTimeClick(); });

    lblMaxMSec = new QLabel(QStringLiteral("Maximum aantal Msec voor het sorteren per 2 bytes:"), this);
    lblMaxMSec->setObjectName(QStringLiteral("lblMaxMSec"));
    lblMaxMSec->setGeometry(42, 24, 170, 28);
    lblMaxMSec->setWordWrap(true);
    edtMaxMSec = new QLineEdit(this);
    edtMaxMSec->setObjectName(QStringLiteral("edtMaxMSec"));
    edtMaxMSec->setGeometry(214, 28, 34, 21);
    UpDownMaxMSec = makeUpDown(this, "UpDownMaxMSec", 1, 255, 255);
    UpDownMaxMSec->setGeometry(248, 28, 17, 21);
    coupleEditToUpDown(edtMaxMSec, UpDownMaxMSec);
    lblMaxMSec->setBuddy(edtMaxMSec);

    lblSkipBytes = new QLabel(QStringLiteral("Aantal bytes overslaan bij het maken van tabel:"), this);
    lblSkipBytes->setObjectName(QStringLiteral("lblSkipBytes"));
    lblSkipBytes->setGeometry(42, 54, 170, 28);
    lblSkipBytes->setWordWrap(true);
    edtSkipBytes = new QLineEdit(this);
    edtSkipBytes->setObjectName(QStringLiteral("edtSkipBytes"));
    edtSkipBytes->setGeometry(214, 58, 34, 21);
    UpDownSkipBytes = makeUpDown(this, "UpDownSkipBytes", 2, 32000, 2);
    UpDownSkipBytes->setGeometry(248, 58, 17, 21);
    coupleEditToUpDown(edtSkipBytes, UpDownSkipBytes);
    lblSkipBytes->setBuddy(edtSkipBytes);

    chkUseCompression = new QCheckBox(QStringLiteral("Compressie gebruiken na encryptie"), this);
    chkUseCompression->setObjectName(QStringLiteral("chkUseCompression"));
    chkUseCompression->setChecked(true);
    chkUseCompression->setToolTip(
        QStringLiteral("Not used: an encrypted memo file is always saved compressed."));
    chkUseCompression->setGeometry(8, 94, 258, 18);

    chkMaxTimeClick();
}

void TNiveau::chkMaxTimeClick()
{
    const bool on = chkMaxTime->isChecked();
    edtMaxMSec->setEnabled(on);
    UpDownMaxMSec->setEnabled(on);
}

void TNiveau::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
        chkMaxTimeClick();
    }
    QWidget::showEvent(event);
}

} // namespace tq
