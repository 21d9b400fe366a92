// Desktop integration of the main window (file types at start, tray icon) and
// the about and help windows with their link label.
#include "tests/support/window_fixture.h"

#include "app/archive/compressie_window.h"
#include "app/help_window.h"
#include "app/info_window.h"
#include "app/keys/sleutel_window.h"
#include "app/systray.h"
#include "app/weblabel.h"
#include "platform/desktop/autostart.h"
#include "platform/desktop/settings.h"
#include "platform/version.h"

#include <QAction>
#include <QEnterEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace tqtest {
namespace {

const QString kVersion = QString::fromLatin1(tq::kVersionText);

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Desktop : public WindowTest {
protected:
    // A fresh XDG home for this test alone.
    void useFreshHome()
    {
        ASSERT_TRUE(home.isValid());
        qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", home.filePath("config").toLocal8Bit());
    }
    void TearDown() override
    {
        tq::TSystray::setAvailabilityOverride(std::nullopt);
        tq::setLinkOpener({});
        WindowTest::TearDown();
    }
    QTemporaryDir home;
};

TEST_F(Desktop, StartRegistersBothFileTypesForTheRunningProgram)
{
    useFreshHome();
    auto& w = start();
    const QByteArray entry = readAll(home.filePath("share/applications/tarnquill.desktop"));
    EXPECT_TRUE(entry.contains("\nExec=" + QCoreApplication::applicationFilePath().toLocal8Bit() + " %f\n"))
        << entry.constData();
    const QByteArray list = readAll(home.filePath("config/mimeapps.list"));
    EXPECT_TRUE(list.contains("\napplication/x-tarnquill-archive=tarnquill.desktop\n"));
    EXPECT_TRUE(list.contains("\napplication/x-tarnquill-memo=tarnquill.desktop\n"));
    EXPECT_FALSE(w.panel(4).startsWith(QStringLiteral("File types not registered")));
}

TEST_F(Desktop, ARegistrationFailureIsReportedInTheStatusBarAndTheStartGoesOn)
{
    useFreshHome();
    QFile blocker(home.filePath("share"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly)); // a file where the data folder belongs
    blocker.close();
    auto& w = start({makeFile("notes.crp", QByteArray(600, '\1'))});
    EXPECT_TRUE(w.panel(4).startsWith(QStringLiteral("File types not registered: "))) << w.panel(4).toStdString();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(program().frmSleutel().isVisible()); // the rest of the start ran
    EXPECT_TRUE(errors.empty());
}

TEST_F(Desktop, StartMinimizedWithoutArgumentShowsOnlyTheTrayIconUntilADoubleClick)
{
    tq::TSystray::setAvailabilityOverride(true);
    tq::settings::writeString("startMinimized", "1");
    {
        auto& w = start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return w.Systray->iconShown(); }, 5000));
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(w.Systray->trayIcon()->toolTip(), QStringLiteral("Tarnquill(Compressie, Encryptie)"));
        EXPECT_FALSE(w.Systray->trayIcon()->icon().isNull());
        emit w.Systray->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
        EXPECT_FALSE(w.Systray->iconShown());
    }
    {
        auto& w = start({makeFile("notes.txt")});
        QTest::qWait(50);
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.Systray->iconShown());
    }
}

TEST_F(Desktop, TheTrayTipIsCutTo63CharactersAndTheTrayMenuIsTheIcons)
{
    tq::TSystray::setAvailabilityOverride(true);
    auto& w = start();
    const QString hint = QStringLiteral("0123456789").repeated(7);
    w.Systray->setHint(hint);
    w.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Systray->iconShown(); }, 5000));
    EXPECT_EQ(w.Systray->trayIcon()->toolTip(), hint.left(63));
    w.Systray->setHint(QStringLiteral("short"));
    EXPECT_EQ(w.Systray->trayIcon()->toolTip(), QStringLiteral("short")); // updated in place

    // The menu is the icon's own, so the tray host shows it on a right click.
    EXPECT_EQ(w.Systray->trayIcon()->contextMenu(), w.PopupMenu);
    // Restoring by any other way removes the icon too.
    w.showNormal();
    EXPECT_FALSE(w.Systray->iconShown());
}

