#include "platform/desktop/integration.h"

#include "platform/desktop/autostart.h"
#include "platform/desktop/freedesktop.h"
#include "platform/desktop/settings.h"
#ifdef _WIN32
#include "platform/desktop/winregistry.h"
#endif

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <utility>

namespace tq::desktop {

bool Integration::startMinimized() const
{
    return settings::readBool("startMinimized", false);
}

void Integration::setStartMinimized(bool on)
{
    settings::writeBool("startMinimized", on);
}

namespace {

// --- Windows -------------------------------------------------------------------

const char* const kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kClassesKey = "Software\\Classes\\";

class WindowsIntegration : public Integration {
public:
    void RegisterFileType(std::string_view extension, std::string_view programPath) override
    {
        // The current user's classes (what HKEY_CLASSES_ROOT shows for this user):
        // a standard user may write them, the machine-wide ones only an administrator.
        const std::string e(extension);
        const std::string p(programPath);
        const std::string cls = e + "file";
        const std::string root = kClassesKey;
        const auto user = settings::Hive::CurrentUser;
        settings::writeKeyValue(user, root + "." + e, "", cls);
        settings::createKey(user, root + cls);
        settings::writeKeyValue(user, root + cls + "\\DefaultIcon", "", p + ",0");
        settings::writeKeyValue(user, root + cls + "\\shell\\open\\command", "", p + " \"%1\"");
#ifdef _WIN32
        winreg::notifyAssociationsChanged();
#endif
    }

    std::string autostartProgram() const override
    {
        return settings::readKeyValue(settings::Hive::CurrentUser, kRunKey, "Tarnquill").value_or(std::string());
    }

    void setAutostart(bool on, std::string_view programPath) override
    {
        if (on) {
            settings::writeKeyValue(settings::Hive::CurrentUser, kRunKey, "Tarnquill", programPath);
        } else {
            settings::removeKeyValue(settings::Hive::CurrentUser, kRunKey, "Tarnquill");
        }
    }
};

// --- freedesktop.org -------------------------------------------------------------

QString envFolder(const char* name, const QString& fallback)
{
    const QString value = QString::fromLocal8Bit(qgetenv(name));
    return value.isEmpty() || QDir::isRelativePath(value) ? fallback : value;
}

QString dataHome()
{
    return envFolder("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"));
}

QString configHome()
{
    return envFolder("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
}

QStringList dataDirs()
{
    QString value = QString::fromLocal8Bit(qgetenv("XDG_DATA_DIRS"));
    if (value.isEmpty()) {
        value = QStringLiteral("/usr/local/share:/usr/share");
    }
    QStringList dirs;
    for (const QString& d : value.split(u':', Qt::SkipEmptyParts)) {
        if (!QDir::isRelativePath(d)) {
            dirs << d;
        }
    }
    return dirs;
}

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Writes `text` to `path` (atomically) unless the file holds it already; true
// when the file changed.
bool writeIfDifferent(const QString& path, const std::string& text)
{
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == QByteArray::fromStdString(text)) {
        return false;
    }
    current.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), static_cast<qint64>(text.size())) < 0 || !f.commit()) {
        throw std::runtime_error("Cannot write \"" + path.toStdString() + "\": " + f.errorString().toStdString());
    }
    return true;
}

// True when `file` exists and the database `cache` built from it is missing or
// older than it.
bool olderThan(const QString& cache, const QString& file)
{
    const QFileInfo source(file);
    if (!source.exists()) {
        return false;
    }
    const QFileInfo built(cache);
    return !built.exists() || built.lastModified() < source.lastModified();
}

bool removeIfPresent(const QString& path)
{
    QFile f(path);
    if (!f.exists()) {
        return false;
    }
    if (!f.remove()) {
        throw std::runtime_error("Cannot delete \"" + path.toStdString() + "\": " + f.errorString().toStdString());
    }
    return true;
}

// The user's default-application lists, the desktop-specific ones first (as
// the desktops read them): a default in any of them is the user's choice.
QStringList defaultLists()
{
    QStringList lists;
    const QString current = QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP"));
    for (const QString& desktop : current.split(u':', Qt::SkipEmptyParts)) {
        lists << configHome() + u'/' + desktop.toLower() + QStringLiteral("-mimeapps.list");
    }
    lists << configHome() + QStringLiteral("/mimeapps.list");
    for (const QString& desktop : current.split(u':', Qt::SkipEmptyParts)) {
        lists << dataHome() + QStringLiteral("/applications/") + desktop.toLower() + QStringLiteral("-mimeapps.list");
    }
    lists << dataHome() + QStringLiteral("/applications/mimeapps.list");
    return lists;
}

std::string readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

