#include "app/systray.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#ifdef TQ_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusServiceWatcher>
#endif

namespace tq {
namespace {

const char* const kWatcherService = "org.kde.StatusNotifierWatcher";

// True when this desktop's tray takes the icon as a StatusNotifierItem over the
// session bus (Qt picks that backend when a watcher with a host is registered;
// under Wayland it is the only one). Those trays report clicks only.
bool statusNotifierTray()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return true;
    }
#ifdef TQ_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr ||
        !bus.interface()->isServiceRegistered(QString::fromLatin1(kWatcherService))) {
        return false;
    }
    QDBusInterface watcher(QString::fromLatin1(kWatcherService), QStringLiteral("/StatusNotifierWatcher"),
                           QString::fromLatin1(kWatcherService), bus);
    return watcher.property("IsStatusNotifierHostRegistered").toBool();
#else
    return false;
#endif
}

std::optional<bool>& availabilityOverride()
{
    static std::optional<bool> value;
    return value;
}

} // namespace

TSystray::TSystray(QWidget* window)
    : QObject(window)
    , window_(window)
    , tray_(new QSystemTrayIcon(this))
    , clickRestores_(statusNotifierTray())
    , hostWatch_(new QTimer(this))
{
    setObjectName(QStringLiteral("Systray"));
    window_->installEventFilter(this);
    // While the window is minimized the icon follows the tray host: it goes to
    // the taskbar when the host goes away and back into the tray when one comes.
    hostWatch_->setInterval(1000);
    connect(hostWatch_, &QTimer::timeout, this, [this] { followTrayHost(); });
#ifdef TQ_HAVE_DBUS
    // A panel that restarts registers a new watcher, which knows no items yet.
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        QTimer::singleShot(500, this, [this] {
            if (shown_) {
                tray_->hide();
                tray_->show();
            }
            followTrayHost();
        });
    });
#endif
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (!enabled_) {
            return;
        }
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            LeftClick();
            if (clickRestores_ && shown_) {
                DblClick();
            }
            break;
        case QSystemTrayIcon::DoubleClick:
            DblClick();
            break;
        case QSystemTrayIcon::Context:
            RightClick();
            break;
        default:
            break;
        }
    });
}

TSystray::~TSystray()
{
    if (shown_) {
        tray_->hide();
    }
}

bool TSystray::available()
{
    if (availabilityOverride()) {
        return *availabilityOverride();
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TSystray::setAvailabilityOverride(std::optional<bool> available)
{
    availabilityOverride() = available;
}

QString TSystray::tip() const
{
    return hint_.left(kTipLength);
}

QIcon TSystray::shownIcon() const
{
    return icon_.isNull() ? QApplication::windowIcon() : icon_;
}

void TSystray::setIcon(const QIcon& icon)
{
    icon_ = icon;
    if (shown_) {
        tray_->setIcon(shownIcon());
    }
}

void TSystray::setHint(const QString& hint)
{
    hint_ = hint;
    if (shown_) {
        tray_->setToolTip(tip());
    }
}

void TSystray::LeftClick()
{
    if (OnLeftClick) {
        OnLeftClick();
    }
}

void TSystray::DblClick()
{
    if (OnDblClick) {
        OnDblClick();
    } else {
        restoreApplication();
    }
}

void TSystray::setPopupMenu(QMenu* menu)
{
    popupMenu_ = menu;
    // The icon's own menu: the tray host (or Qt, for an XEmbed tray) brings it
    // up on a right click, where a menu opened by the program would not be the
    // one the panel shows.
    tray_->setContextMenu(menu);
}

void TSystray::RightClick()
{
    if (OnRightClick) {
        OnRightClick();
    }
}

void TSystray::ApplicationMinimized()
{
    if (!enabled_ || shown_) {
        return;
    }
    hostWatch_->start();
    if (!available()) {
        return;
    }
    tray_->setIcon(shownIcon());
    tray_->setToolTip(tip());
    tray_->show();
    shown_ = true;
    // Hidden, the window has no taskbar button; the icon stands for it.
    window_->hide();
}

void TSystray::startMinimized()
{
    window_->setWindowState(window_->windowState() | Qt::WindowMinimized);
    if (enabled_ && available()) {
        // The window is not shown at all until it is restored: a window mapped
        // and hidden again at once sends state changes that look like a restore.
        tray_->setIcon(shownIcon());
        tray_->setToolTip(tip());
        tray_->show();
        shown_ = true;
        hostWatch_->start();
    } else {
        window_->showMinimized();
    }
}

void TSystray::followTrayHost()
{
    const bool minimized = (window_->windowState() & Qt::WindowMinimized) != 0;
    if (!shown_ && !minimized) {
        hostWatch_->stop();
        return;
    }
    if (!enabled_) {
        return;
    }
    const bool trayThere = available();
    if (shown_ && !trayThere) {
        tray_->hide();
        shown_ = false;
        window_->showMinimized();
    } else if (!shown_ && trayThere && window_->isVisible()) {
        ApplicationMinimized();
    }
}

void TSystray::ApplicationRestored()
{
    if (!enabled_ || !shown_) {
        return;
    }
    hostWatch_->stop();
    window_->raise();
    window_->activateWindow();
    tray_->hide();
    shown_ = false;
}

void TSystray::restoreApplication()
{
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    ApplicationRestored();
}

bool TSystray::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window_ && event->type() == QEvent::Show && shown_ &&
        (window_->windowState() & Qt::WindowMinimized)) {
        // Shown while the icon stands for it and still minimized (the minimize
        // ran its course before the window was first shown): hidden again.
        QTimer::singleShot(0, this, [this] {
            if (shown_ && (window_->windowState() & Qt::WindowMinimized)) {
                window_->hide();
            }
        });
    }
    if (watched == window_ && event->type() == QEvent::Show && shown_ &&
        !(window_->windowState() & Qt::WindowMinimized)) {
        // Shown normally from elsewhere (showNormal on the hidden window): restored.
        ApplicationRestored();
    }
    if (watched == window_ && event->type() == QEvent::WindowStateChange) {
        if (window_->windowState() & Qt::WindowMinimized) {
            // After the state change has run its course: hiding the window inside
            // its own state change is not reliable on every desktop.
            QTimer::singleShot(0, this, [this] {
                if (window_->windowState() & Qt::WindowMinimized) {
                    ApplicationMinimized();
                }
            });
        } else if (window_->isVisible()) {
            // A state change of a hidden window is no restore: hiding the window
            // for the tray sends one on some window managers.
            ApplicationRestored();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tq
