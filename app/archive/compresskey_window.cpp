#include "app/archive/compresskey_window.h"

#include "app/guard.h"
#include "app/toolimages.h"
#include "app/windowsetup.h"
#include "archive/archive_ops.h"
#include "app/seams.h"
#include "app/keys/key_value.h"
#include "app/userfolders.h"
#include "platform/atomicfile.h"
#include "platform/fileio.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <stdexcept>

namespace tq {
namespace {

constexpr int kKeyMin = 0;
constexpr int kKeyMax = 255;

QString keyExtension(int k)
{
    return QStringLiteral("ky") + QString::number(k);
}

std::string utf8(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace

TKeyUpDown::TKeyUpDown(QWidget* parent)
    : QSpinBox(parent)
{
    setRange(kKeyMin, kKeyMax);
    setWrapping(false);
    // Keys are secret: the digits are drawn as filled circles.
    lineEdit()->setEchoMode(QLineEdit::Password);
}

TfrmCompressKey::TfrmCompressKey(QWidget* owner)
    : QWidget(nullptr)
    , owner_(owner)
{
    setObjectName(QStringLiteral("TfrmCompressKey"));
    prepareWindow(this, QStringLiteral("Compressie sleutel"), QSize(207, 133), Frame::ToolWindow, true);

    btnLoadKeys = new QToolButton(this);
    btnLoadKeys->setObjectName(QStringLiteral("btnLoadKeys"));
    btnLoadKeys->setIcon(QIcon(toolPixmap(ToolArt::OpenKeys)));
    btnLoadKeys->setAutoRaise(true);
    btnSaveKeys = new QToolButton(this);
    btnSaveKeys->setObjectName(QStringLiteral("btnSaveKeys"));
    btnSaveKeys->setIcon(QIcon(toolPixmap(ToolArt::SaveKeys)));
    btnSaveKeys->setAutoRaise(true);

    UpDownSleutel1 = new TKeyUpDown(this);
    UpDownSleutel1->setObjectName(QStringLiteral("UpDownSleutel1"));
    UpDownSleutel1->setValue(kDefaultArchiveKey1);
    UpDownSleutel2 = new TKeyUpDown(this);
    UpDownSleutel2->setObjectName(QStringLiteral("UpDownSleutel2"));
    UpDownSleutel2->setValue(kDefaultArchiveKey2);
    edtKey1 = UpDownSleutel1->edit();
    edtKey1->setObjectName(QStringLiteral("edtKey1"));
    edtKey2 = UpDownSleutel2->edit();
    edtKey2->setObjectName(QStringLiteral("edtKey2"));

    btnOk = new QPushButton(QStringLiteral("&Ok"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnAnnuleren = new QPushButton(QStringLiteral("Annuleren"), this);
    btnAnnuleren->setObjectName(QStringLiteral("btnAnnuleren"));

    auto* tools = new QHBoxLayout;
    tools->setSpacing(0);
    tools->addWidget(btnLoadKeys);
    tools->addWidget(btnSaveKeys);
    tools->addStretch(1);

    auto* keys = new QGridLayout;
    keys->addWidget(new QLabel(QStringLiteral("Sleutel 1:"), this), 0, 0);
    keys->addWidget(UpDownSleutel1, 0, 1);
    keys->addWidget(new QLabel(QStringLiteral("Sleutel 2:"), this), 1, 0);
    keys->addWidget(UpDownSleutel2, 1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnAnnuleren);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 6);
    layout->setSpacing(4);
    layout->addLayout(tools);
    layout->addLayout(keys);
    layout->addLayout(buttons);

    connect(btnLoadKeys, &QToolButton::clicked, this, guarded(this, [this] { LoadKeysClick(); }));
    connect(btnSaveKeys, &QToolButton::clicked, this, guarded(this, [this] { SaveKeysClick(); }));
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnAnnuleren, &QPushButton::clicked, this, [this] { btnAnnulerenClick(); });
}

int TfrmCompressKey::key1() const
{
    return UpDownSleutel1->value();
}

int TfrmCompressKey::key2() const
{
    return UpDownSleutel2->value();
}

int TfrmCompressKey::keyFromText(const QString& text, const QString& file)
{
    const std::optional<std::int32_t> value = parseKeyValue(text);
    if (!value || *value < kKeyMin || *value > kKeyMax) {
        throw std::runtime_error("The key file \"" + utf8(file) + "\" does not hold a key from 0 to 255 (it holds \"" +
                                 utf8(text.trimmed().left(40)) + "\").");
    }
    return *value;
}

void TfrmCompressKey::SaveKeysClick()
{
    // The texts as the edit boxes show them, committed to the up-downs first.
    UpDownSleutel1->interpretText();
    UpDownSleutel2->interpretText();
    const QString texts[2] = {QString::number(key1()), QString::number(key2())};
    for (int k = 1; k <= 2; ++k) {
        FileRequest request;
        request.kind = FileRequest::Kind::Save;
        request.title = QStringLiteral("Sleutels opslaan...");
        request.fileName = QStringLiteral("*.") + keyExtension(k);
        request.filter = request.fileName;
        request.defaultSuffix = keyExtension(k);
        request.confirmOverwrite = false;
        const QStringList chosen = runFileDialog(this, request);
        if (chosen.isEmpty()) {
            return;
        }
        FWrite.clear();
        FWrite.push_back(texts[k - 1]);
        const QString path = chosen.first();
        // A key file is a document: replaced atomically, through a link in its place.
        AtomicFile out(toFsPath(path));
        for (const QString& line : FWrite) {
            const QByteArray bytes = line.toLatin1() + "\r\n";
            out.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        out.commit();
    }
}

void TfrmCompressKey::LoadKeysClick()
{
    UpDownSleutel1->interpretText();
    UpDownSleutel2->interpretText();
    int values[2] = {key1(), key2()};
    for (int k = 1; k <= 2; ++k) {
        FileRequest request;
        request.kind = FileRequest::Kind::OpenOne;
        request.title = QStringLiteral("Sleutels openen...");
        request.fileName = QStringLiteral("*.") + keyExtension(k);
        request.filter = request.fileName;
        request.defaultSuffix = keyExtension(k);
        const QStringList chosen = runFileDialog(this, request);
        if (chosen.isEmpty()) {
            break; // a key loaded before the cancel is kept
        }
        const QString path = chosen.first();
        // A key file is one short line; anything longer is not a key file.
        InputFile in(toFsPath(path));
        QByteArray content(static_cast<int>(std::min<std::uint64_t>(in.size(), 4096)), '\0');
        in.read(reinterpret_cast<std::uint8_t*>(content.data()), static_cast<std::size_t>(content.size()));
        FWrite = QString::fromLatin1(content).split(QLatin1Char('\n'));
        if (content.isEmpty() || FWrite.isEmpty()) {
            throw std::runtime_error("The key file \"" + utf8(path) + "\" is empty.");
        }
        values[k - 1] = keyFromText(FWrite.first(), path);
    }
    UpDownSleutel1->setValue(values[0]);
    UpDownSleutel2->setValue(values[1]);
}

void TfrmCompressKey::btnOkClick()
{
    UpDownSleutel1->interpretText();
    UpDownSleutel2->interpretText();
    hide();
}

void TfrmCompressKey::btnAnnulerenClick()
{
    // Nothing is restored: a key changed in the dialog stays changed.
    UpDownSleutel1->interpretText();
    UpDownSleutel2->interpretText();
    hide();
}

void TfrmCompressKey::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, owner_);
    }
    QWidget::showEvent(event);
}

void TfrmCompressKey::keyPressEvent(QKeyEvent* event)
{
    if (!dialogKey(event, [this] { btnOkClick(); }, [this] { btnAnnulerenClick(); })) {
        QWidget::keyPressEvent(event);
    }
}

} // namespace tq
