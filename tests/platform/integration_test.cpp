// File associations, autostart and start minimized through the one desktop
// interface: the registry entries (written to the settings' INI test backend)
// and the freedesktop.org files in a temporary XDG home.
#include "platform/desktop/autostart.h"
#include "platform/desktop/freedesktop.h"
#include "platform/desktop/integration.h"
#include "platform/desktop/settings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using tq::settings::Hive;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

// desktop-file-validate's verdict on a file (empty: accepted).
QString validate(const QString& path)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("desktop-file-validate"), {path});
    if (!p.waitForFinished(30000)) {
        return QStringLiteral("desktop-file-validate did not run");
    }
    const QString out = QString::fromLocal8Bit(p.readAll()).trimmed();
    return p.exitCode() == 0 ? QString() : out.isEmpty() ? QStringLiteral("rejected") : out;
}

TEST(WindowsIntegration, WritesTheAssociationAutostartAndStartMinimizedEntries)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    tq::settings::setStorageOverride(dir.filePath("registry.ini").toStdString());
    const auto windows = tq::desktop::makeWindowsIntegration();
    const std::string program = "C:\\Program Files\\Tarnquill\\Tarnquill.exe";
    windows->RegisterFileType("x", program);
    windows->RegisterFileType("crp", program);

    struct Entry {
        const char* key;
        const char* name;
        std::optional<std::string> data;
    };
    const Entry entries[] = {
        {".crp", "", "crpfile"},
        {"crpfile", "", std::nullopt},
        {"crpfile\\DefaultIcon", "", program + ",0"},
        {"crpfile\\shell\\open\\command", "", program + " \"%1\""},
        {".x", "", "xfile"},
        {"xfile", "", std::nullopt},
        {"xfile\\DefaultIcon", "", program + ",0"},
        {"xfile\\shell\\open\\command", "", program + " \"%1\""},
    };
    // In the current user's classes, which a standard user may write; nothing
    // machine-wide.
    const std::string classes = "Software\\Classes\\";
    for (const Entry& e : entries) {
        SCOPED_TRACE(e.key);
        EXPECT_TRUE(tq::settings::keyExists(Hive::CurrentUser, classes + e.key));
        EXPECT_EQ(tq::settings::readKeyValue(Hive::CurrentUser, classes + e.key, e.name), e.data);
        EXPECT_FALSE(tq::settings::keyExists(Hive::ClassesRoot, e.key));
    }
    EXPECT_FALSE(tq::settings::keyExists(Hive::CurrentUser, classes + ".txt"));

    const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_EQ(windows->autostartProgram(), "");
    windows->setAutostart(true, program);
    EXPECT_EQ(tq::settings::readKeyValue(Hive::CurrentUser, run, "Tarnquill"), program);
    EXPECT_EQ(windows->autostartProgram(), program);
    windows->setAutostart(false, program);
    EXPECT_EQ(tq::settings::readKeyValue(Hive::CurrentUser, run, "Tarnquill"), std::nullopt);
    EXPECT_NO_THROW(windows->setAutostart(false, program));

    windows->setStartMinimized(true);
    EXPECT_EQ(tq::settings::readString("startMinimized"), "1");
    EXPECT_TRUE(windows->startMinimized());
    windows->setStartMinimized(false);
    EXPECT_EQ(tq::settings::readString("startMinimized"), "0");
    tq::settings::setStorageOverride({});
}

// A temporary XDG home: data, configuration and the system data folders.
class Freedesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}) {
            saved.push_back(qgetenv(name));
        }
        qputenv("XDG_DATA_HOME", dir.filePath("share").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", dir.filePath("system").toLocal8Bit());
        tq::autostart::setFolderOverride({});
        tq::settings::setStorageOverride(dir.filePath("config/tarnquill.ini").toStdString());
    }
    void TearDown() override
    {
        const char* names[] = {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"};
        for (std::size_t i = 0; i < saved.size(); ++i) {
            if (saved[i].isNull()) {
                qunsetenv(names[i]);
            } else {
                qputenv(names[i], saved[i]);
            }
        }
        tq::settings::setStorageOverride({});
    }
    QString desktopFile() const { return dir.filePath("share/applications/tarnquill.desktop"); }
    QString packageFile() const { return dir.filePath("share/mime/packages/tarnquill.xml"); }
    QString mimeapps() const { return dir.filePath("config/mimeapps.list"); }

    QTemporaryDir dir;
    std::vector<QByteArray> saved;
};

