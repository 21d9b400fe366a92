// The file types after a real start of the program in a fresh XDG home, as the
// desktop sees them: the shared MIME database asked through gio, the user's
// default applications.
#include "tests/desktop/session.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>

namespace tqtest {
namespace {

class FileTypes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("share")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("XFCE"));
        env.remove(QStringLiteral("XDG_DATA_DIRS"));
        env.remove(QStringLiteral("TARNQUILL_SETTINGS"));
        env.remove(QStringLiteral("TARNQUILL_AUTOSTART_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Apart from any other copy of the program this user runs.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    }

    QString contentType(const QString& path) const
    {
        const QString out = QString::fromLocal8Bit(
            run(env, QStringLiteral("gio"), {QStringLiteral("info"), QStringLiteral("-a"),
                                             QStringLiteral("standard::content-type"), path}));
        return QRegularExpression(QStringLiteral("standard::content-type: (\\S+)")).match(out).captured(1);
    }

    QString write(const QString& name, const QByteArray& bytes) const
    {
        const QString path = home.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

    // Starts the program and lets it run until `ready` holds, then ends it.
    bool runProgramUntil(const std::function<bool()>& ready) const
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QStringLiteral(TQ_PROGRAM_PATH), {});
        p.waitForStarted(10000);
        const bool ok = waitUntil(ready, 20000);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        p.waitForFinished(5000);
        return ok;
    }

    QTemporaryDir home;
    QTemporaryDir runtime;
    QProcessEnvironment env;
};

TEST_F(FileTypes, AStartKeepsTheUsersDefaultAndLowerCaseXFilesOfOtherFormats)
{
    const QByteArray userList = "[Default Applications]\napplication/x-tarnquill-memo=mousepad.desktop\n";
    write(QStringLiteral("config/xfce-mimeapps.list"), userList);
    QFile script(QStringLiteral("/usr/lib/x86_64-linux-gnu/ldscripts/elf_x86_64.x"));
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    const QString ldScript = write(QStringLiteral("docs/elf_x86_64.x"), script.readAll());
    // An archive with one stored entry "a.txt" of 3 bytes, and an empty one.
    QByteArray record = QByteArray("3").leftJustified(11, ' ') + '\x02' + QByteArray("\x00\x05", 2) + "a.txt";
    const QByteArray archive = QByteArray("\x00", 1) + char(2 + record.size()) + QByteArray("\x00\x01", 2) + record + "abc";
    const QString lowerArchive = write(QStringLiteral("docs/a.x"), archive);
    const QString emptyArchive = write(QStringLiteral("docs/empty.x"), QByteArray("\x00\x02\x00\x00", 4));
    const QString upperName = write(QStringLiteral("docs/B.X"), "any bytes");
    const QString before = contentType(ldScript);
    ASSERT_FALSE(before.isEmpty());

    // The databases are updated in the background while the program runs.
    ASSERT_TRUE(runProgramUntil(
        [&] { return contentType(lowerArchive) == QLatin1String("application/x-tarnquill-archive"); }))
        << contentType(lowerArchive).toStdString();
    EXPECT_EQ(contentType(ldScript), before);
    EXPECT_EQ(contentType(emptyArchive), QStringLiteral("application/x-tarnquill-archive"));
    EXPECT_EQ(contentType(upperName), QStringLiteral("application/x-tarnquill-archive"));

    QFile list(home.filePath(QStringLiteral("config/xfce-mimeapps.list")));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    EXPECT_EQ(list.readAll(), userList);
    QFile general(home.filePath(QStringLiteral("config/mimeapps.list")));
    ASSERT_TRUE(general.open(QIODevice::ReadOnly));
    const QByteArray generalText = general.readAll();
    EXPECT_FALSE(generalText.contains("application/x-tarnquill-memo")) << generalText.constData();
    EXPECT_TRUE(generalText.contains("\napplication/x-tarnquill-archive=tarnquill.desktop\n")) << generalText.constData();
}

} // namespace
} // namespace tqtest

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
