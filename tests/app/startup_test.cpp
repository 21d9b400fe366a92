// Program start: the windows, the command-line argument, the start-minimized
// setting, and closing.
#include "tests/support/window_fixture.h"

#include "app/help_window.h"
#include "app/info_window.h"
#include "app/archive/compressie_window.h"
#include "app/memoview.h"
#include "app/seams.h"
#include "archive/sealed_archive.h"
#include "compress/compress.h"
#include "app/keys/sleutel_window.h"
#include "app/mail/mail_window.h"
#include "app/mail/mailontvangen_window.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/settings.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

namespace tqtest {
namespace {

using MainWindowStart = WindowTest;

TEST_F(MainWindowStart, CreatesTheElevenWindowsInOrderWithCaptionsAndSizes)
{
    create();
    struct Expected {
        const char* className;
        const char* caption;
        int width;
        int height;
    };
    const Expected expected[] = {
        {"tq::TfrmMemo", "Tarnquill", 0, 0},
        {"tq::TfrmSleutel", "Keys", 235, 163},
        {"tq::TMail", "Send e-mail", 393, 277},
        {"tq::TmailOntvangen", "Receive e-mail", 392, 351},
        {"tq::TfrmDelAttach", "Attachments", 249, 270},
        {"tq::TfrmHelp", "Help", 671, 426},
        {"tq::Tinfo", "About", 297, 141},
        {"tq::TNiveau", "Compressie instellingen", 269, 116},
        {"tq::TfrmCompressie", "Compressie", 439, 279},
        {"tq::TPathDialog", "Plaatsen in map...", 444, 254},
        {"tq::TfrmCompressKey", "Compressie sleutel", 207, 133},
    };
    const auto windows = program().windows();
    ASSERT_EQ(windows.size(), 11u);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE(expected[i].className);
        EXPECT_STREQ(windows[i]->metaObject()->className(), expected[i].className);
        EXPECT_EQ(windows[i]->windowTitle(), QString::fromUtf8(expected[i].caption));
        EXPECT_TRUE(windows[i]->isWindow());
        EXPECT_FALSE(windows[i]->isVisible()); // nothing is shown before start
        if (expected[i].width > 0) {
            EXPECT_EQ(windows[i]->size(), QSize(expected[i].width, expected[i].height));
        }
    }
    EXPECT_EQ(windows[0]->size(), QSize(711, 492));
}

TEST_F(MainWindowStart, WithoutArgumentTheMemoGetsTheFocusAndNothingElseOpens)
{
    auto& w = start();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.focusWidget(), w.Memo);
    for (QWidget* other : program().windows()) {
        if (other != &w) {
            EXPECT_FALSE(other->isVisible()) << other->windowTitle().toStdString();
        }
    }
    EXPECT_EQ(w.panel(2), QStringLiteral("Line: 0"));
    EXPECT_EQ(w.panel(3), QStringLiteral("Col: 0"));
    EXPECT_FALSE(w.panel(4).isEmpty());
    // The empty memo: Save as and Send are off after the next caret-timer tick.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.Opslaan1->isEnabled() && !w.Verzenden1->isEnabled(); }, 5000));
    EXPECT_TRUE(w.CursorTimer->isActive());
    EXPECT_TRUE(w.Statustimer->isActive());
    EXPECT_EQ(w.CursorTimer->interval(), 10);
    EXPECT_EQ(w.Statustimer->interval(), 1000);
}

TEST_F(MainWindowStart, AnExistingArchiveOpensOnlyTheArchiveWindow)
{
    for (const char* name : {"box.X", "small.x"}) {
        const QString path = makeFile(QString::fromLatin1(name));
        auto& w = start({path});
        EXPECT_TRUE(w.invisibleMode());
        EXPECT_FALSE(w.isVisible());
        auto& archive = program().frmCompressie();
        EXPECT_TRUE(archive.isVisible());
        EXPECT_EQ(archive.windowTitle(), QStringLiteral("Compressie - ") + QString::fromLatin1(name));
        // Back to the normal window style once the archive is read.
        EXPECT_FALSE(archive.windowFlags() & Qt::WindowStaysOnTopHint);
    }
}