TEST_F(Freedesktop, RegistersDesktopEntryMimePackageAndDefaultsInTheUsersFolders)
{
    // A mimeapps.list the user already has: its other lines stay.
    writeFile(mimeapps(), "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
                          "text/html=firefox.desktop\napplication/x-tarnquill-memo=old.desktop\n");
    const auto desktop = tq::desktop::makeFreedesktopIntegration();
    const std::string program = dir.filePath("my programs/tarnquill").toStdString();
    desktop->RegisterFileType("x", program);
    desktop->RegisterFileType("crp", program);
    desktop->RegisterFileType("tqs", program);

    const QByteArray entry = readAll(desktopFile());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    for (const QByteArray& line :
         {QByteArray("Type=Application"), QByteArray("Name=Tarnquill"),
          "Exec=\"" + QByteArray::fromStdString(program) + "\" %f",
          QByteArray("MimeType=application/x-tarnquill-archive;application/x-tarnquill-memo;"
                     "application/x-tarnquill-sealed;"),
          QByteArray("Icon=tarnquill"), QByteArray("Terminal=false")}) {
        EXPECT_TRUE(entry.contains("\n" + line + "\n")) << line.constData() << "\n" << entry.constData();
    }
    EXPECT_EQ(validate(desktopFile()), QString());

    const QByteArray package = readAll(packageFile());
    EXPECT_TRUE(package.contains("<mime-type type=\"application/x-tarnquill-memo\">"));
    EXPECT_TRUE(package.contains("<glob pattern=\"*.crp\"/>"));
    EXPECT_TRUE(package.contains("<mime-type type=\"application/x-tarnquill-archive\">"));
    EXPECT_TRUE(package.contains("<glob pattern=\"*.X\" case-sensitive=\"true\"/>"));
    EXPECT_TRUE(package.contains("<mime-type type=\"application/x-tarnquill-sealed\">"));
    EXPECT_TRUE(package.contains("<glob pattern=\"*.tqs\"/>"));

    // The database tools run on the user's folders when asked to.
    bool updated = false;
    std::string failure = "not finished";
    tq::desktop::startDatabaseUpdates(desktop->takeDatabaseUpdates(), [&](const std::string& error) {
        updated = true;
        failure = error;
    });
    QDeadlineTimer deadline(30000);
    while (!updated && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(desktop->takeDatabaseUpdates().empty());
    if (!QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty()) {
        const QByteArray globs = readAll(dir.filePath("share/mime/globs2"));
        EXPECT_TRUE(globs.contains("application/x-tarnquill-memo:*.crp"));
        EXPECT_TRUE(globs.contains("application/x-tarnquill-archive:*.X:cs"));
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
        EXPECT_TRUE(readAll(dir.filePath("share/applications/mimeinfo.cache"))
                        .contains("application/x-tarnquill-memo=tarnquill.desktop;"));
    }

    const QByteArray list = readAll(mimeapps());
    // The user's default for .crp stays; .X had none.
    EXPECT_EQ(list, "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
                    "text/html=firefox.desktop\napplication/x-tarnquill-memo=old.desktop\n"
                    "application/x-tarnquill-archive=tarnquill.desktop\n"
                    "application/x-tarnquill-sealed=tarnquill.desktop\n");

    // A second start changes nothing; a moved program is named again.
    const QDateTime written = QFileInfo(desktopFile()).lastModified();
    desktop->RegisterFileType("crp", program);
    EXPECT_EQ(QFileInfo(desktopFile()).lastModified(), written);
    if (!QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("update-desktop-database")).isEmpty()) {
        // The databases are up to date too: no tool runs.
        EXPECT_TRUE(desktop->takeDatabaseUpdates().empty());
    }
    desktop->RegisterFileType("crp", "/opt/tarnquill/bin/tarnquill");
    EXPECT_TRUE(readAll(desktopFile()).contains("\nExec=/opt/tarnquill/bin/tarnquill %f\n"));
}

// A start that ended before its database updates ran leaves the files up to
// date and the databases behind: the next start updates them all the same.
TEST_F(Freedesktop, DatabasesOlderThanTheirFilesAreUpdatedThoughNoFileChanged)
{
    const std::string program = dir.filePath("tarnquill").toStdString();
    auto ended = tq::desktop::makeFreedesktopIntegration();
    ended->RegisterFileType("x", program);
    ended->RegisterFileType("crp", program);
    EXPECT_EQ(ended->takeDatabaseUpdates().size(), 2u);
    const QDateTime written = QFileInfo(desktopFile()).lastModified();

    auto next = tq::desktop::makeFreedesktopIntegration();
    next->RegisterFileType("x", program);
    next->RegisterFileType("crp", program);
    EXPECT_EQ(QFileInfo(desktopFile()).lastModified(), written);
    std::vector<std::string> tools;
    for (const auto& update : next->takeDatabaseUpdates()) {
        tools.push_back(update.tool);
    }
    EXPECT_EQ(tools, (std::vector<std::string>{"update-mime-database", "update-desktop-database"}));
}

