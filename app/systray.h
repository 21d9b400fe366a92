// The notification-area (tray) icon TSystray of the main window.
//
// The icon is shown exactly while the application is minimized, on desktops
// that have a notification area: minimizing the watched window adds the icon
// (with the tip when Hint is not empty) and hides the window's taskbar button;
// a double-click restores the window (and so removes the icon), a left click runs
// OnLeftClick. PopupMenu is the icon's own menu, so the tray host shows it on a
// right click. StatusNotifierItem trays (KDE, Xfce, Cinnamon, GNOME's
// AppIndicator, every Wayland tray) report a double click as two single clicks:
// there a single click restores the window too.
// Where there is no notification area, minimizing stays an ordinary minimize;
// when the tray host appears or goes away later, the icon follows it.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace tq {

class XEmbedHostWatch;

class TSystray : public QObject {
    Q_OBJECT
public:
    // The longest tip the notification area shows; longer hints are cut.
    static constexpr int kTipLength = 63;

    // `window` is the application's main window, whose minimize and restore
    // notifications the component follows.
    explicit TSystray(QWidget* window);
    ~TSystray() override;

    // The icon is shown when the application is minimized; notifications from
    // the icon are handled.
    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }
    // The icon shown; when empty, the application's icon is used.
    QIcon Icon() const { return icon_; }
    void setIcon(const QIcon& icon);
    // The tool tip of the icon.
    QString Hint() const { return hint_; }
    void setHint(const QString& hint);
    // The menu a right click brings up.
    QMenu* PopupMenu() const { return popupMenu_; }
    void setPopupMenu(QMenu* menu);

    // Events; the default of OnDblClick (restore the application) runs while it is
    // empty. PopupMenu needs no OnRightClick: the icon shows it.
    std::function<void()> OnLeftClick;
    std::function<void()> OnDblClick;
    std::function<void()> OnRightClick;

    // Notifications of the icon and of the application, in this order.
    virtual void DblClick();
    virtual void LeftClick();
    virtual void RightClick();
    virtual void ApplicationMinimized();
    virtual void ApplicationRestored();

    // The start with the "Start minimized" setting: the icon alone where a
    // notification area is available, else the window minimized with its
    // taskbar button. Never neither.
    void startMinimized();

    // True while the icon is in the notification area.
    bool iconShown() const { return shown_; }
    // The tip the icon shows: Hint cut to kTipLength characters.
    QString tip() const;
    // True when the desktop has a notification area (tests may decide).
    static bool available();
    static void setAvailabilityOverride(std::optional<bool> available);
    // The icon of the notification area.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // True when a single click on the icon restores the window (the tray
    // cannot tell a double click).
    bool clickRestores() const { return clickRestores_; }

private slots:
    // The session bus says a StatusNotifierItem host came or went.
    void trayHostChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreApplication();
    void followTrayHost();
    QIcon shownIcon() const;

    QWidget* window_;
    QSystemTrayIcon* tray_;
    bool enabled_ = true;
    QIcon icon_;
    QString hint_;
    QMenu* popupMenu_ = nullptr;
    bool shown_ = false;
    bool clickRestores_ = false;
    // Follows the XEmbed tray host (X11 only).
    std::unique_ptr<XEmbedHostWatch> xembedWatch_;
};

} // namespace tq