TEST_F(MainWindowStart, ClosingTheOnlyVisibleArchiveWindowAsksToEndTheProgram)
{
    auto& w = start({makeFile("box.X")});
    auto& archive = program().frmCompressie();
    ASSERT_TRUE(archive.isVisible());
    answerYes = false;
    archive.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return questions == 1 && archive.isVisible(); }, 5000));
    EXPECT_FALSE(w.ClosingConfirmed);
    answerYes = true;
    archive.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.ClosingConfirmed; }, 5000));
    EXPECT_EQ(questions, 2);
}

TEST_F(MainWindowStart, AMissingArchiveOpensNothingAndShowsTheMainWindowNormally)
{
    // Nothing else opens, so the main window must be there to reach the program.
    auto& w = start({dir.filePath("gone.X")});
    EXPECT_FALSE(w.invisibleMode());
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(w.size(), QSize(711, 492));
    EXPECT_FALSE(program().frmCompressie().isVisible());
    EXPECT_EQ(w.focusWidget(), w.Memo);
}

// A sealed file is known by its content: an archive opens in the archive window
// alone after its passphrase, a memo in the main window.
TEST_F(MainWindowStart, ASealedArchiveOpensInTheArchiveWindowAndASealedMemoInTheMemo)
{
    const auto key = tq::sealed::DeriveKey(tq::sealed::SecretBytes::copyOf("pw"), {1, 8});
    ASSERT_TRUE(key);
    tq::XFileFrame frame;
    const std::string entry = "geheim\\brief.txt";
    frame.AppendPayload(reinterpret_cast<const std::uint8_t*>("brief"), 5);
    frame.AddEntry(5, entry, 2);
    const QString archivePath = makeFile("kluis.tqs");
    ASSERT_TRUE(tq::sealed_archive::Save(frame, archivePath.toStdString(), *key));
    const QString memoPath = makeFile("memo.bin", QByteArray::fromStdString(*tq::sealed::SealWithKey("de memo", *key)));
    int asked = 0;
    tq::prompts::setPassphraseHandler([&asked](QWidget*, const tq::prompts::PassphraseRequest&,
                                               tq::sealed::SecretBytes& out) {
        ++asked;
        out = tq::sealed::SecretBytes::copyOf("pw");
        return true;
    });

    auto& w = start({archivePath});
    EXPECT_TRUE(w.invisibleMode());
    auto& archive = program().frmCompressie();
    EXPECT_TRUE(archive.isVisible());
    EXPECT_EQ(archive.windowTitle(), QStringLiteral("Compressie - kluis.tqs"));
    EXPECT_EQ(archive.nodeNames(), std::vector<std::string>{entry});
    EXPECT_TRUE(archive.sealedArchive());
    EXPECT_EQ(asked, 1);

    auto& m = start({memoPath});
    EXPECT_FALSE(m.invisibleMode());
    EXPECT_TRUE(m.isVisible());
    EXPECT_FALSE(program().frmCompressie().isVisible());
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_EQ(m.Memo->text(), "de memo");
    EXPECT_EQ(asked, 2);
    tq::prompts::setPassphraseHandler({});
}

TEST_F(MainWindowStart, AnEncryptedMemoFileShowsTheKeyDialogFirst)
{
    const QString path = makeFile("memo.crp", QByteArray(600, '\1'));
    auto& w = start({path});
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.invisibleMode());
    EXPECT_TRUE(program().frmSleutel().isVisible());
    EXPECT_FALSE(w.AbortRequested);
    EXPECT_EQ(w.Memo->textLength(), 0);
    EXPECT_NE(w.focusWidget(), w.Memo);
}

TEST_F(MainWindowStart, AnyOtherExistingFileIsIgnoredAndTheMemoGetsNoFocus)
{
    auto& w = start({makeFile("notes.txt", "hello")});
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(program().frmSleutel().isVisible());
    EXPECT_FALSE(program().frmCompressie().isVisible());
    EXPECT_EQ(w.Memo->textLength(), 0);
    EXPECT_NE(w.focusWidget(), w.Memo);
}

TEST_F(MainWindowStart, AMissingFileIsIgnoredAndTheMemoGetsTheFocus)
{
    auto& w = start({dir.filePath("missing.crp")});
    EXPECT_FALSE(program().frmSleutel().isVisible());
    EXPECT_EQ(w.focusWidget(), w.Memo);
}

