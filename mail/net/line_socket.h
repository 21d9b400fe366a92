// TLineSocket: a line-oriented TCP client for the mail components.
//
// Built on QSslSocket: `Security` chooses plain TCP, TLS started on the open
// connection by the protocol's own command (STARTTLS, STLS), or TLS from the
// first byte. The server's certificate is verified against the system's trust
// store (plus `CaCertificates`) and the host name; a certificate that fails is
// accepted only when its SHA-256 fingerprint is in `TrustedCertificates`.
// Nothing is sent in plain text once a secure connection was asked for.
//
// All work runs on the user-interface thread:
// every wait (host lookup, connect, send, reading a line) runs a local event
// loop, so the windows stay responsive while it lasts and a Cancel arrives
// during it. A wait ends when what it waits for has happened, when the user
// cancels (Abort or Cancel) or when the time-out fires; it never lasts longer
// than `TimeOut` milliseconds, or 60 seconds when `TimeOut` is 0. Each command
// as a whole (from writing its line, or from the start of Connect, to the
// start of the next one) also has a `Deadline`, 300 seconds when 0, so that a
// server that keeps one reply alive with a trickle of lines is stopped too; it
// fails with "The server did not complete the command within 300 seconds (the
// limit for one command)".
//
// Failures are exceptions: ESockError for socket and lookup failures (and
// waits that timed out), EAbortError for a cancelled send or read, EMailError
// for the dialogue's own failures.
#pragma once

#include "mail/mail_errors.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QEventLoop;

namespace tq {

// How a connection is secured: not at all, by the protocol's STARTTLS (SMTP) or
// STLS (POP3) command after the greeting, or with TLS from the first byte.
enum class TSecurity { None, StartTls, SslTls };

// A server certificate that failed verification and is not trusted. The text
// names the server, the problem and the certificate's SHA-256 fingerprint.
class ECertificateError : public ESockError {
public:
    ECertificateError(const std::string& server, const std::string& problem,
                      const std::string& fingerprint, const QSslCertificate& certificate);
    // "host:port" as connected to.
    const std::string& Server() const { return server_; }
    // What is wrong, for example "it is issued for another name".
    const std::string& Problem() const { return problem_; }
    // SHA-256 of the certificate, upper-case hex pairs joined by ":".
    const std::string& Fingerprint() const { return fingerprint_; }
    const QSslCertificate& Certificate() const { return certificate_; }

private:
    std::string server_;
    std::string problem_;
    std::string fingerprint_;
    QSslCertificate certificate_;
};

class TLineSocket : public QObject {
public:
    explicit TLineSocket(QObject* parent = nullptr);
    ~TLineSocket() override;

    TLineSocket(const TLineSocket&) = delete;
    TLineSocket& operator=(const TLineSocket&) = delete;

    // Server name or dotted address.
    std::string Host;
    std::uint16_t Port = 0;
    // Milliseconds for one wait; 0 means the default of 60 seconds.
    int TimeOut = 0;
    // Milliseconds for one whole command; 0 means the default of 300 seconds.
    int Deadline = 0;
    // Status reports of a level not above this reach OnStatus (1: replies and
    // milestones, 4: buffers, 8: tracing).
    int ReportLevel = 0;

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    // Offered once when the host name gives no address; a handler that corrects
    // `Host` and sets Handled makes Connect resolve again.
    std::function<void(bool& Handled)> OnInvalidHost;
    std::function<void()> OnHostResolved;
    std::function<void(TLineSocket* Sender, const std::string& Status)> OnStatus;
    std::function<void()> OnConnectionFailed;

    TSecurity Security = TSecurity::None;
    // Authorities trusted beside the system's own.
    QList<QSslCertificate> CaCertificates;
    // SHA-256 fingerprints (as Fingerprint() spells them) of certificates the
    // user trusts for this Host and Port although they fail verification.
    std::vector<std::string> TrustedCertificates;
    // Offered once when the server's certificate fails verification; a handler
    // that adds the fingerprint to TrustedCertificates and sets Handled makes
    // Connect start again. Otherwise the ECertificateError is raised.
    std::function<void(const ECertificateError& Problem, bool& Handled)> OnCertificateRejected;

    static constexpr int kDefaultTimeOut = 60000;
    static constexpr int kDefaultDeadline = 300000;
    static constexpr std::size_t kBufferSize = 65536;

    // Resolves Host and connects to it (with SslTls: and completes the TLS
    // handshake). Throws "Already connected", the lookup texts ("Host Lookup
    // Failed", "Null Remote Address"), the connect texts ("Connection Timed
    // out", "Connection Canceled", "Connection Failed"), ECertificateError, or
    // an error naming the server when the secure connection cannot be made.
    // The SMTP and POP3 clients then greet the server (greet()); OnConnect is
    // raised when the connection stands. Any failure leaves it closed.
    void Connect();
    // Says goodbye (quitCommand(), when the client has one), closes the
    // connection at once (no linger) and raises OnDisconnect; a refused goodbye
    // is raised after the close. Called while a wait runs, it cancels that wait
    // and closes without a goodbye.
    void Disconnect();
    bool Connected() const;
    // True when the connection stands and is encrypted.
    bool Encrypted() const;
    // "host:port", for messages.
    std::string ServerName() const;
    // SHA-256 of a certificate, upper-case hex pairs joined by ":".
    static std::string fingerprintOf(const QSslCertificate& certificate);

