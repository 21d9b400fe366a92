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

class WindowsIntegration : public Integration {
public:
    void RegisterFileType(std::string_view extension, std::string_view programPath) override
    {
        const std::string e(extension);
        const std::string p(programPath);
        const std::string cls = e + "file";
        settings::writeKeyValue(settings::Hive::ClassesRoot, "." + e, "", cls);
        settings::createKey(settings::Hive::ClassesRoot, cls);
        settings::writeKeyValue(settings::Hive::ClassesRoot, cls + "\\DefaultIcon", "", p + ",0");
        settings::writeKeyValue(settings::Hive::ClassesRoot, cls + "\\shell\\open\\command", "", p + " \"%1\"");
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

// Runs a database tool on `folder` when it is installed; a tool that fails is
// an error, a missing one is not.
void runTool(const char* tool, const QString& folder)
{
    const QString program = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (program.isEmpty()) {
        return;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {folder});
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(1000);
        throw std::runtime_error(std::string(tool) + " did not finish");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(process.readAll()).trimmed();
        throw std::runtime_error(std::string(tool) + " failed" +
                                 (output.isEmpty() ? std::string() : ": " + output.toStdString()));
    }
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
        if (mimeChanged) {
            runTool("update-mime-database", mimeFolder);
        }
        if (appsChanged) {
            runTool("update-desktop-database", QFileInfo(desktopFile).absolutePath());
        }

        const QString listFile = configHome() + QStringLiteral("/mimeapps.list");
        QFile list(listFile);
        std::string text;
        if (list.open(QIODevice::ReadOnly)) {
            text = list.readAll().toStdString();
        }
        writeIfDifferent(listFile, freedesktop::withDefaultApplication(text, type.mimeType, freedesktop::kDesktopId));
    }

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
