#include "tests/mail/fake_server.h"

#include <QFile>
#include <QHostAddress>

#include <stdexcept>

namespace tq::test {

FakeServer::FakeServer()
{
    if (!server_.listen(QHostAddress::LocalHost, 0)) {
        throw std::runtime_error("fake server cannot listen");
    }
    server_.accepted = [this](qintptr handle) { onConnection(handle); };
    respond = smtpDefault;
    QObject::connect(&feeder_, &QTimer::timeout, [this] { feed(); });
}

bool FakeServer::clientClosed() const
{
    return client_ == nullptr || client_->state() == QAbstractSocket::UnconnectedState;
}

void FakeServer::feed()
{
    if (clientClosed() || !stream) {
        feeder_.stop();
        return;
    }
    // Enough waits unread already: the client has to read first.
    if (streamIntervalMs == 0 && client_->bytesToWrite() > (1 << 18)) {
        return;
    }
    const std::string more = stream();
    if (more.empty()) {
        feeder_.stop();
        return;
    }
    client_->write(more.data(), static_cast<qint64>(more.size()));
}

FakeServer::~FakeServer()
{
    feeder_.stop();
    if (client_ != nullptr) {
        client_->abort();
        delete client_;
    }
    server_.close();
}

bool FakeServer::useCertificate(const QString& certFile, const QString& keyFile)
{
    QFile c(certFile);
    QFile k(keyFile);
    if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly)) {
        return false;
    }
    certificate = QSslCertificate(c.readAll(), QSsl::Pem);
    key = QSslKey(k.readAll(), QSsl::Ec, QSsl::Pem);
    return !certificate.isNull() && !key.isNull();
}

void FakeServer::startTls()
{
    client_->setLocalCertificate(certificate);
    client_->setPrivateKey(key);
    client_->startServerEncryption();
}

void FakeServer::onConnection(qintptr handle)
{
    auto* s = new QSslSocket;
    if (!s->setSocketDescriptor(handle)) {
        delete s;
        return;
    }
    ++connections;
    feeder_.stop();
    if (client_ != nullptr) {
        client_->abort();
        client_->deleteLater();
    }
    client_ = s;
    buffer_.clear();
    inData_ = false;
    QObject::connect(s, &QSslSocket::readyRead, [this, s] {
        if (s == client_) {
            onData();
        }
    });
    if (implicitTls) {
        // The greeting goes out once the handshake is done.
        QObject::connect(s, &QSslSocket::encrypted, [this, s] {
            if (s == client_ && greeting != kSilent) {
                send(greeting);
            }
        });
        startTls();
        return;
    }
    if (greeting != kSilent) {
        send(greeting);
    }
}

void FakeServer::send(const std::string& reply)
{
    if (client_ == nullptr || reply == kSilent) {
        return;
    }
    if (reply.rfind(kStream, 0) == 0) {
        send(reply.substr(kStream.size()));
        feeder_.start(streamIntervalMs);
        return;
    }
    if (reply.rfind(kStartTls, 0) == 0) {
        send(reply.substr(kStartTls.size()));
        client_->flush();
        startTls();
        return;
    }
    if (reply.rfind(kDropPrefix, 0) == 0) {
        const std::string part = reply.substr(kDropPrefix.size());
        client_->write(part.data(), static_cast<qint64>(part.size()));
        client_->flush();
        client_->disconnectFromHost();
        return;
    }
    std::string text;
    std::size_t pos = 0;
    while (pos <= reply.size()) {
        const auto end = reply.find('\n', pos);
        text += reply.substr(pos, end == std::string::npos ? std::string::npos : end - pos) + "\r\n";
        if (end == std::string::npos) {
            break;
        }
        pos = end + 1;
    }
    client_->write(text.data(), static_cast<qint64>(text.size()));
}

void FakeServer::onData()
{
    const QByteArray chunk = client_->readAll();
    buffer_.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    std::size_t end;
    while ((end = buffer_.find("\r\n")) != std::string::npos) {
        const std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        lines.push_back(line);
        if (inData_) {
            if (line == ".") {
                inData_ = false;
                commands.push_back(line);
                send(respond(line));
            } else {
                data += line + "\r\n";
            }
            continue;
        }
        commands.push_back(line);
        const std::string reply = respond(line);
        if (line == "DATA" && reply.rfind("354", 0) == 0) {
            inData_ = true;
        }
        send(reply);
        if (client_ == nullptr) {
            return;
        }
    }
}

std::string FakeServer::smtpDefault(const std::string& line)
{
    if (line.rfind("HELO", 0) == 0) {
        return "250 fake.test";
    }
    if (line == "DATA") {
        return "354 go ahead";
    }
    if (line == "QUIT") {
        return "221 bye";
    }
    if (line.empty()) {
        return kSilent;
    }
    return "250 ok";
}

std::function<std::string(const std::string&)> FakeServer::pop3(std::vector<std::string> messages,
                                                                 std::string password)
{
    return [messages, password](const std::string& line) -> std::string {
        if (line.rfind("USER ", 0) == 0) {
            return "+OK";
        }
        if (line.rfind("PASS ", 0) == 0) {
            return line.substr(5) == password ? "+OK logged in" : "-ERR wrong password";
        }
        if (line == "STAT") {
            return "+OK " + std::to_string(messages.size()) + " 100";
        }
        if (line.rfind("RETR ", 0) == 0) {
            const std::size_t n = std::stoul(line.substr(5));
            if (n < 1 || n > messages.size()) {
                return "-ERR no such message";
            }
            std::string text = messages[n - 1];
            // Dot-stuff and terminate, as a POP3 server does.
            std::string out = "+OK " + std::to_string(text.size()) + " octets\n";
            std::size_t pos = 0;
            while (pos < text.size()) {
                auto end = text.find("\r\n", pos);
                if (end == std::string::npos) {
                    end = text.size();
                }
                std::string l = text.substr(pos, end - pos);
                if (!l.empty() && l[0] == '.') {
                    l.insert(0, ".");
                }
                out += l + "\n";
                pos = end + 2;
            }
            return out + ".";
        }
        if (line.rfind("DELE ", 0) == 0) {
            const std::size_t n = std::stoul(line.substr(5));
            return n >= 1 && n <= messages.size() ? "+OK deleted" : "-ERR no such message";
        }
        if (line == "QUIT") {
            return "+OK bye";
        }
        return "-ERR unknown command";
    };
}

} // namespace tq::test
