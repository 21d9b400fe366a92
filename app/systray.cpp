#include "app/systray.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace tq {
namespace {

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
{
    setObjectName(QStringLiteral("Systray"));
    window_->installEventFilter(this);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (!enabled_) {
            return;
        }
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            LeftClick();
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

void TSystray::RightClick()
{
    if (OnRightClick) {
        OnRightClick();
    } else {
        showPopupMenu();
    }
}

void TSystray::ApplicationMinimized()
{
    if (!enabled_ || shown_ || !available()) {
        return;
    }
    tray_->setIcon(shownIcon());
    tray_->setToolTip(tip());
    tray_->show();
    shown_ = true;
    // Hidden, the window has no taskbar button; the icon stands for it.
    window_->hide();
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

void TSystray::showPopupMenu()
{
    if (popupMenu_ == nullptr) {
        return;
    }
    popupMenu_->popup(QCursor::pos());
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
    if (watched == window_ && event->type() == QEvent::WindowStateChange) {
        if (window_->windowState() & Qt::WindowMinimized) {
            // After the state change has run its course: hiding the window inside
            // its own state change is not reliable on every desktop.
            QTimer::singleShot(0, this, [this] {
                if (window_->windowState() & Qt::WindowMinimized) {
                    ApplicationMinimized();
                }
            });
        } else {
            ApplicationRestored();
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tq
