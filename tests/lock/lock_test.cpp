// The memo of a sealed file locks on each of its triggers - the idle time-out,
// the desktop's screen-lock signal on the session bus (KDE's and GNOME's), and
// minimizing - and unlocks with its passphrase only, giving back every byte,
// the caret and selection and the modified flag.
#include "tests/lock/lock_fixture.h"

#include "app/lock/locked_panel.h"
#include "app/memoview.h"
#include "app/mail/mail_window.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <functional>

namespace tqtest {
namespace {

// Every byte value (the line-break codes as a pair), then a few lines.
std::string everyByte()
{
    std::string text;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            text += static_cast<char>(c);
        }
    }
    return text + "\r\nSecond line \x80\xE9\r\n\r\nlast";
}

// A screen-lock signal as the desktop's screen saver sends it, from a
// connection of its own.
void emitActiveChanged(const char* path, const char* interface, bool active)
{
    QDBusConnection sender = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("screensaver"));
    ASSERT_TRUE(sender.isConnected()) << "no private session bus (run through lock-session.sh)";
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(path), QString::fromLatin1(interface),
                                                     QStringLiteral("ActiveChanged"));
    signal << active;
    ASSERT_TRUE(sender.send(signal));
}

using MemoLockTest = LockTest;

TEST_F(MemoLockTest, LocksOnEveryTriggerAndUnlocksOnlyWithThePassphraseGivingTheMemoBackUnchanged)
{
    struct Trigger {
        const char* name;
        std::function<void(tq::TfrmMemo&)> fire;
    };
    const std::vector<Trigger> triggers = {
        {"idle time-out", [](tq::TfrmMemo& w) { w.Lock->setIdleIntervalForTesting(200); }},
        {"freedesktop screen saver",
         [](tq::TfrmMemo&) { emitActiveChanged("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", true); }},
        {"KDE screen saver path",
         [](tq::TfrmMemo&) { emitActiveChanged("/ScreenSaver", "org.freedesktop.ScreenSaver", true); }},
        {"GNOME screen saver",
         [](tq::TfrmMemo&) { emitActiveChanged("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", true); }},
        {"minimized",
         [](tq::TfrmMemo& w) {
             w.Lock->mnuLockMinimized->trigger();
             ASSERT_TRUE(w.Lock->mnuLockMinimized->isChecked());
             w.showMinimized();
         }},
    };
    for (const Trigger& t : triggers) {
        SCOPED_TRACE(t.name);
        errors.clear();
        tq::TfrmMemo& w = startWithSealedMemo(everyByte(), "pass phrase");
        ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
        ASSERT_TRUE(w.Lock->holdsKey());
        EXPECT_TRUE(w.Opties1->actions().contains(w.Lock->mnuLockIdle));

        // Typed changes, with an undo step, and a backward selection.
        w.activateWindow();
        w.Memo->setFocus();
        w.Memo->setSelection(w.Memo->lineStart(1) + 3, 0);
        QTest::keyClicks(w.Memo, QStringLiteral("typed "));
        QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9"));
        QApplication::sendEvent(w.Memo, &accented);
        ASSERT_TRUE(w.Memo->canUndo());
        w.Memo->setSelection(w.Memo->lineStart(1) + 8, -5);
        const std::string memo = w.Memo->text();
        const int caret = w.Memo->caretOffset();
        const int selStart = w.Memo->selStart();
        const int selLength = w.Memo->selLength();
        ASSERT_EQ(caret, selStart);
        ASSERT_EQ(selLength, 5);
        ASSERT_TRUE(w.memoModified());
        w.txtZoekWoord->setText(QStringLiteral("typed"));
        program().mail().show();

        t.fire(w);
        ASSERT_TRUE(QTest::qWaitFor([&w] { return w.Lock->locked(); }, 5000));

        // Nothing of the text in the widget, its document or its undo step.
        EXPECT_EQ(w.Memo->textLength(), 0);
        EXPECT_TRUE(w.Memo->text().empty());
        EXPECT_EQ(w.Memo->lineCount(), 0);
        EXPECT_FALSE(w.Memo->canUndo());
        w.Memo->undo();
        EXPECT_TRUE(w.Memo->text().empty());
        EXPECT_EQ(w.txtZoekWoord->text(), QStringLiteral("Search"));
        EXPECT_FALSE(w.Lock->holdsKey());
        EXPECT_TRUE(w.Lock->panel()->isVisibleTo(&w));
        EXPECT_FALSE(w.Memo->isVisibleTo(&w));
        for (QAction* a : {w.Leegmaken1, w.open1, w.Opslaan1, w.mnuVerzegeldOpslaan, w.Afdrukken1, w.Coderen1,
                           w.Decoderen1, w.Kopieren1, w.Knippen1, w.Plakken1, w.Allesselecteren1, w.Ongedaanmaken1,
                           w.Verzenden1, w.mnuOntvangen, w.Sleutels1}) {
            EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
        }
        EXPECT_TRUE(w.Afsluiten1->isEnabled());
        EXPECT_TRUE(w.hasUnsavedChanges()) << "the close question still warns of the sealed changes";
        EXPECT_EQ(w.panel(1), QStringLiteral("Memo locked."));
        // Nothing may write a new text under the lock (a received mail would be
        // lost when the sealed one comes back).
        EXPECT_FALSE(program().mail().isVisible()) << "the send window reads the memo";
        EXPECT_FALSE(w.confirmDiscard());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.back(), QStringLiteral("The memo is locked. Unlock it first."));
        errors.clear();

        if (std::string(t.name) == "idle time-out" && !qEnvironmentVariableIsEmpty("TQ_SHOT_DIR")) {
            QApplication::processEvents();
            QTest::qWait(200);
            QDir().mkpath(qEnvironmentVariable("TQ_SHOT_DIR"));
            w.screen()->grabWindow(0).save(qEnvironmentVariable("TQ_SHOT_DIR") + "/locked-panel.png");
        }

        // A wrong passphrase: the one refusal, still locked, still empty.
        clickUnlock(w, "pass phrasE");
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.front(), QStringLiteral("Wrong passphrase, or the file is damaged."));
        EXPECT_TRUE(w.Lock->locked());
        EXPECT_TRUE(w.Memo->text().empty());
        EXPECT_FALSE(w.Opslaan1->isEnabled());

        // The right one: all of it back.
        w.showNormal();
        clickUnlock(w, "pass phrase");
        EXPECT_EQ(errors.size(), 1u);
        ASSERT_FALSE(w.Lock->locked());
        EXPECT_TRUE(w.Memo->text() == memo);
        EXPECT_EQ(w.Memo->caretOffset(), caret);
        EXPECT_EQ(w.Memo->selStart(), selStart);
        EXPECT_EQ(w.Memo->selLength(), selLength);
        EXPECT_TRUE(w.memoModified());
        EXPECT_TRUE(w.Memo->isVisibleTo(&w));
        EXPECT_FALSE(w.Lock->panel()->isVisibleTo(&w));
        EXPECT_TRUE(w.mnuVerzegeldOpslaan->isEnabled());
        EXPECT_TRUE(w.Lock->holdsKey()) << "unlocking gives the key back";
        EXPECT_TRUE(w.ControlsEnabled);

        program_.reset();
    }
}

