// The lock of a memo that came from, or was saved to, a sealed file.
//
// The main window hands over the key the sealed file was opened or saved with
// (hold()); New, and opening a file that is not sealed, drop it (drop()). While
// a key is held:
//   - Options shows "Lock after N minutes without input..." and "Lock when
//     minimized" (both off by default; stored as "lockAfterMinutes", 0 for off
//     or 1-60, and "lockWhenMinimized");
//   - the memo locks after N minutes without keyboard or mouse input to the
//     program, when the desktop locks the screen (desktop::ScreenLockWatcher) and,
//     if chosen, when the window is minimized. The idle time-out is one
//     single-shot timer: input only notes the time, and the timer, when it
//     fires early, is re-armed for the rest, so a resting program wakes at
//     most once per time-out;
//   - text copied or cut from the memo goes onto the clipboard as a secret copy
//     (SecretClipboard), cleared 30 s later.
//
// Locking seals the memo's text with the held key into memory (no new key
// derivation, so it is instant), notes the caret, selection and modified flag,
// wipes the text from the memo (document, undo step, layout), the window's
// backup copies and the search box, clears the secret clipboard copy, wipes the
// key itself and shows the locked panel in the memo's place; every command that
// reads or changes the memo is disabled. A lock that comes while a command runs
// or a dialog is open waits until it is done (retried each second), so a command
// never finds its memo gone.
//
// Unlocking asks for the passphrase; unsealing the sealed bytes proves it (a
// wrong one gets the one refusal message and the memo stays locked) and gives
// back the text, the caret and selection, the modified flag and the key.
#pragma once

#include "crypto/sealed.h"
#include "app/lock/secret_clipboard.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <string>

class QAction;
class QMenu;
class QMimeData;

namespace tq {

class LockedPanel;
class TfrmMemo;
namespace desktop {
class ScreenLockWatcher;
}

class MemoLock : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxMinutes = 60;

    // `window` owns the lock; the panel is made a child of `panelParent`.
    MemoLock(TfrmMemo& window, QWidget* panelParent);
    ~MemoLock() override;

    LockedPanel* panel() const { return panel_; }
    SecretClipboard& clipboard() { return clipboard_; }
    desktop::ScreenLockWatcher* screenLockWatcher() const { return watcher_; }

    // Gives the Options menu, which holds the two lock options while the memo
    // belongs to a sealed file (added then, taken out again when it no longer does).
    void addOptions(QMenu* options);
    QAction* mnuLockIdle = nullptr;
    QAction* mnuLockMinimized = nullptr;

    // The key of the sealed file the memo came from or went to.
    void hold(sealed::SealKey key);
    // Wipes the held key (the memo no longer belongs to a sealed file).
    void drop();
    bool holdsKey() const { return !key_.empty(); }

    bool locked() const { return locked_; }
    // True while locked with changes that no save has stored.
    bool lockedWithChanges() const { return locked_ && modified_; }

    // Locks now, or as soon as no command runs and no dialog is open. Does
    // nothing without a held key or when locked already.
    void requestLock();
    // The panel's "Unlock..." button.
    void unlockCommand();

    // Copy and Cut of the memo hand their data here.
    void copyToClipboard(QMimeData* data);

    // Minutes without input before the memo locks (0: never).
    int idleMinutes() const { return minutes_; }
    // The idle time-out in milliseconds (tests shorten it; 0 goes back to the minutes).
    void setIdleIntervalForTesting(int ms);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool lockNow();
    void idleTimeout();
    // Starts or stops the idle timer and the input watch by the state.
    void rearm();
    void updateOptions();
    void lockIdleClick();
    void lockMinimizedClick();
    int intervalMs() const;

    TfrmMemo& window_;
    QMenu* options_ = nullptr;
    QAction* optionsSeparator_ = nullptr;
    LockedPanel* panel_ = nullptr;
    desktop::ScreenLockWatcher* watcher_ = nullptr;
    SecretClipboard clipboard_;
    sealed::SealKey key_;

    bool locked_ = false;
    bool unlocking_ = false;
    std::string sealed_; // the locked text, sealed with the (then wiped) key
    int caret_ = 0;
    int anchor_ = 0;
    bool modified_ = false;

    int minutes_ = 0;
    bool onMinimize_ = false;
    int testIntervalMs_ = 0;
    QTimer idle_;
    QTimer retry_;
    QElapsedTimer lastInput_;
    bool watchingInput_ = false;
};

} // namespace tq
