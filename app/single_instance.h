// One running program per user.
//
// The first start listens on a local socket (a named pipe on Windows) whose name
// belongs to the user. A later start connects to it, hands over its argument (an
// absolute path, or nothing) and ends; the running program opens the path as the
// command line would and comes to the front.
//
// Exchange: the later start writes the path as UTF-8 followed by a line feed;
// the running program answers "ok" and a line feed once it has the line.
//
// A program that was killed leaves its socket file behind (not on Windows).
// Nobody answers on it, so the next start removes it and listens itself; a start
// that finds the name just taken by another new start hands over to that one.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tq {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        HandedOver, // a running program took the argument: this start ends
        NoAnswer,   // a program runs but did not take the argument in time
        Listening,  // this is the running program now
        Alone,      // the name could not be taken: runs without being found
    };

    // The user's name for the socket: below XDG_RUNTIME_DIR (the user's own
    // folder) where there is one, else a name that holds the user's id.
    static QString userServerName();

    explicit TSingleInstance(const QString& serverName, QObject* parent = nullptr);
    ~TSingleInstance() override;

    // Hands `argument` to the running program, or becomes the running program.
    Outcome start(const QString& argument);

    const QString& serverName() const { return name_; }

signals:
    // A later start handed over `argument` (empty when it had none).
    void argumentReceived(const QString& argument);

private:
    enum class Delivery { Taken, NotTaken, NobodyListens };
    Delivery handOver(const QString& argument) const;
    void acceptConnections();

    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace tq