TEST_F(Desktop, WithoutATrayMinimizingIsOrdinaryAndTheStatusBarOffersTheTrayMenu)
{
    tq::TSystray::setAvailabilityOverride(false);
    auto& w = start();
    w.showMinimized();
    QTest::qWait(50);
    EXPECT_FALSE(w.Systray->iconShown());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.StatusBar->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(Desktop, AConfirmedCloseAsksTheUnsavedArchiveAndEndsTheProgramUnlessTheArchiveIsKept)
{
    tq::prompts::setQuestionHandler({});
    // A program ended by an earlier test leaves every event loop refusing to
    // run until the application's own loop has run once.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const QString archiveQuestion = QStringLiteral("Het bestand is nog niet opgeslagen weet u\r") +
                                    QString(11, QLatin1Char(' ')) + QStringLiteral("zeker dat u wilt afsluiten");
    for (const bool keepArchive : {true, false}) {
        SCOPED_TRACE(keepArchive ? "archive kept" : "archive dropped");
        auto& w = start();
        auto& archive = program().frmCompressie();
        archive.show();
        archive.TreeView->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("a.txt")}));
        archive.Saved = false;
        QStringList texts;
        answerBoxes({true, !keepArchive}, texts);
        w.close();
        ASSERT_EQ(texts.size(), 2);
        EXPECT_EQ(texts[1], archiveQuestion);
        EXPECT_EQ(w.isVisible(), keepArchive);
        EXPECT_EQ(archive.isVisible(), keepArchive);
        EXPECT_EQ(w.ClosingConfirmed, !keepArchive);
        // The event loop ends by itself only after a confirmed close.
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(7); });
        limit.start(3000);
        EXPECT_EQ(QApplication::exec(), keepArchive ? 7 : 0);
    }
}

TEST_F(Desktop, AnOptionThatCannotBeStoredPutsItsCheckMarkBackAndSaysWhy)
{
    auto& w = start();
    // A file where the folders should be: neither option can be written.
    const QString blocker = makeFile(QStringLiteral("blocker"));
    tq::settings::setStorageOverride((blocker + QStringLiteral("/tarnquill.ini")).toStdString());
    tq::autostart::setFolderOverride((blocker + QStringLiteral("/autostart")).toStdString());
    for (QAction* item : {w.Startgeminimalizeerd1, w.Ladentijdensopstarten1}) {
        SCOPED_TRACE(item->text().toStdString());
        errors.clear();
        ASSERT_FALSE(item->isChecked());
        item->trigger();
        EXPECT_FALSE(item->isChecked());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_FALSE(errors[0].isEmpty());
    }
}

TEST_F(Desktop, AboutShowsFiveLinesWithTheVersionAndHoldsTheMainWindowUntilClosed)
{
    auto& w = start();
    auto& about = program().info();
    for (int round = 0; round < 2; ++round) {
        w.Info2->trigger();
        ASSERT_TRUE(about.isVisible());
        const QStringList lines = about.infoBox->toPlainText().split(u'\n');
        ASSERT_EQ(lines.size(), 5);
        EXPECT_EQ(lines[0], QStringLiteral("Tarnquill"));
        EXPECT_EQ(lines[1], QStringLiteral("Version ") + kVersion);
        EXPECT_TRUE(lines[2].isEmpty());
        EXPECT_EQ(lines[4], QStringLiteral("Date: 15-01-2005"));
        EXPECT_FALSE(w.isEnabled());
        if (round == 0) {
            QTest::keyClick(&about, Qt::Key_Escape);
        } else {
            QTest::mouseClick(about.Button1, Qt::LeftButton);
        }
        EXPECT_FALSE(about.isVisible());
        EXPECT_TRUE(w.isEnabled());
    }
    EXPECT_EQ(about.Button1->text(), QStringLiteral("&Ok"));
}

