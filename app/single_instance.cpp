#include "app/single_instance.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <memory>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tq {
namespace {

// A running program answers at once from its event loop; a long command pumps
// events too, so it answers within these times as well.
constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 5000;
// A connection that sends nothing useful is dropped after this time or length.
constexpr int kIdleConnectionMs = 10000;
constexpr qsizetype kMaxLine = 64 * 1024;

const QByteArray kTaken = QByteArrayLiteral("ok\n");

} // namespace

QString TSingleInstance::userServerName()
{
#ifdef _WIN32
    // Pipe names are seen by every session: the user's name (in hex, as a pipe
    // name may not hold every character a user name may) makes it the user's.
    return QStringLiteral("tarnquill-") + QString::fromLatin1(qEnvironmentVariable("USERNAME").toUtf8().toHex());
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) {
        return runtime + QStringLiteral("/tarnquill.socket");
    }
    return QStringLiteral("tarnquill-") + QString::number(getuid());
#endif
}

TSingleInstance::TSingleInstance(const QString& serverName, QObject* parent)
    : QObject(parent)
    , name_(serverName)
    , server_(new QLocalServer(this))
{
    // Only the user's own programs may connect.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] { acceptConnections(); });
}

TSingleInstance::~TSingleInstance() = default;

TSingleInstance::Outcome TSingleInstance::start(const QString& argument)
{
    // A second try covers a start that took the name between our attempt to
    // connect and our attempt to listen.
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (handOver(argument)) {
        case Delivery::Taken:
            return Outcome::HandedOver;
        case Delivery::NotTaken:
            return Outcome::NoAnswer;
        case Delivery::NobodyListens:
            break;
        }
        if (server_->listen(name_)) {
            return Outcome::Listening;
        }
        if (server_->serverError() != QAbstractSocket::AddressInUseError) {
            return Outcome::Alone;
        }
    }
    // The name is taken and nobody answers on it: the socket of a program that
    // was killed.
    QLocalServer::removeServer(name_);
    return server_->listen(name_) ? Outcome::Listening : Outcome::Alone;
}

TSingleInstance::Delivery TSingleInstance::handOver(const QString& argument) const
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(kConnectMs)) {
        return Delivery::NobodyListens;
    }
    socket.write(argument.toUtf8() + '\n');
    socket.flush();
    QByteArray answer;
    QElapsedTimer waited;
    waited.start();
    while (!answer.contains('\n') && waited.elapsed() < kAnswerMs) {
        if (!socket.waitForReadyRead(static_cast<int>(kAnswerMs - waited.elapsed()))) {
            break;
        }
        answer += socket.readAll();
    }
    return answer == kTaken ? Delivery::Taken : Delivery::NotTaken;
}

void TSingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kIdleConnectionMs, socket, [socket] { socket->abort(); });
        auto line = std::make_shared<QByteArray>();
        auto done = std::make_shared<bool>(false);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, line, done] {
            if (*done) {
                socket->readAll();
                return;
            }
            *line += socket->readAll();
            const qsizetype end = line->indexOf('\n');
            if (end < 0) {
                if (line->size() > kMaxLine) {
                    socket->abort();
                }
                return;
            }
            *done = true;
            const QString argument = QString::fromUtf8(line->left(end));
            socket->write(kTaken);
            socket->disconnectFromServer();
            // Opened from the event loop, not from inside the socket's handler.
            QTimer::singleShot(0, this, [this, argument] { emit argumentReceived(argument); });
        });
    }
}

} // namespace tq
