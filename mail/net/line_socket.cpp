#include "mail/net/line_socket.h"

#include "mail/mail_errors.h"
#include "platform/codepage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostInfo>
#include <QSslCipher>
#include <QSslConfiguration>

#include <algorithm>
#include <memory>
#include <vector>

namespace tq {
namespace {

// State of one host lookup, shared with Qt's callback (which may outlive the wait).
struct Lookup {
    bool done = false;
    QHostInfo info;
};

// What is wrong with a certificate, in words a user can act on.
std::string problemOf(const QList<QSslError>& errors)
{
    std::vector<std::string> parts;
    auto add = [&](const std::string& text) {
        if (std::find(parts.begin(), parts.end(), text) == parts.end()) {
            parts.push_back(text);
        }
    };
    for (const QSslError& e : errors) {
        switch (e.error()) {
        case QSslError::HostNameMismatch:
            add("it is issued for another name");
            break;
        case QSslError::CertificateExpired:
            add("it has expired");
            break;
        case QSslError::CertificateNotYetValid:
            add("it is not valid yet");
            break;
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            add("it is self-signed");
            break;
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
            add("it is issued by an authority this computer does not trust");
            break;
        case QSslError::CertificateRevoked:
            add("it has been revoked");
            break;
        default:
            add(e.errorString().toStdString());
            break;
        }
    }
    std::string text;
    for (const auto& p : parts) {
        text += (text.empty() ? "" : "; ") + p;
    }
    return text.empty() ? std::string("it cannot be verified") : text;
}

} // namespace

ECertificateError::ECertificateError(const std::string& server, const std::string& problem,
                                     const std::string& fingerprint,
                                     const QSslCertificate& certificate)
    : ESockError("The certificate of " + server + " is not trusted: " + problem +
                 ". SHA-256 fingerprint: " + fingerprint)
    , server_(server)
    , problem_(problem)
    , fingerprint_(fingerprint)
    , certificate_(certificate)
{
}

TLineSocket::TLineSocket(QObject* parent) : QObject(parent)
{
    // Qt's sockets need an application object (its event dispatcher); without
    // it no socket can work.
    if (QCoreApplication::instance() == nullptr) {
        throw ESockError("Initializaton of windows sockets failed");
    }
    report(8, "Create");
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        report(8, "Timer Triggered");
        timer_.stop();
        timedOut_ = true;
        deadlinePassed_ = deadlineLeft() == 0;
        lookupDone_ = true;
        wake();
    });
    auto wakeUp = [this] { wake(); };
    QObject::connect(&socket_, &QAbstractSocket::connected, this, wakeUp);
    QObject::connect(&socket_, &QAbstractSocket::disconnected, this, wakeUp);
    QObject::connect(&socket_, &QAbstractSocket::errorOccurred, this, wakeUp);
    QObject::connect(&socket_, &QAbstractSocket::stateChanged, this, wakeUp);
    QObject::connect(&socket_, &QIODevice::readyRead, this, wakeUp);
    QObject::connect(&socket_, &QIODevice::bytesWritten, this, wakeUp);
    QObject::connect(&socket_, &QSslSocket::encrypted, this, wakeUp);
    QObject::connect(&socket_, &QSslSocket::encryptedBytesWritten, this, wakeUp);
    QObject::connect(&socket_, &QSslSocket::sslErrors, this,
                     [this](const QList<QSslError>& errors) { onSslErrors(errors); });
}

TLineSocket::~TLineSocket()
{
    // No status report or event from here on: the handlers' owners may be
    // gone already.
    destroying_ = true;
    OnStatus = nullptr;
    cancel_ = true;
    wake();
    socket_.abort();
}

void TLineSocket::report(int level, const std::string& text)
{
    if (level <= ReportLevel && OnStatus) {
        OnStatus(this, text);
    }
}

void TLineSocket::wake()
{
    if (loop_ != nullptr) {
        loop_->quit();
    }
}

void TLineSocket::timerOn()
{
    report(8, "Timer On");
    timedOut_ = false;
    deadlinePassed_ = false;
    const long long left = deadlineLeft();
    if (left == 0) {
        timedOut_ = true;
        deadlinePassed_ = true;
        return;
    }
    timer_.start(static_cast<int>(std::min<long long>(effectiveTimeOut(), left)));
}

long long TLineSocket::deadlineLeft() const
{
    const auto used = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - commandStart_)
                          .count();
    return std::max<long long>(0, effectiveDeadline() - used);
}

