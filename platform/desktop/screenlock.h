// Tells when the desktop locks the screen.
//
// Listens, where the bus is there, for:
//   - org.freedesktop.ScreenSaver ActiveChanged(true) on the session bus (KDE,
//     Xfce and most other desktops; at /org/freedesktop/ScreenSaver or /ScreenSaver),
//   - org.gnome.ScreenSaver ActiveChanged(true) on the session bus (GNOME),
//   - org.freedesktop.login1.Session Lock on the system bus (loginctl lock-session,
//     and desktops that lock through logind) for this process's own session.
// A missing bus or service is no error: that source just never fires. The
// watcher only listens (no polling, no timer). Without QtDBus (Windows) it is
// silent; the window's own idle and minimize locking still apply there.
//
// Qt Core and QtDBus only, no widgets.
#pragma once

#include <QObject>
#include <QString>

class QDBusMessage;

namespace tq::desktop {

class ScreenLockWatcher : public QObject {
    Q_OBJECT

public:
    explicit ScreenLockWatcher(QObject* parent = nullptr);
    ~ScreenLockWatcher() override;

    // How many of the sources above are listened to (0 without any bus).
    int sources() const { return sources_; }

signals:
    // The screen was locked (emitted once for each lock the desktop reports).
    void screenLocked();

private slots:
    void activeChanged(bool active);
    void sessionLocked(const QDBusMessage& message);

private:
    int sources_ = 0;
    // This process's login session object, once logind told it (empty until then:
    // a Lock of any session counts).
    QString sessionPath_;
};

} // namespace tq::desktop
