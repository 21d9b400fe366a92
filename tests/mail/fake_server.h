// A scripted mail server for the tests, running in the test's own thread on
// 127.0.0.1 and a free port. The client's waits run local event loops, so the
// server is served while the client waits for it.
//
// Each line the client sends is recorded and passed to `respond`, which returns
// what the server answers: text (CR LF added per line), nothing (kSilent), or a
// piece of a reply followed by a closed connection (kDropPrefix + text). After
// a "DATA" command answered with 354 the server collects the data up to "."
// into `data` and then asks `respond` with ".".
//
// A reply marked with kStream is sent and then followed by whatever `stream`
// returns, asked again every `streamIntervalMs` (0: as fast as the client
// reads) until it returns "" or the client closes: an endless reply.
//
// With a certificate and key set, the server speaks TLS: from the first byte
// when `implicitTls` is set, or after answering a reply that `respond` marks
// with kStartTls (the marker is not sent).
#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace tq::test {

class FakeServer {
public:
    static inline const std::string kSilent = "<silent>";
    static inline const std::string kDropPrefix = "<drop>";
    static inline const std::string kStartTls = "<starttls>";
    static inline const std::string kStream = "<stream>";

    FakeServer();
    ~FakeServer();

    std::uint16_t port() const { return static_cast<std::uint16_t>(server_.serverPort()); }

    // Sent on connect (CR LF added); kSilent sends nothing.
    std::string greeting = "220 fake.test ESMTP";
    std::function<std::string(const std::string& line)> respond;
    std::function<std::string()> stream;
    int streamIntervalMs = 0;
    // True when the client's connection is closed (or there was none).
    bool clientClosed() const;

    // Every line received (without CR LF), including DATA lines.
    std::vector<std::string> lines;
    // Commands only (lines outside DATA).
    std::vector<std::string> commands;
    // The raw bytes between "DATA" and the final ".".
    std::string data;
    int connections = 0;

    QSslCertificate certificate;
    QSslKey key;
    bool implicitTls = false;
    // Loads certificate and key from PEM files; false when they cannot be read.
    bool useCertificate(const QString& certFile, const QString& keyFile);

    // A responder that accepts everything like a plain SMTP server.
    static std::string smtpDefault(const std::string& line);
    // A responder for a POP3 server holding the given messages (raw text with CR LF).
    static std::function<std::string(const std::string&)> pop3(std::vector<std::string> messages,
                                                                std::string password = "pw");

private:
    // Hands out every accepted connection as a QSslSocket.
    class Listener : public QTcpServer {
    public:
        std::function<void(qintptr)> accepted;

    protected:
        void incomingConnection(qintptr handle) override { accepted(handle); }
    };

    void onConnection(qintptr handle);
    void onData();
    void send(const std::string& reply);
    void startTls();

    void feed();

    Listener server_;
    QTimer feeder_;
    QSslSocket* client_ = nullptr;
    std::string buffer_;
    bool inData_ = false;
};

} // namespace tq::test
