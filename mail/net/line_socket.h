// TLineSocket: a line-oriented TCP client for the mail components.
//
// Built on QSslSocket (plain TCP for now, so that TLS can be switched on later
// without rebuilding this class). All work runs on the user-interface thread:
// every wait (host lookup, connect, send, reading a line) runs a local event
// loop, so the windows stay responsive while it lasts and a Cancel arrives
// during it. A wait ends when what it waits for has happened, when the user
// cancels (Abort or Cancel) or when the time-out fires; it never lasts longer
// than `TimeOut` milliseconds, or 60 seconds when `TimeOut` is 0.
//
// Failures are exceptions: ESockError for socket and lookup failures (and
// waits that timed out), EAbortError for a cancelled send or read, EMailError
// for the dialogue's own failures.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QSslSocket>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>

class QEventLoop;

namespace tq {

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

    static constexpr int kDefaultTimeOut = 60000;
    static constexpr std::size_t kBufferSize = 65536;

    // Resolves Host and connects to it. Throws "Already connected", the lookup
    // texts ("Host Lookup Canceled", "Host Lookup Failed", "Null Remote
    // Address") or the connect texts ("Connection Timed out", "Connection
    // Canceled", "Connection Failed").
    // The plain socket raises OnConnect when the connection stands; the SMTP and
    // POP3 clients first greet the server.
    virtual void Connect();
    // Closes the connection at once (no linger) and raises OnDisconnect. Called
    // while a wait runs, it cancels that wait.
    virtual void Disconnect();
    bool Connected() const;

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
    // Resolves and connects the socket (Connect without OnConnect).
    void socketConnect();
    // Closes the socket at once; raises OnDisconnect when `notify` is set.
    void closeSocket(bool notify);

private:
    enum class WaitEnd { Done, TimedOut, Canceled };
    template <typename Done>
    WaitEnd waitUntil(Done done);
    void wake();
    void timerOn();
    void timerOff();
    QHostAddress resolve();
    [[noreturn]] void raiseSocketError(const std::string& prefix);
    int effectiveTimeOut() const { return TimeOut > 0 ? TimeOut : kDefaultTimeOut; }

    QSslSocket socket_;
    QTimer timer_;
    QEventLoop* loop_ = nullptr;
    QHostAddress peer_;
    bool cancel_ = false;
    bool timedOut_ = false;
    bool lookupDone_ = false;
    bool connected_ = false;
    bool destroying_ = false;
    std::string lastReply_;
    std::int16_t replyNumber_ = 0;
};

} // namespace tq
