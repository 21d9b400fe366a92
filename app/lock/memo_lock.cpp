#include "app/lock/memo_lock.h"

#include "platform/freed_memory.h"
#include "app/lock/locked_panel.h"
#include "app/mainwindow.h"
#include "app/memoview.h"
#include "app/seams.h"
#include "platform/desktop/screenlock.h"
#include "platform/desktop/settings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QWidget>

#include <optional>

namespace tq {
namespace {

constexpr const char* kMinutesSetting = "lockAfterMinutes";
constexpr const char* kMinimizedSetting = "lockWhenMinimized";
// Offered in the question when no time was chosen before.
constexpr int kSuggestedMinutes = 5;
// A lock that waits for a command or a dialog is tried again this often.
constexpr int kRetryMs = 1000;

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

} // namespace

MemoLock::MemoLock(TfrmMemo& window, QWidget* panelParent) : QObject(&window), window_(window)
{
    panel_ = new LockedPanel(panelParent);
    panel_->hide();
    connect(panel_, &LockedPanel::unlockRequested, this,
            [this] { window_.runCommand([this] { unlockCommand(); }); });

    minutes_ = static_cast<int>(settings::readInt(kMinutesSetting, 0));
    if (minutes_ < 0 || minutes_ > kMaxMinutes) {
        minutes_ = 0;
    }
    onMinimize_ = settings::readBool(kMinimizedSetting, false);

    idle_.setSingleShot(true);
    connect(&idle_, &QTimer::timeout, this, [this] { window_.runCommand([this] { idleTimeout(); }); });
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { window_.runCommand([this] { requestLock(); }); });

    watcher_ = new desktop::ScreenLockWatcher(this);
    connect(watcher_, &desktop::ScreenLockWatcher::screenLocked, this,
            [this] { window_.runCommand([this] { requestLock(); }); });
    window_.installEventFilter(this);
}

MemoLock::~MemoLock()
{
    sealed::Wipe(sealed_);
}

// --- Options -------------------------------------------------------------------------

void MemoLock::addOptions(QMenu* options)
{
    options_ = options;
    optionsSeparator_ = new QAction(this);
    optionsSeparator_->setSeparator(true);
    mnuLockIdle = new QAction(this);
    mnuLockIdle->setObjectName(QStringLiteral("mnuLockIdle"));
    mnuLockIdle->setCheckable(true);
    connect(mnuLockIdle, &QAction::triggered, this, [this] { window_.runCommand([this] { lockIdleClick(); }); });
    mnuLockMinimized = new QAction(QStringLiteral("Lock when minimized"), this);
    mnuLockMinimized->setObjectName(QStringLiteral("mnuLockMinimized"));
    mnuLockMinimized->setCheckable(true);
    connect(mnuLockMinimized, &QAction::triggered, this,
            [this] { window_.runCommand([this] { lockMinimizedClick(); }); });
    updateOptions();
}

void MemoLock::updateOptions()
{
    if (mnuLockIdle == nullptr) {
        return;
    }
    const int shown = minutes_ > 0 ? minutes_ : kSuggestedMinutes;
    mnuLockIdle->setText(shown == 1 ? QStringLiteral("Lock after 1 minute without input...")
                                    : QStringLiteral("Lock after %1 minutes without input...").arg(shown));
    mnuLockIdle->setChecked(minutes_ > 0);
    mnuLockMinimized->setChecked(onMinimize_);
    // The options belong to a memo of a sealed file: they are in the menu only
    // while there is one.
    const bool offered = holdsKey() || locked_;
    const bool inMenu = options_->actions().contains(mnuLockIdle);
    if (offered && !inMenu) {
        mnuLockIdle->setEnabled(window_.ControlsEnabled);
        mnuLockMinimized->setEnabled(window_.ControlsEnabled);
        options_->addActions({optionsSeparator_, mnuLockIdle, mnuLockMinimized});
    } else if (!offered && inMenu) {
        for (QAction* a : {optionsSeparator_, mnuLockIdle, mnuLockMinimized}) {
            options_->removeAction(a);
        }
    }
}

void MemoLock::lockIdleClick()
{
    int minutes = 0;
    if (mnuLockIdle->isChecked()) {
        QString value = QString::number(minutes_ > 0 ? minutes_ : kSuggestedMinutes);
        bool valid = false;
        if (prompts::askText(&window_, QStringLiteral("Tarnquill"),
                             QStringLiteral("Lock the memo after how many minutes without input (1 to 60)?"), value)) {
            minutes = value.trimmed().toInt(&valid);
            if (!valid || minutes < 1 || minutes > kMaxMinutes) {
                updateOptions();
                prompts::showError(&window_, QStringLiteral("Tarnquill"),
                                   QStringLiteral("Give a whole number of minutes from 1 to 60."));
                return;
            }
        } else {
            updateOptions(); // cancelled: as it was
            return;
        }
    }
    try {
        settings::writeString(kMinutesSetting, std::to_string(minutes));
    } catch (...) {
        updateOptions();
        throw;
    }
    minutes_ = minutes;
    updateOptions();
    idle_.stop();
    rearm();
}

void MemoLock::lockMinimizedClick()
{
    const bool on = mnuLockMinimized->isChecked();
    try {
        settings::writeBool(kMinimizedSetting, on);
    } catch (...) {
        updateOptions();
        throw;
    }
    onMinimize_ = on;
}

