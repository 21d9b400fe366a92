#include "app/systray.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstring>
#include <string>

#ifdef TQ_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#endif

#ifdef TQ_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
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
    // One property read with a short time-out (no introspection of the watcher
    // first): a panel that hangs does not hold up the start.
    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService),
                                                      QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(kWatcherService) << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
#else
    return false;
#endif
}

} // namespace

#ifdef TQ_HAVE_XCB
// The XEmbed tray host of the X screen, followed through the events the X server
// sends anyway: a tray manager that takes the selection _NET_SYSTEM_TRAY_S<n>
// announces itself by a MANAGER client message on the root window (which Qt
// selects StructureNotify on), and its going away is the DestroyNotify of its
// selection window (selected here). No polling: the program sleeps until one of
// them comes. `changed` runs once the event loop has handled the event, so that
// Qt's own tray code has seen it too.
class XEmbedHostWatch : public QAbstractNativeEventFilter {
public:
    XEmbedHostWatch(xcb_connection_t* connection, int screen, std::function<void()> changed)
        : connection_(connection)
        , changed_(std::move(changed))
    {
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
        selection_ = internAtom(name.c_str());
        manager_ = internAtom("MANAGER");
        if (selection_ != XCB_NONE) {
            xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
                connection_, xcb_get_selection_owner(connection_, selection_), nullptr);
            if (reply != nullptr) {
                watchOwner(reply->owner);
                std::free(reply);
            }
        }
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~XEmbedHostWatch() override
    {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::instance()->removeNativeEventFilter(this);
        }
    }
    XEmbedHostWatch(const XEmbedHostWatch&) = delete;
    XEmbedHostWatch& operator=(const XEmbedHostWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (selection_ == XCB_NONE || eventType != "xcb_generic_event_t") {
            return false;
        }
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CLIENT_MESSAGE) {
            const auto* client = static_cast<const xcb_client_message_event_t*>(message);
            if (client->type == manager_ && client->format == 32 && client->data.data32[1] == selection_) {
                watchOwner(client->data.data32[2]);
                announce();
            }
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto* destroy = static_cast<const xcb_destroy_notify_event_t*>(message);
            if (owner_ != XCB_NONE && destroy->window == owner_) {
                owner_ = XCB_NONE;
                announce();
            }
        }
        return false; // Qt handles every event as before
    }

private:
    xcb_atom_t internAtom(const char* name) const
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : XCB_NONE;
        std::free(reply);
        return atom;
    }
    void watchOwner(xcb_window_t owner)
    {
        owner_ = owner;
        if (owner_ != XCB_NONE) {
            // The same mask Qt's tray code selects on this window.
            const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
            xcb_change_window_attributes(connection_, owner_, XCB_CW_EVENT_MASK, &mask);
            xcb_flush(connection_);
        }
    }
    void announce()
    {
        QTimer::singleShot(0, QCoreApplication::instance(), changed_);
    }

    xcb_connection_t* connection_;
    std::function<void()> changed_;
    xcb_atom_t selection_ = XCB_NONE;
    xcb_atom_t manager_ = XCB_NONE;
    xcb_window_t owner_ = XCB_NONE;
};
#else
class XEmbedHostWatch {};
#endif

namespace {

#ifdef TQ_HAVE_XCB
// The screen number of the display the program runs on (":0.1" is screen 1).
int displayScreen()
{
    const QByteArray display = qgetenv("DISPLAY");
    const int colon = display.lastIndexOf(':');
    const int dot = display.indexOf('.', colon < 0 ? 0 : colon);
    return dot < 0 ? 0 : display.mid(dot + 1).toInt();
}
#endif

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
{
    setObjectName(QStringLiteral("Systray"));
    window_->installEventFilter(this);
    // While the window is minimized the icon follows the tray host: it goes to
    // the taskbar when the host goes away and back into the tray when one comes.
    // The hosts announce themselves, so nothing is polled: the XEmbed tray on the
    // X server, the StatusNotifierItem watcher and its hosts on the session bus.
#ifdef TQ_HAVE_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>()) {
            xembedWatch_ = std::make_unique<XEmbedHostWatch>(x11->connection(), displayScreen(),
                                                             [self = QPointer<TSystray>(this)] {
                                                                 if (self) {
                                                                     self->followTrayHost();
                                                                 }
                                                             });
        }
    }
#endif
#ifdef TQ_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), bus,
                                            QDBusServiceWatcher::WatchForRegistration |
                                                QDBusServiceWatcher::WatchForUnregistration,
                                            this);
    // A panel that restarts registers a new watcher, which knows no items yet:
    // the icon is shown to it afresh once its host has come up with it.
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        QTimer::singleShot(500, this, [this] {
            if (shown_) {
                tray_->hide();
                tray_->show();
            }
            followTrayHost();
        });
    });
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        QTimer::singleShot(0, this, [this] { followTrayHost(); });
    });
    // A host that comes or goes while the watcher stays.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        bus.connect(QString::fromLatin1(kWatcherService), QStringLiteral("/StatusNotifierWatcher"),
                    QString::fromLatin1(kWatcherService), QString::fromLatin1(signal), this,
                    SLOT(trayHostChanged()));
    }
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

void TSystray::trayHostChanged()
{
    QTimer::singleShot(0, this, [this] { followTrayHost(); });
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
    } else {
        window_->showMinimized();
    }
}

void TSystray::followTrayHost()
{
    const bool minimized = (window_->windowState() & Qt::WindowMinimized) != 0;
    if ((!shown_ && !minimized) || !enabled_) {
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
