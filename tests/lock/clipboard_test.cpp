// Copies from a sealed memo on a real X clipboard, seen by another X client
// (xclip): marked secret for clipboard managers, cleared after the time-out and
// at the program's end - but never when something else was copied since.
#include "tests/lock/lock_fixture.h"

#include "app/memoview.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace tqtest {
namespace {

QString xclip()
{
    return QStandardPaths::findExecutable(QStringLiteral("xclip"));
}

// What another client reads from the clipboard as `target` (empty when nothing).
QByteArray readClipboard(const QString& target = QStringLiteral("UTF8_STRING"))
{
    return runPumping(xclip(), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
                                QStringLiteral("-t"), target});
}

using SecretClipboardTest = LockTest;

TEST_F(SecretClipboardTest, ClearedAfterTheTimeOutAndAtTheEndButNotWhenSomethingElseWasCopiedSince)
{
    ASSERT_FALSE(xclip().isEmpty()) << "xclip is needed (scripts/packages/test.txt)";
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run through lock-session.sh";
    tq::TfrmMemo& w = startWithSealedMemo("one secret line", "pw");
    w.Lock->clipboard().setTimeout(1500);
    auto copyWord = [&w] {
        w.Memo->setSelection(4, 6);
        w.Kopieren1->trigger();
    };

    // Marked for the managers, cleared after the time-out.
    copyWord();
    EXPECT_EQ(readClipboard(), QByteArray("secret"));
    EXPECT_EQ(readClipboard(QStringLiteral("x-kde-passwordManagerHint")), QByteArray("secret"));
    ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.Lock->clipboard().waiting(); }, 10000));
    EXPECT_EQ(readClipboard(), QByteArray());

    // Another program copies meanwhile: its copy stays.
    copyWord();
    ASSERT_EQ(readClipboard(), QByteArray("secret"));
    QProcess other;
    other.start(xclip(), {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-i"),
                          QStringLiteral("-quiet")});
    ASSERT_TRUE(other.waitForStarted());
    other.write("copied elsewhere");
    other.closeWriteChannel();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->ownsClipboard(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.Lock->clipboard().waiting(); }, 10000));
    EXPECT_EQ(readClipboard(), QByteArray("copied elsewhere"));
    other.kill();
    other.waitForFinished(3000);

    // This program copies something that is not secret: that stays too.
    copyWord();
    auto* plain = new QMimeData;
    plain->setText(QStringLiteral("not from the memo"));
    QGuiApplication::clipboard()->setMimeData(plain);
    ASSERT_TRUE(QTest::qWaitFor([&w] { return !w.Lock->clipboard().waiting(); }, 10000));
    EXPECT_EQ(readClipboard(), QByteArray("not from the memo"));

    // A copy from a memo of no sealed file is left alone.
    w.NewMemo(false);
    w.Memo->setText("an open memo");
    w.Memo->setSelection(3, 4);
    w.Kopieren1->trigger();
    EXPECT_FALSE(w.Lock->clipboard().waiting());
    EXPECT_EQ(readClipboard(QStringLiteral("x-kde-passwordManagerHint")), QByteArray());
    EXPECT_EQ(readClipboard(), QByteArray("open"));

    // Locking clears it at once.
    program_.reset();
    tq::TfrmMemo& locking = startWithSealedMemo("one secret line", "pw");
    locking.Memo->setSelection(4, 6);
    locking.Kopieren1->trigger();
    ASSERT_EQ(readClipboard(), QByteArray("secret"));
    locking.Lock->requestLock();
    ASSERT_TRUE(locking.Lock->locked());
    EXPECT_EQ(readClipboard(), QByteArray());

    // The end of the program clears a secret copy that waits.
    program_.reset();
    tq::TfrmMemo& again = startWithSealedMemo("one secret line", "pw");
    again.Memo->setSelection(4, 6);
    again.Kopieren1->trigger();
    ASSERT_EQ(readClipboard(), QByteArray("secret"));
    program_.reset();
    EXPECT_EQ(readClipboard(), QByteArray());
}

} // namespace
} // namespace tqtest