void TLineSocket::raiseTimedOut(const std::string& text)
{
    if (!deadlinePassed_) {
        throw ESockError(text);
    }
    const int ms = effectiveDeadline();
    const std::string limit =
        ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds" : std::to_string(ms) + " ms";
    throw ESockError("The server did not complete the command within " + limit +
                     " (the limit for one command)");
}

void TLineSocket::timerOff()
{
    report(8, "Timer Off");
    timer_.stop();
}

template <typename Done>
TLineSocket::WaitEnd TLineSocket::waitUntil(Done done)
{
    // What is there already needs no timer and no event loop (a message
    // arrives many lines at a time); the command's deadline still counts.
    if (!cancel_ && done()) {
        if (deadlineLeft() > 0) {
            return WaitEnd::Done;
        }
        timedOut_ = true;
        deadlinePassed_ = true;
        return WaitEnd::TimedOut;
    }
    timerOn();
    WaitEnd end = WaitEnd::Done;
    for (;;) {
        if (cancel_) {
            end = WaitEnd::Canceled;
            break;
        }
        if (timedOut_) {
            end = WaitEnd::TimedOut;
            break;
        }
        if (done()) {
            break;
        }
        QEventLoop loop;
        QEventLoop* outer = loop_;
        loop_ = &loop;
        loop.exec();
        loop_ = outer;
    }
    timerOff();
    return end;
}

void TLineSocket::Abort()
{
    report(8, "Abort");
    cancel_ = true;
    wake();
}

void TLineSocket::Cancel()
{
    report(8, "Canceling");
    cancel_ = true;
    wake();
}

bool TLineSocket::Connected() const
{
    return connected_ && socket_.state() == QAbstractSocket::ConnectedState;
}

std::int16_t TLineSocket::replyNumberOf(const std::string& reply)
{
    long long value = 0;
    std::size_t digits = 0;
    while (digits < reply.size() && digits < 10 && reply[digits] >= '0' && reply[digits] <= '9') {
        value = value * 10 + (reply[digits] - '0');
        ++digits;
    }
    if (value > 32767) {
        value = 32767;
    }
    return static_cast<std::int16_t>(value);
}

QHostAddress TLineSocket::resolve()
{
    report(8, "Resolve Host");
    const QString host = QString::fromStdString(cp1252::toUtf8(Host)).trimmed();
    QHostAddress address;
    if (host.isEmpty()) {
        return address;
    }
    // A dotted address is used at once.
    if (address.setAddress(host)) {
        return address;
    }
    auto lookup = std::make_shared<Lookup>();
    lookupDone_ = false;
    const int id = QHostInfo::lookupHost(host, this, [this, lookup](const QHostInfo& info) {
        lookup->info = info;
        lookup->done = true;
        lookupDone_ = true;
        wake();
    });
    const WaitEnd end = waitUntil([&] { return lookup->done; });
    if (end != WaitEnd::Done) {
        QHostInfo::abortHostLookup(id);
        throw ESockError(end == WaitEnd::Canceled ? "Host Lookup Canceled" : "Host Lookup Timed Out");
    }
    const QHostInfo& info = lookup->info;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        throw ESockError("Host Lookup Failed");
    }
    // The first address, IPv4 before IPv6.
    for (const QHostAddress& a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            address = a;
            break;
        }
    }
    if (address.isNull() && !info.addresses().isEmpty()) {
        address = info.addresses().first();
    }
    if (!address.isNull() && OnHostResolved) {
        OnHostResolved();
    }
    return address;
}

void TLineSocket::socketConnect()
{
    report(8, "Connecting");
    if (Connected()) {
        throw EMailError("Already connected");
    }
    startCommandClock();
    connected_ = false;
    socket_.abort();

    QHostAddress address;
    bool offered = false;
    for (;;) {
        try {
            address = resolve();
        } catch (const ESockError& e) {
            // A lookup that ran out of time or was cancelled gives no address;
            // the user may then correct the name. A name the resolver does not
            // know fails the connect with the lookup's own text.
            const std::string text = e.what();
            if (text != "Host Lookup Timed Out" && text != "Host Lookup Canceled") {
                throw;
            }
            address = QHostAddress();
        }
        if (!address.isNull()) {
            break;
        }
        if (offerOnce(OnInvalidHost, offered)) {
            continue;
        }
        throw ESockError("Null Remote Address");
    }
    peer_ = address;

    socket_.connectToHost(address, Port);
    const WaitEnd end = waitUntil([this] {
        const auto state = socket_.state();
        return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::UnconnectedState;
    });
    if (end == WaitEnd::Done && socket_.state() == QAbstractSocket::ConnectedState) {
        connected_ = true;
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (Security == TSecurity::SslTls) {
            startEncryption();
        }
        return;
    }
    socket_.abort();
    if (OnConnectionFailed) {
        OnConnectionFailed();
    }
    switch (end) {
    case WaitEnd::TimedOut:
        raiseTimedOut("Connection Timed out");
    case WaitEnd::Canceled:
        throw ESockError("Connection Canceled");
    case WaitEnd::Done:
        break;
    }
    throw ESockError("Connection Failed");
}