class FreedesktopIntegration : public Integration {
public:
    void RegisterFileType(std::string_view extension, std::string_view programPath) override
    {
        // The entry and the package list every type the program knows, plus this
        // one when it is new, so registering the types one by one rewrites them
        // only once.
        std::vector<freedesktop::FileType> types = freedesktop::fileTypes();
        const freedesktop::FileType type = freedesktop::fileTypeFor(extension);
        bool known = false;
        for (const auto& t : types) {
            known = known || t.mimeType == type.mimeType;
        }
        if (!known) {
            types.push_back(type);
        }

        const QString desktopFile = dataHome() + QStringLiteral("/applications/") + q(freedesktop::kDesktopId);
        const QString mimeFolder = dataHome() + QStringLiteral("/mime");
        const QString packageFile = mimeFolder + QStringLiteral("/packages/") + q(freedesktop::kMimePackage);
        bool appsChanged = false;
        bool mimeChanged = false;
        if (systemWideFilesPresent()) {
            appsChanged = removeIfPresent(desktopFile);
            mimeChanged = removeIfPresent(packageFile);
        } else {
            appsChanged = writeIfDifferent(desktopFile, freedesktop::desktopEntry(programPath, types));
            mimeChanged = writeIfDifferent(packageFile, freedesktop::mimePackage(types));
        }
        // The databases are brought up to date later (startDatabaseUpdates), off
        // the path to the first window: when a file changed now, or when a
        // database is older than the file it lists (an earlier start ended before
        // its update ran). Otherwise nothing is run.
        const QString appsFolder = QFileInfo(desktopFile).absolutePath();
        if (mimeChanged || olderThan(mimeFolder + QStringLiteral("/mime.cache"), packageFile)) {
            addUpdate({"update-mime-database", mimeFolder.toStdString()});
        }
        if (appsChanged || olderThan(appsFolder + QStringLiteral("/mimeinfo.cache"), desktopFile)) {
            addUpdate({"update-desktop-database", appsFolder.toStdString()});
        }

        // The program becomes the default only where there is none: a default the
        // user chose (or another program wrote) stays.
        for (const QString& list : defaultLists()) {
            if (!freedesktop::defaultApplication(readText(list), type.mimeType).empty()) {
                return;
            }
        }
        const QString listFile = configHome() + QStringLiteral("/mimeapps.list");
        writeIfDifferent(listFile,
                         freedesktop::withDefaultApplication(readText(listFile), type.mimeType, freedesktop::kDesktopId));
    }

    std::vector<DatabaseUpdate> takeDatabaseUpdates() override { return std::exchange(updates_, {}); }

    std::string autostartProgram() const override { return autostart::entryPath(); }

    void setAutostart(bool on, std::string_view programPath) override
    {
        if (on) {
            autostart::install(programPath);
        } else {
            autostart::uninstall();
        }
    }

private:
    void addUpdate(const DatabaseUpdate& update)
    {
        for (const DatabaseUpdate& u : updates_) {
            if (u.tool == update.tool && u.folder == update.folder) {
                return;
            }
        }
        updates_.push_back(update);
    }

    std::vector<DatabaseUpdate> updates_;

    static bool systemWideFilesPresent()
    {
        bool entry = false;
        bool package = false;
        for (const QString& dir : dataDirs()) {
            entry = entry || QFileInfo::exists(dir + QStringLiteral("/applications/") + q(freedesktop::kDesktopId));
            package = package ||
                      QFileInfo::exists(dir + QStringLiteral("/mime/packages/") + q(freedesktop::kMimePackage));
        }
        return entry && package;
    }
};

std::unique_ptr<Integration> makeSystemIntegration()
{
#ifdef _WIN32
    return makeWindowsIntegration();
#else
    return makeFreedesktopIntegration();
#endif
}

std::unique_ptr<Integration>& current()
{
    static std::unique_ptr<Integration> integration;
    return integration;
}

} // namespace

void startDatabaseUpdates(std::vector<DatabaseUpdate> updates, std::function<void(const std::string&)> done)
{
    while (!updates.empty() &&
           QStandardPaths::findExecutable(QString::fromStdString(updates.front().tool)).isEmpty()) {
        updates.erase(updates.begin()); // a tool that is not installed is no error
    }
    if (updates.empty()) {
        if (done) {
            done({});
        }
        return;
    }
    const DatabaseUpdate next = updates.front();
    updates.erase(updates.begin());
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::MergedChannels);
    auto fail = [process, done, tool = next.tool](const std::string& why) {
        process->deleteLater();
        if (done) {
            done(tool + " failed" + (why.empty() ? std::string() : ": " + why));
        }
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [process, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            fail(process->errorString().toStdString());
        }
    });
    QObject::connect(process, &QProcess::finished, process,
                     [process, fail, done, rest = std::move(updates)](int code, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || code != 0) {
                             fail(QString::fromLocal8Bit(process->readAll()).trimmed().toStdString());
                             return;
                         }
                         process->deleteLater();
                         startDatabaseUpdates(rest, done);
                     });
    process->start(QStandardPaths::findExecutable(QString::fromStdString(next.tool)),
                   {QString::fromStdString(next.folder)});
}

std::unique_ptr<Integration> makeWindowsIntegration()
{
    return std::make_unique<WindowsIntegration>();
}

std::unique_ptr<Integration> makeFreedesktopIntegration()
{
    return std::make_unique<FreedesktopIntegration>();
}

Integration& systemIntegration()
{
    if (!current()) {
        current() = makeSystemIntegration();
    }
    return *current();
}

std::unique_ptr<Integration> setSystemIntegration(std::unique_ptr<Integration> integration)
{
    std::unique_ptr<Integration> previous = std::move(current());
    current() = std::move(integration);
    return previous;
}

} // namespace tq::desktop