// --- Key -------------------------------------------------------------------------------

void MemoLock::hold(sealed::SealKey key)
{
    key_ = std::move(key);
    updateOptions();
    idle_.stop();
    rearm();
}

void MemoLock::drop()
{
    key_ = sealed::SealKey();
    updateOptions();
    rearm();
}

// --- Idle time-out -------------------------------------------------------------------

int MemoLock::intervalMs() const
{
    return testIntervalMs_ > 0 ? testIntervalMs_ : minutes_ * 60 * 1000;
}

void MemoLock::setIdleIntervalForTesting(int ms)
{
    testIntervalMs_ = ms;
    idle_.stop();
    rearm();
}

void MemoLock::rearm()
{
    const bool armed = holdsKey() && !locked_ && intervalMs() > 0;
    if (armed && !idle_.isActive()) {
        lastInput_.start();
        idle_.start(intervalMs());
    } else if (!armed) {
        idle_.stop();
    }
    // Input is watched only while the time-out runs.
    if (armed != watchingInput_) {
        if (armed) {
            qApp->installEventFilter(this);
        } else {
            qApp->removeEventFilter(this);
        }
        watchingInput_ = armed;
    }
}

void MemoLock::idleTimeout()
{
    const qint64 left = intervalMs() - lastInput_.elapsed();
    if (left > 0) {
        idle_.start(static_cast<int>(left)); // input came since: sleep for the rest
        return;
    }
    requestLock();
}

bool MemoLock::eventFilter(QObject* watched, QEvent* event)
{
    if (watchingInput_ && isInput(event->type())) {
        lastInput_.start();
    }
    if (watched == &window_ && event->type() == QEvent::WindowStateChange && onMinimize_ && window_.isMinimized()) {
        window_.runCommand([this] { requestLock(); });
    }
    return QObject::eventFilter(watched, event);
}

// --- Locking -------------------------------------------------------------------------

void MemoLock::requestLock()
{
    if (!holdsKey() || locked_) {
        return;
    }
    // A running command, or a dialog whose command goes on after it, still
    // works on the memo: lock once they are done.
    if (!window_.ControlsEnabled || QApplication::activeModalWidget() != nullptr) {
        retry_.start(kRetryMs);
        return;
    }
    lockNow();
}

bool MemoLock::lockNow()
{
    MemoView& memo = *window_.Memo;
    std::string text = memo.text();
    std::optional<std::string> bytes;
    try {
        bytes = sealed::SealWithKey(text, key_, sealed::Content::Memo);
    } catch (...) {
        sealed::Wipe(text);
        throw;
    }
    sealed::Wipe(text);
    if (!bytes) {
        return false;
    }
    sealed::Wipe(sealed_);
    sealed_ = std::move(*bytes);
    caret_ = memo.caretOffset();
    anchor_ = caret_ == memo.selStart() ? memo.selStart() + memo.selLength() : memo.selStart();
    modified_ = window_.memoModified();

    locked_ = true;
    retry_.stop();
    clipboard_.clearOwn();
    memo.wipe();
    window_.wipeMemoCopies();
    window_.setMemoModified(false);
    key_ = sealed::SealKey();
    rearm();
    updateOptions();

    window_.applyLockState();
    window_.setPanel(1, QStringLiteral("Memo locked."));
    window_.showCaretPosition();
    scrubFreedMemory();
    return true;
}

void MemoLock::unlockCommand()
{
    if (!locked_ || unlocking_) {
        return;
    }
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Unlock memo");
    ask.text = QStringLiteral("The memo is locked. Passphrase of its sealed file:");
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(&window_, ask, passphrase)) {
        return;
    }
    unlocking_ = true;
    panel_->setEnabled(false);
    window_.beginBusy();
    window_.startProgress();
    sealed::SealKey opened;
    std::optional<std::string> text;
    try {
        text = sealed::Unseal(sealed_, passphrase, window_.sealedWork(), &opened);
    } catch (const sealed::SealedError& e) {
        unlocking_ = false;
        panel_->setEnabled(true);
        window_.ProgressPercent = 0;
        window_.endBusy();
        prompts::showError(&window_, QStringLiteral("Tarnquill"), QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        unlocking_ = false;
        panel_->setEnabled(true);
        throw;
    }
    unlocking_ = false;
    panel_->setEnabled(true);
    window_.ProgressPercent = 0;
    if (!text) { // stopped: still locked
        window_.endBusy();
        return;
    }
    locked_ = false;
    MemoView& memo = *window_.Memo;
    window_.applyLockState();
    memo.setText(*text);
    sealed::Wipe(*text);
    memo.setSelection(anchor_, caret_ - anchor_);
    window_.setMemoModified(modified_);
    sealed::Wipe(sealed_);
    key_ = std::move(opened);
    updateOptions();
    window_.setPanel(1, QString());
    window_.endBusy();
    memo.ensureCaretVisible();
    rearm();
}

// --- Clipboard -------------------------------------------------------------------------

void MemoLock::copyToClipboard(QMimeData* data)
{
    if (holdsKey()) {
        clipboard_.put(data);
    } else {
        QGuiApplication::clipboard()->setMimeData(data);
    }
}

} // namespace tq