void TLineSocket::Connect()
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    beforeConnect();
    if (Connected()) {
        // Checked before the connect proper: its failure would drop the
        // connection that stands.
        report(8, "Connecting");
        throw EMailError("Already connected");
    }
    bool offered = false;
    for (;;) {
        try {
            socketConnect();
            greet();
            break;
        } catch (const ECertificateError& e) {
            closeSocket(true);
            std::function<void(bool&)> ask;
            if (OnCertificateRejected) {
                ask = [&](bool& handled) { OnCertificateRejected(e, handled); };
            }
            if (offerOnce(ask, offered)) {
                resetCancel();
                continue;
            }
            throw;
        } catch (...) {
            closeSocket(true);
            throw;
        }
    }
    if (OnConnect) {
        OnConnect();
    }
}

void TLineSocket::closeSocket(bool notify)
{
    report(8, "Disconnecting");
    sslErrors_.clear();
    if (loop_ != nullptr) {
        // Called from within a wait: that wait ends as cancelled.
        cancel_ = true;
        wake();
    }
    report(4, "Request Close Socket");
    socket_.abort();
    connected_ = false;
    if (notify && !destroying_ && OnDisconnect) {
        OnDisconnect();
    }
}

void TLineSocket::Disconnect()
{
    if (waiting()) {
        // Called while the client waits for the server (the window closes):
        // that wait ends and the connection is dropped without a goodbye.
        closeSocket(true);
        return;
    }
    BusyScope busy(*this);
    resetCancel();
    // The number of an earlier dialogue (a refused greeting, say) must not be
    // taken for the goodbye's.
    replyNumber_ = 0;
    std::string reply;
    const std::string quit = quitCommand();
    if (Connected() && !quit.empty()) {
        try {
            Writeln(quit);
            reply = ReadLn(); // a server that just closes has nothing to say
            report(1, reply);
            setReplyNumber(reply);
        } catch (...) {
            closeSocket(true);
            throw;
        }
    }
    closeSocket(true);
    if (quitRefused(reply)) {
        std::string text = reply;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        throw EMailError(text);
    }
}

bool TLineSocket::Encrypted() const
{
    return Connected() && socket_.isEncrypted();
}

std::string TLineSocket::ServerName() const
{
    return cp1252::fromUtf8Lossy(verifyName().toStdString()) + ":" + std::to_string(Port);
}

QString TLineSocket::verifyName() const
{
    return QString::fromStdString(cp1252::toUtf8(Host)).trimmed();
}

std::string TLineSocket::fingerprintOf(const QSslCertificate& certificate)
{
    return certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper().toStdString();
}

void TLineSocket::onSslErrors(const QList<QSslError>& errors)
{
    QSslCertificate peer = socket_.peerCertificate();
    if (peer.isNull() && !errors.isEmpty()) {
        peer = errors.first().certificate();
    }
    const std::string fingerprint = peer.isNull() ? std::string() : fingerprintOf(peer);
    if (!fingerprint.empty() &&
        std::find(TrustedCertificates.begin(), TrustedCertificates.end(), fingerprint) !=
            TrustedCertificates.end()) {
        // Exactly this certificate is trusted for this server.
        socket_.ignoreSslErrors(errors);
        return;
    }
    sslErrors_ = errors;
    rejected_ = peer;
    wake();
}

void TLineSocket::startEncryption()
{
    report(8, "Starting TLS");
    if (socket_.bytesAvailable() > 0) {
        // Bytes that came before the handshake were not protected by it.
        throw ESockError(ServerName() +
                         " sent unexpected data before the secure connection began; nothing was sent");
    }
    QSslConfiguration config = socket_.sslConfiguration();
    // The system's store is read once (parsing it takes a noticeable time).
    static const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
    config.setCaCertificates(system + CaCertificates);
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::SecureProtocols);
    socket_.setSslConfiguration(config);
    socket_.setPeerVerifyName(verifyName());
    sslErrors_.clear();
    rejected_ = QSslCertificate();
    socket_.startClientEncryption();
    const WaitEnd end = waitUntil([this] {
        return socket_.isEncrypted() || !sslErrors_.isEmpty() ||
               socket_.state() != QAbstractSocket::ConnectedState;
    });
    if (end == WaitEnd::Canceled) {
        throw ESockError("Connection Canceled");
    }
    if (end == WaitEnd::TimedOut) {
        raiseTimedOut("Connection Timed out");
    }
    if (!sslErrors_.isEmpty()) {
        const QSslCertificate certificate = rejected_;
        throw ECertificateError(ServerName(), problemOf(sslErrors_),
                                certificate.isNull() ? std::string("(none)") : fingerprintOf(certificate),
                                certificate);
    }
    if (!socket_.isEncrypted()) {
        throw ESockError("The secure connection to " + ServerName() + " failed (" +
                         socket_.errorString().toStdString() + "); nothing was sent");
    }
    report(1, "TLS " + socket_.sessionCipher().protocolString().toStdString() + " " +
                  socket_.sessionCipher().name().toStdString());
}