TEST_F(MemoLockTest, IdleChoiceIsStoredAndAMemoOfNoSealedFileNeverLocks)
{
    tq::TfrmMemo& w = startWithSealedMemo("a sealed memo", "pw");
    // Off by default; choosing 7 minutes is kept in the settings.
    ASSERT_FALSE(w.Lock->mnuLockIdle->isChecked());
    tq::prompts::setInputHandler([](QWidget*, const QString&, const QString&, QString& value, tq::prompts::Echo) {
        value = QStringLiteral("7");
        return true;
    });
    w.Lock->mnuLockIdle->trigger();
    tq::prompts::setInputHandler({});
    EXPECT_EQ(w.Lock->idleMinutes(), 7);
    EXPECT_EQ(w.Lock->mnuLockIdle->text(), QStringLiteral("Lock after 7 minutes without input..."));
    program_.reset();
    tq::TfrmMemo& again = start();
    EXPECT_EQ(again.Lock->idleMinutes(), 7);
    EXPECT_FALSE(again.Opties1->actions().contains(again.Lock->mnuLockIdle))
        << "offered only for a memo of a sealed file";

    // New drops the key: no trigger locks a memo that belongs to no sealed file.
    program_.reset();
    tq::TfrmMemo& w2 = startWithSealedMemo("sealed", "pw");
    w2.NewMemo(false);
    EXPECT_FALSE(w2.Lock->holdsKey());
    ASSERT_TRUE(QTest::qWaitFor([&w2] { return !w2.delayedClear->isActive(); }, 5000));
    w2.Memo->setText("plain memo");
    w2.Lock->setIdleIntervalForTesting(50);
    w2.Lock->requestLock();
    QTest::qWait(300);
    EXPECT_FALSE(w2.Lock->locked());
    EXPECT_TRUE(w2.Memo->text() == "plain memo");
}

} // namespace
} // namespace tqtest
