// The program under a real Wayland compositor (a headless weston, Qt's wayland
// platform): the main window maps, the key dialog opens from its menu item, the
// archive window from the tray menu's command, and closing asks the question in
// a real message box and ends the program. Widgets are driven from inside, as
// there is no input tool for Wayland here; a screenshot of each step is taken
// when TQ_WAYLAND_SCREENSHOTS names a folder.
#include "tests/desktop/session.h"
#include "tests/support/window_fixture.h"

#include "app/archive/compressie_window.h"
#include "app/keys/sleutel_window.h"
#include "app/program.h"

#include <QGuiApplication>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

namespace tqtest {
namespace {

QString g_socket;

void screenshot(const QString& name)
{
    const QString folder = QString::fromLocal8Bit(qgetenv("TQ_WAYLAND_SCREENSHOTS"));
    if (folder.isEmpty()) {
        return;
    }
    QTest::qWait(300); // drawn, not only mapped
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("weston-screenshooter"), {});
    p.waitForFinished(10000);
    for (const QString& shot : QDir(folder).entryList({QStringLiteral("wayland-screenshot-*.png")})) {
        QFile::rename(folder + u'/' + shot, folder + u'/' + name + QStringLiteral(".png"));
    }
}

TEST(Wayland, StartKeyDialogArchiveWindowAndTheCloseQuestion)
{
    ASSERT_FALSE(g_socket.isEmpty()) << "weston did not start";
    ASSERT_TRUE(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));
    tq::TProgram program({});
    program.start();
    tq::TfrmMemo& w = program.frmMemo();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w, 10000));
    screenshot(QStringLiteral("main"));

    // Edit > Keys. (A headless compositor has no seat to give the window the
    // keyboard focus that a shortcut needs, so the menu command runs.)
    w.Sleutels1->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return program.frmSleutel().isVisible(); }, 5000));
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&program.frmSleutel(), 5000));
    screenshot(QStringLiteral("keys"));
    program.frmSleutel().close();

    // The tray menu's "Compress".
    w.Compressieniveau2->trigger();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&program.frmCompressie(), 5000));
    screenshot(QStringLiteral("archive"));
    program.frmCompressie().close();

    QStringList texts;
    answerBoxes({true}, texts);
    QTimer::singleShot(0, &w, [&w] { w.close(); });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    limit.start(10000);
    EXPECT_EQ(QApplication::exec(), 0);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].contains(QStringLiteral("close Tarnquill"))) << texts[0].toStdString();
}

} // namespace
} // namespace tqtest

int main(int argc, char** argv)
{
    // A compositor of our own, in a runtime folder of our own.
    QTemporaryDir dir;
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    ::chmod(QFile::encodeName(runtime).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("share"))));
    const QString socket = QStringLiteral("wl-tq-%1").arg(QCoreApplication::applicationPid());
    QProcess weston;
    weston.setProcessChannelMode(QProcess::MergedChannels);
    weston.setStandardOutputFile(dir.filePath(QStringLiteral("weston.log")));
    weston.start(QStringLiteral("weston"),
                 {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--socket=") + socket,
                  QStringLiteral("--use-pixman"), QStringLiteral("--width=1280"), QStringLiteral("--height=900"),
                  QStringLiteral("--debug")});
    if (weston.waitForStarted(10000) &&
        tqtest::waitUntil([&] { return QFile::exists(runtime + u'/' + socket); }, 10000)) {
        tqtest::g_socket = socket;
    }
    qputenv("WAYLAND_DISPLAY", socket.toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "wayland");
    int result = 1;
    {
        tq::TApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (weston.state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(weston.processId()), SIGTERM);
        weston.waitForFinished(5000);
    }
    return result;
}