[[noreturn]] void TLineSocket::raiseSocketError(const std::string& prefix)
{
    const std::string text = prefix + socket_.errorString().toStdString();
    report(1, text);
    throw ESockError(text);
}

void TLineSocket::Write(const std::string& text)
{
    report(8, "Write");
    if (!Connected()) {
        throw ESockError("Socket is not connected");
    }
    if (cancel_) {
        throw EAbortError("Socket send aborted");
    }
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t n = std::min(kBufferSize, text.size() - pos);
        report(4, "Sending Buffer");
        if (socket_.write(text.data() + pos, static_cast<qint64>(n)) != static_cast<qint64>(n)) {
            raiseSocketError("Socket send failed: ");
        }
        pos += n;
        const WaitEnd end = waitUntil([this] {
            return socket_.bytesToWrite() == 0 || socket_.state() != QAbstractSocket::ConnectedState;
        });
        if (end == WaitEnd::Canceled) {
            throw EAbortError("Socket send aborted");
        }
        if (end == WaitEnd::TimedOut) {
            raiseTimedOut("Socket send timed out");
        }
        if (socket_.bytesToWrite() > 0) {
            raiseSocketError("Socket send failed: ");
        }
    }
}

void TLineSocket::Writeln(const std::string& text)
{
    report(8, "Writeln");
    // One line: a line break inside would let a value (a user name, an
    // address) write commands of its own.
    if (text.find_first_of("\r\n") != std::string::npos) {
        throw EMailError("A line break inside \"" + text.substr(0, text.find_first_of("\r\n")) +
                         "...\" was refused; nothing was sent");
    }
    startCommandClock();
    Write(text + "\r\n");
}

std::string TLineSocket::ReadLn()
{
    report(8, "ReadLn");
    const WaitEnd end = waitUntil([this] {
        return socket_.canReadLine() || socket_.bytesAvailable() >= static_cast<qint64>(kBufferSize) ||
               socket_.state() != QAbstractSocket::ConnectedState;
    });
    if (end == WaitEnd::Canceled) {
        throw EAbortError("Socket readln aborted");
    }
    if (end == WaitEnd::TimedOut) {
        raiseTimedOut("Socket readln timed out");
    }
    // Read into the line buffer: a fresh 64 KiB array for every line would
    // cost more than the line itself.
    lineBuffer_.resize(kBufferSize + 1);
    qint64 length = 0;
    if (socket_.canReadLine()) {
        length = socket_.readLine(lineBuffer_.data(), static_cast<qint64>(kBufferSize + 1));
    } else if (socket_.bytesAvailable() >= static_cast<qint64>(kBufferSize)) {
        // An overlong line comes in pieces of 64 KiB.
        length = socket_.read(lineBuffer_.data(), static_cast<qint64>(kBufferSize));
    } else {
        // The connection closed: a line cut off by the close is no reply.
        socket_.readAll();
    }
    return std::string(lineBuffer_.data(), static_cast<std::size_t>(std::max<qint64>(0, length)));
}

std::string TLineSocket::Transaction(const std::string& command)
{
    report(8, "Transaction");
    replyNumber_ = 0;
    Writeln(command);
    lastReply_ = ReadLn();
    report(1, lastReply_);
    replyNumber_ = replyNumberOf(lastReply_);
    return lastReply_;
}

void TLineSocket::SendStream(const std::string& data)
{
    report(8, "SendStream");
    Write(data);
}

bool TLineSocket::DataAvailable()
{
    report(8, "Data Available");
    if (socket_.bytesAvailable() == 0 && socket_.state() == QAbstractSocket::ConnectedState) {
        socket_.waitForReadyRead(0);
    }
    return socket_.bytesAvailable() > 0;
}

void TLineSocket::ClearInput()
{
    report(8, "Clearing Input");
    if (DataAvailable()) {
        socket_.read(static_cast<qint64>(kBufferSize));
    }
}

} // namespace tq