TEST_F(Desktop, HelpAlwaysOpensOnBasicHelpWithItsLegendAndTheVersion)
{
    auto& w = start();
    auto& help = program().frmHelp();
    w.Help1->trigger();
    ASSERT_TRUE(help.isVisible());
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(help.PageControlHelp->tabText(0), QStringLiteral("Basic Help"));
    EXPECT_EQ(help.PageControlHelp->tabText(1), QStringLiteral("Contact"));
    EXPECT_EQ(help.lblVersie->text(), QStringLiteral("Version: ") + kVersion);
    help.PageControlHelp->setCurrentWidget(help.TabSheet2);
    QTest::keyClick(&help, Qt::Key_Escape);
    EXPECT_FALSE(help.isVisible());
    w.Help1->trigger();
    EXPECT_EQ(help.PageControlHelp->currentWidget(), help.tabAlgemeen);

    const char* const rows[] = {
        "Save  file as encrypted file (.CRP)",
        "Open encrypted file",
        "Search for word in file",
        "Abort encrypting / decrypting",
        "Start new encryption file",
        "Send or receive e-mail using the Mail menu",
        "Encrypt file using keys",
        "Decrypt file using keys",
        "These fields contain the keys that are used for encrypting / decrypting",
        "Save or open the keys in a (.ky*) file",
    };
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i + 1);
        auto* label = help.tabAlgemeen->findChild<QLabel*>(QStringLiteral("lblHelp%1").arg(i + 1));
        auto* image = help.tabAlgemeen->findChild<QLabel*>(QStringLiteral("imgHelp%1").arg(i + 1));
        ASSERT_NE(label, nullptr);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(label->text(), QString::fromLatin1(rows[i]));
        EXPECT_FALSE(image->pixmap().isNull());
        EXPECT_EQ(image->y() / 30, label->y() / 30); // on the same row
    }
}

TEST_F(Desktop, WebLabelAlwaysPutsThePrefixOfItsTypeBeforeTheLink)
{
    std::vector<QString> opened;
    tq::setLinkOpener([&](const QString& target) { opened.push_back(target); });
    struct Case {
        const char* link;
        tq::TURLType type;
        QString target;
    };
    const Case cases[] = {
        {"someone@example.org", tq::lnMailto, QStringLiteral("mailto:someone@example.org")},
        {"http://example.org", tq::lnHttp, QStringLiteral("http://http://example.org")},
        {"ftp.example.org/pub", tq::lnFtp, QStringLiteral("ftp://ftp.example.org/pub")},
        {"comp.lang", tq::lnNews, QStringLiteral("news:comp.lang")},
        {"", tq::lnFtp, QStringLiteral("http://") + QString::fromLatin1(tq::kAuthorSite)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        tq::TWebLabel label;
        EXPECT_EQ(label.LinkTyp, tq::lnHttp);
        EXPECT_TRUE(label.font().underline());
        EXPECT_EQ(label.font().pointSize(), 10);
        EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
        label.setText(QStringLiteral("link"));
        label.Link = QString::fromLatin1(c.link);
        label.LinkTyp = c.type;
        label.show();
        QTest::mouseClick(&label, Qt::LeftButton);
        ASSERT_FALSE(opened.empty());
        EXPECT_EQ(opened.back(), c.target);
    }
    EXPECT_EQ(opened.size(), std::size(cases));

    start();
    auto& info = program().info();
    info.show();
    QTest::mouseClick(info.WebLabel1, Qt::LeftButton);
    EXPECT_EQ(opened.back(), QStringLiteral("http://") + QString::fromLatin1(tq::kAuthorSite));
}

TEST_F(Desktop, WebLabelHoverUnderlinesOnlyWhileTheMouseIsOver)
{
    tq::TWebLabel label;
    const auto enter = [&] {
        QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(&label, &e);
    };
    const auto leave = [&] {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(&label, &e);
    };
    label.setHover(true);
    EXPECT_FALSE(label.font().underline());
    enter();
    EXPECT_TRUE(label.font().underline());
    leave();
    EXPECT_FALSE(label.font().underline());
    label.setHover(false);
    EXPECT_TRUE(label.font().underline());
    leave();
    EXPECT_TRUE(label.font().underline());
}

TEST(Version, BothProgramsPrintTheBuildsVersion)
{
    const std::pair<const char*, QString> programs[] = {
        {TQ_PROGRAM_PATH, QStringLiteral("tarnquill ") + kVersion + u'\n'},
        {TQ_CLI_PATH, QStringLiteral("tarnquill-cli ") + kVersion + u'\n'},
    };
    for (const auto& [path, expected] : programs) {
        QProcess p;
        p.start(QString::fromLocal8Bit(path), {QStringLiteral("--version")});
        ASSERT_TRUE(p.waitForFinished(30000)) << path;
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_EQ(QString::fromLatin1(p.readAllStandardOutput()), expected);
    }
    // Four numbers, as the version resource holds them.
    EXPECT_EQ(kVersion.split(u'.').size(), 4);
}

} // namespace
} // namespace tqtest
