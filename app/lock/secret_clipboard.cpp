#include "app/lock/secret_clipboard.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>

namespace tq {
namespace {

// Private type holding the random token of one put(): tells our copy from any other.
const char* const kTokenMime = "application/x-tarnquill-secret-copy";

#if defined(Q_OS_WIN)
QByteArray dword0()
{
    return QByteArray(4, '\0');
}
#endif

} // namespace

const char* const SecretClipboard::kKdeHint = "x-kde-passwordManagerHint";
const char* const SecretClipboard::kMacConcealed = "org.nspasteboard.ConcealedType";

SecretClipboard::SecretClipboard(QObject* parent) : QObject(parent)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &SecretClipboard::clearOwn);
    // At the end of the event loop, before the platform hands the clipboard over
    // to a clipboard manager as the application object goes.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &SecretClipboard::clearOwn);
}

SecretClipboard::~SecretClipboard()
{
    clearOwn();
}

void SecretClipboard::put(QMimeData* data)
{
    data->setData(QString::fromLatin1(kKdeHint), QByteArrayLiteral("secret"));
#if defined(Q_OS_WIN)
    data->setData(QStringLiteral("application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\""),
                  dword0());
    data->setData(QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\""), dword0());
    data->setData(QStringLiteral("application/x-qt-windows-mime;value=\"CanUploadToCloudClipboard\""), dword0());
#elif defined(Q_OS_MACOS)
    data->setData(QString::fromLatin1(kMacConcealed), QByteArray());
#endif
    QByteArray token(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(token.data()), 4);
    data->setData(QString::fromLatin1(kTokenMime), token);
    token_ = token;
    QGuiApplication::clipboard()->setMimeData(data);
    timer_.start(timeoutMs_);
}

bool SecretClipboard::stillOurs() const
{
    if (token_.isEmpty()) {
        return false;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
#if !defined(Q_OS_MACOS)
    // (macOS reports no ownership; the token alone decides there.)
    if (!clipboard->ownsClipboard()) {
        return false;
    }
#endif
    const QMimeData* now = clipboard->mimeData();
    return now != nullptr && now->data(QString::fromLatin1(kTokenMime)) == token_;
}

void SecretClipboard::clearOwn()
{
    timer_.stop();
    if (QGuiApplication::instance() != nullptr && stillOurs()) {
        QGuiApplication::clipboard()->clear();
    }
    token_.clear();
}

} // namespace tq