TEST_F(MainWindowStart, StartMinimizedAppliesOnlyWithoutArgument)
{
    tq::settings::writeString("startMinimized", "1");
    {
        auto& w = start();
        EXPECT_TRUE(w.startsMinimized());
        EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
        EXPECT_TRUE(w.Startgeminimalizeerd1->isChecked());
    }
    {
        auto& w = start({makeFile("notes.txt")});
        EXPECT_FALSE(w.startsMinimized());
        EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
        EXPECT_FALSE(w.Startgeminimalizeerd1->isChecked());
    }
    tq::settings::writeString("startMinimized", "no");
    {
        auto& w = start();
        EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
        EXPECT_FALSE(w.Startgeminimalizeerd1->isChecked());
    }
}

TEST_F(MainWindowStart, OptionsItemsToggleAndStoreTheirSetting)
{
    auto& w = start();
    w.Startgeminimalizeerd1->trigger();
    EXPECT_TRUE(w.Startgeminimalizeerd1->isChecked());
    EXPECT_EQ(tq::settings::readString("startMinimized"), "1");
    w.Startgeminimalizeerd1->trigger();
    EXPECT_EQ(tq::settings::readString("startMinimized"), "0");

    w.Ladentijdensopstarten1->trigger();
    EXPECT_TRUE(w.Ladentijdensopstarten1->isChecked());
    EXPECT_EQ(QString::fromStdString(tq::autostart::entryPath()), QCoreApplication::applicationFilePath());
    w.Ladentijdensopstarten1->trigger();
    EXPECT_EQ(tq::autostart::entryPath(), "");
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowStart, LoadOnWindowsStartIsCheckedOnlyForAnEntryNamingAnExistingFile)
{
    tq::autostart::install(makeFile("tarnquill-binary").toStdString());
    EXPECT_TRUE(create().Ladentijdensopstarten1->isChecked());
    tq::autostart::install(dir.filePath("moved-away").toStdString());
    EXPECT_FALSE(create().Ladentijdensopstarten1->isChecked());
}

TEST_F(MainWindowStart, NoToTheCloseQuestionKeepsTheWindowAndChangesNothing)
{
    auto& w = start();
    answerYes = false;
    EXPECT_FALSE(w.close());
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(lastQuestion, QStringLiteral("Are you sure you want to close Tarnquill ?"));
    EXPECT_EQ(lastQuestionIcon, tq::prompts::Icon::Question);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.ClosingConfirmed);
    EXPECT_FALSE(w.AbortRequested);
    EXPECT_FALSE(w.MainEngine().Cancel);
    EXPECT_FALSE(w.MainEngine().Bytes.Abort);

    // A running command goes on: the busy state is kept.
    w.beginBusy();
    EXPECT_FALSE(w.close());
    EXPECT_FALSE(w.ControlsEnabled);
    EXPECT_FALSE(w.AbortRequested);
}

TEST_F(MainWindowStart, YesToTheCloseQuestionStopsEverythingAndClosesWithoutAskingAgain)
{
    auto& w = start();
    answerYes = true;
    EXPECT_TRUE(w.close());
    EXPECT_TRUE(w.ClosingConfirmed);
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_TRUE(w.MainEngine().Cancel);
    EXPECT_TRUE(w.MainEngine().Bytes.Abort);
    EXPECT_EQ(w.panel(0), QStringLiteral("Closing..."));
    EXPECT_FALSE(w.isVisible());
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_EQ(questions, 1);
}

TEST_F(MainWindowStart, MenuCommandsShowTheirWindows)
{
    auto& w = start();
    w.Sleutels1->trigger();
    EXPECT_TRUE(program().frmSleutel().isVisible());
    w.mnuOntvangen->trigger();
    EXPECT_TRUE(program().mailOntvangen().isVisible());
    w.Verzenden1->setEnabled(true);
    w.Verzenden1->trigger();
    EXPECT_TRUE(program().mail().isVisible());
    w.Help1->trigger();
    EXPECT_TRUE(program().frmHelp().isVisible());
    w.Info2->trigger();
    EXPECT_TRUE(program().info().isVisible());
    w.Compressieniveau2->trigger();
    EXPECT_TRUE(program().frmCompressie().isVisible());
    EXPECT_TRUE(errors.empty());
}

} // namespace
} // namespace tqtest
