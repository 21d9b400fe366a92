// One program per user: a later start hands its file to the running program,
// a socket left by a killed program does not block a start, and --help and
// --version answer without a window system.
#include "tests/support/window_fixture.h"

#include "app/keys/sleutel_window.h"
#include "app/seams.h"
#include "app/single_instance.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace tqtest {
namespace {

const QString kProgram = QString::fromLocal8Bit(TQ_PROGRAM_PATH);

class SingleInstance : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        // The socket lives below the user's runtime folder: a private one here.
        ASSERT_TRUE(runtime.isValid());
        savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
    void TearDown() override
    {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        tq::setFileDialogRunner({});
        WindowTest::TearDown();
    }
    QTemporaryDir runtime;
    QByteArray savedRuntime;
};

TEST_F(SingleInstance, AKilledProgramsSocketDoesNotBlockAndASecondStartOpensItsFileInTheFirst)
{
    const QString name = tq::TSingleInstance::userServerName();
#ifdef _WIN32
    EXPECT_TRUE(name.startsWith(QStringLiteral("tarnquill-")));
#else
    ASSERT_EQ(name, runtime.filePath(QStringLiteral("tarnquill.socket")));
    // A program killed while it runs leaves its socket behind.
    QProcess killed;
    killed.start(kProgram, {});
    ASSERT_TRUE(killed.waitForStarted(10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(name); }, 30000)) << "the first start listens";
    killed.kill();
    ASSERT_TRUE(killed.waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(name)) << "nothing removed the socket of the killed program";
#endif

    // This program starts next and takes the name all the same.
    auto& w = start();
    tq::TSingleInstance instance(name);
    ASSERT_EQ(instance.start(QString()), tq::TSingleInstance::Outcome::Listening);
    QObject::connect(&instance, &tq::TSingleInstance::argumentReceived, &w,
                     [&w](const QString& path) { w.argumentHandedOver(path); });

    // A memo saved to notes.crp; the window then holds another text and sits minimized.
    const QString notes = dir.filePath(QStringLiteral("notes.crp"));
    tq::setFileDialogRunner([&](QWidget*, const tq::FileRequest&) { return QStringList{notes}; });
    w.Memo->setText("meet at noon");
    w.imgOpslaanClick();
    w.Memo->setText("other text");
    w.setMemoModified(false);
    w.showMinimized();

    // `tarnquill notes.crp` from the file's folder: handed over, and that start ends.
    QProcess second;
    second.setWorkingDirectory(dir.path());
    second.start(kProgram, {QStringLiteral("notes.crp")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();

    tq::TfrmSleutel& keys = program().frmSleutel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return keys.isVisible(); }, 5000));
    EXPECT_EQ(keys.startFile(), notes) << "the path, made absolute";
    EXPECT_FALSE(w.isMinimized());
    keys.btnOkClick();
    EXPECT_EQ(w.Memo->text(), "meet at noon");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - notes.crp"));
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
}

TEST(ProgramOptions, HelpAndVersionPrintAndEndWithoutAWindowSystem)
{
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        QProcess p;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A window system that does not exist: the program would fail to start one.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        p.setProcessEnvironment(environment);
        p.start(kProgram, {QString::fromLatin1(option)});
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0);
        EXPECT_TRUE(p.readAllStandardOutput().startsWith(option[2] == 'h' ? "Usage: tarnquill [FILE]\n"
                                                                           : "tarnquill "));
        EXPECT_TRUE(p.readAllStandardError().isEmpty());
    }
}

} // namespace
} // namespace tqtest