    // Both set the cancel flag and end the running wait.
    void Abort();
    void Cancel();
    bool Canceled() const { return cancel_; }

    void Write(const std::string& text);
    // Write(text + CR LF); text that holds a line break is refused (EMailError).
    void Writeln(const std::string& text);
    // One line including its CR LF (a line longer than 64 KiB comes in 64 KiB
    // pieces); an empty string when the connection is closed.
    std::string ReadLn();
    // Writeln(command), then ReadLn; sets ReplyNumber from the reply's leading
    // digits (0 when there are none).
    std::string Transaction(const std::string& command);
    void SendStream(const std::string& data);
    // True when at least one byte waits to be read.
    bool DataAvailable();
    // Reads and drops up to 64 KiB of waiting input.
    void ClearInput();

    std::int16_t ReplyNumber() const { return replyNumber_; }
    const std::string& LastReply() const { return lastReply_; }

    // The value of a reply's leading decimal digits (at most 10), 0 when there
    // are none; values beyond the 16-bit range are held at 32767.
    static std::int16_t replyNumberOf(const std::string& reply);

    // The address the last Connect used.
    QHostAddress PeerAddress() const { return peer_; }

protected:
    // Passes a status text to OnStatus when its level is not above ReportLevel.
    void report(int level, const std::string& text);
    // Clears the cancel flag at the start of a new top-level operation.
    void resetCancel() { cancel_ = false; }
    // True while a component operation (connect, send, retrieval) runs.
    bool busy_ = false;
    void setReplyNumber(const std::string& reply) { replyNumber_ = replyNumberOf(reply); }

    // Offers a failure to its handler, once per `offered` flag; true when the
    // handler set Handled (the caller tries again).
    static bool offerOnce(const std::function<void(bool& Handled)>& handler, bool& offered)
    {
        if (offered || !handler) {
            return false;
        }
        offered = true;
        bool handled = false;
        handler(handled);
        return handled;
    }

    // Marks a component operation; blocks re-entry.
    class BusyScope {
    public:
        explicit BusyScope(TLineSocket& s) : s_(s), entered_(!s.busy_) { s_.busy_ = true; }
        ~BusyScope()
        {
            if (entered_) {
                s_.busy_ = false;
            }
        }
        bool entered() const { return entered_; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        TLineSocket& s_;
        bool entered_;
    };

    // True while a wait (lookup, connect, send, read) runs its event loop.
    bool waiting() const { return loop_ != nullptr; }
    // Resolves and connects the socket (with SslTls: and starts TLS).
    void socketConnect();
    // Closes the socket at once; raises OnDisconnect when `notify` is set.
    void closeSocket(bool notify);
    // Starts TLS on the open connection and waits for the handshake; throws
    // ECertificateError or an error naming the server. Input that arrived
    // before the handshake (which a plain-text attacker could have injected)
    // is refused.
    void startEncryption();

    // Steps of Connect and Disconnect that the protocols fill in.
    // Checked before anything else (the POP3 client asks for credentials).
    virtual void beforeConnect() {}
    // The dialogue after the connection stands (greeting, login).
    virtual void greet() {}
    // The goodbye command; empty for none.
    virtual std::string quitCommand() const { return std::string(); }
    // Whether the reply to the goodbye is a refusal to be raised.
    virtual bool quitRefused(const std::string& /*reply*/) const { return false; }

private:
    enum class WaitEnd { Done, TimedOut, Canceled };
    template <typename Done>
    WaitEnd waitUntil(Done done);
    void wake();
    void timerOn();
    void timerOff();
    QHostAddress resolve();
    [[noreturn]] void raiseSocketError(const std::string& prefix);
    void onSslErrors(const QList<QSslError>& errors);
    QString verifyName() const;
    int effectiveTimeOut() const { return TimeOut > 0 ? TimeOut : kDefaultTimeOut; }
    int effectiveDeadline() const { return Deadline > 0 ? Deadline : kDefaultDeadline; }
    // Milliseconds left of the running command's deadline (0 when passed).
    long long deadlineLeft() const;
    void startCommandClock() { commandStart_ = std::chrono::steady_clock::now(); }
    // Raises the time-out of a wait: `text`, or the deadline's text when the
    // command's deadline ended it.
    [[noreturn]] void raiseTimedOut(const std::string& text);

    QSslSocket socket_;
    QTimer timer_;
    QEventLoop* loop_ = nullptr;
    QHostAddress peer_;
    bool cancel_ = false;
    bool timedOut_ = false;
    bool deadlinePassed_ = false;
    std::chrono::steady_clock::time_point commandStart_ = std::chrono::steady_clock::now();
    bool lookupDone_ = false;
    bool connected_ = false;
    bool destroying_ = false;
    std::string lastReply_;
    std::vector<char> lineBuffer_;
    std::int16_t replyNumber_ = 0;
    // Verification failures of the running handshake that were not trusted.
    QList<QSslError> sslErrors_;
    QSslCertificate rejected_;
};

} // namespace tq
