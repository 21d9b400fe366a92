#include "platform/desktop/screenlock.h"

#ifdef TQ_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <unistd.h>
#endif

namespace tq::desktop {

ScreenLockWatcher::ScreenLockWatcher(QObject* parent) : QObject(parent)
{
#ifdef TQ_HAVE_DBUS
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        struct Source {
            const char* path;
            const char* interface;
        };
        // Any sender: the screen saver's bus name differs between desktops.
        for (const Source& s : {Source{"/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver"},
                                Source{"/ScreenSaver", "org.freedesktop.ScreenSaver"},
                                Source{"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"}}) {
            if (session.connect(QString(), QString::fromLatin1(s.path), QString::fromLatin1(s.interface),
                                QStringLiteral("ActiveChanged"), this, SLOT(activeChanged(bool)))) {
                ++sources_;
            }
        }
    }
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        const QString service = QStringLiteral("org.freedesktop.login1");
        if (system.connect(service, QString(), QStringLiteral("org.freedesktop.login1.Session"),
                           QStringLiteral("Lock"), this, SLOT(sessionLocked(QDBusMessage)))) {
            ++sources_;
        }
        // Which session is ours, asked without waiting.
        QDBusMessage ask = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/login1"),
                                                          QStringLiteral("org.freedesktop.login1.Manager"),
                                                          QStringLiteral("GetSessionByPID"));
        ask << static_cast<uint>(::getpid());
        auto* watcher = new QDBusPendingCallWatcher(system.asyncCall(ask), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            const QDBusPendingReply<QDBusObjectPath> reply = *w;
            if (reply.isValid()) {
                sessionPath_ = reply.value().path();
            }
            w->deleteLater();
        });
    }
#endif
}

ScreenLockWatcher::~ScreenLockWatcher() = default;

void ScreenLockWatcher::activeChanged(bool active)
{
    if (active) {
        emit screenLocked();
    }
}

void ScreenLockWatcher::sessionLocked(const QDBusMessage& message)
{
#ifdef TQ_HAVE_DBUS
    if (!sessionPath_.isEmpty() && message.path() != sessionPath_) {
        return; // another user's or seat's session
    }
#else
    (void)message;
#endif
    emit screenLocked();
}

} // namespace tq::desktop
