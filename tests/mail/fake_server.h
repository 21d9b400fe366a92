// A scripted mail server for the tests, running in the test's own thread on
// 127.0.0.1 and a free port. The client's waits run local event loops, so the
// server is served while the client waits for it.
//
// Each line the client sends is recorded and passed to `respond`, which returns
// what the server answers: text (CR LF added per line), nothing (kSilent), or a
// piece of a reply followed by a closed connection (kDropPrefix + text). After
// a "DATA" command answered with 354 the server collects the data up to "."
// into `data` and then asks `respond` with ".".
#pragma once

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <string>
#include <vector>

namespace tq::test {

class FakeServer {
public:
    static inline const std::string kSilent = "<silent>";
    static inline const std::string kDropPrefix = "<drop>";

    FakeServer();
    ~FakeServer();

    std::uint16_t port() const { return static_cast<std::uint16_t>(server_.serverPort()); }

    // Sent on connect (CR LF added); kSilent sends nothing.
    std::string greeting = "220 fake.test ESMTP";
    std::function<std::string(const std::string& line)> respond;

    // Every line received (without CR LF), including DATA lines.
    std::vector<std::string> lines;
    // Commands only (lines outside DATA).
    std::vector<std::string> commands;
    // The raw bytes between "DATA" and the final ".".
    std::string data;
    int connections = 0;

    // A responder that accepts everything like a plain SMTP server.
    static std::string smtpDefault(const std::string& line);
    // A responder for a POP3 server holding the given messages (raw text with CR LF).
    static std::function<std::string(const std::string&)> pop3(std::vector<std::string> messages,
                                                                std::string password = "pw");

private:
    void onConnection();
    void onData();
    void send(const std::string& reply);

    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    std::string buffer_;
    bool inData_ = false;
};

} // namespace tq::test