TEST_F(Freedesktop, WithTheInstalledPackagesFilesOnlyTheDefaultsAreSet)
{
    const auto desktop = tq::desktop::makeFreedesktopIntegration();
    desktop->RegisterFileType("crp", "/home/u/tarnquill"); // an earlier start without the package
    ASSERT_TRUE(QFileInfo::exists(desktopFile()));
    writeFile(dir.filePath("system/applications/tarnquill.desktop"), "[Desktop Entry]\n");
    writeFile(dir.filePath("system/mime/packages/tarnquill.xml"), "<mime-info/>\n");

    desktop->RegisterFileType("x", "/usr/bin/tarnquill");
    desktop->RegisterFileType("crp", "/usr/bin/tarnquill");
    EXPECT_FALSE(QFileInfo::exists(desktopFile()));
    EXPECT_FALSE(QFileInfo::exists(packageFile()));
    const std::string list = readAll(mimeapps()).toStdString();
    EXPECT_EQ(tq::freedesktop::defaultApplication(list, "application/x-tarnquill-memo"), "tarnquill.desktop");
    EXPECT_EQ(tq::freedesktop::defaultApplication(list, "application/x-tarnquill-archive"), "tarnquill.desktop");
}

TEST_F(Freedesktop, AFolderThatCannotBeWrittenIsAnError)
{
    writeFile(dir.filePath("share"), "a file where the data folder should be");
    const auto desktop = tq::desktop::makeFreedesktopIntegration();
    EXPECT_THROW(desktop->RegisterFileType("crp", "/usr/bin/tarnquill"), std::runtime_error);
}

TEST_F(Freedesktop, AutostartEntryComesAndGoesAndIsAValidDesktopEntry)
{
    const auto desktop = tq::desktop::makeFreedesktopIntegration();
    const QString entry = dir.filePath("config/autostart/tarnquill.desktop");
    const std::string program = "/home/a b/100% \"odd\" $dir/tarn`quill\\x";
    desktop->setAutostart(true, program);
    EXPECT_EQ(desktop->autostartProgram(), program);
    EXPECT_EQ(validate(entry), QString());
    desktop->setAutostart(false, program);
    EXPECT_FALSE(QFileInfo::exists(entry));
    EXPECT_EQ(desktop->autostartProgram(), "");
    EXPECT_NO_THROW(desktop->setAutostart(false, program));

    // An entry the desktop's session settings turned off shows as off.
    desktop->setAutostart(true, program);
    QFile f(entry);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("Hidden=true\n");
    f.close();
    EXPECT_EQ(desktop->autostartProgram(), "");
}

TEST(FreedesktopTexts, ExecArgumentsRoundTrip)
{
    for (const std::string path : {"/usr/bin/tarnquill", "/opt/my apps/tarnquill", "/a/100%/b", "/x/\"q\"/`c`/$d",
                                   "/back\\slash", "/tab\there"}) {
        SCOPED_TRACE(path);
        const std::string quoted = tq::freedesktop::quoteExecArgument(path);
        EXPECT_EQ(tq::freedesktop::firstExecArgument(quoted + " %f"), path);
    }
    EXPECT_EQ(tq::freedesktop::quoteExecArgument("/usr/bin/tarnquill"), "/usr/bin/tarnquill");
    EXPECT_EQ(tq::freedesktop::quoteExecArgument("/a b/c\\d%"), "\"/a b/c\\\\\\\\d%%\"");
    EXPECT_THROW(tq::freedesktop::quoteExecArgument("/a\nb"), std::invalid_argument);
}

TEST(FreedesktopTexts, DefaultApplicationsAreSetWhereverTheListStands)
{
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"", "[Default Applications]\na/b=t.desktop\n"},
        {"[Added Associations]\nx/y=z.desktop;\n",
         "[Added Associations]\nx/y=z.desktop;\n\n[Default Applications]\na/b=t.desktop\n"},
        {"[Default Applications]\nc/d=e.desktop\n\n[Added Associations]\nx/y=z.desktop;\n",
         "[Default Applications]\nc/d=e.desktop\na/b=t.desktop\n\n[Added Associations]\nx/y=z.desktop;\n"},
        {"[Default Applications]\na/b = old.desktop;other.desktop;\n", "[Default Applications]\na/b=t.desktop\n"},
        {"[Default Applications]\na/bc=keep.desktop\n", "[Default Applications]\na/bc=keep.desktop\na/b=t.desktop\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        const std::string after = tq::freedesktop::withDefaultApplication(c.before, "a/b", "t.desktop");
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(tq::freedesktop::defaultApplication(after, "a/b"), "t.desktop");
    }
    EXPECT_EQ(tq::freedesktop::defaultApplication("[Added Associations]\na/b=t.desktop\n", "a/b"), "");
}

} // namespace
