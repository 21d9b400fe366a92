#include "platform/desktop/autostart.h"

#include "platform/atomicfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace tq::autostart {
namespace {

std::string& overrideFolder()
{
    static std::string folder;
    return folder;
}

#ifdef _WIN32
constexpr bool kUseRegistry = true;
#else
constexpr bool kUseRegistry = false;
#endif

bool useRegistry()
{
    return kUseRegistry && overrideFolder().empty() && qgetenv("TARNQUILL_AUTOSTART_DIR").isEmpty();
}

QString registryKey()
{
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
}

QString folder()
{
    if (!overrideFolder().empty()) {
        return QString::fromStdString(overrideFolder());
    }
    const QByteArray env = qgetenv("TARNQUILL_AUTOSTART_DIR");
    if (!env.isEmpty()) {
        return QString::fromLocal8Bit(env);
    }
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/autostart");
}

QString desktopFile()
{
    return folder() + QStringLiteral("/tarnquill.desktop");
}

// Desktop entries quote arguments with double quotes and escape \ " ` $ inside.
QString quoteExec(const QString& path)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : path) {
        if (c == u'\\' || c == u'"' || c == u'`' || c == u'$') {
            out += u'\\';
        }
        out += c;
    }
    out += u'"';
    return out;
}

QString unquoteFirstExecWord(const QString& exec)
{
    const QString s = exec.trimmed();
    if (!s.startsWith(u'"')) {
        const int space = s.indexOf(u' ');
        return space < 0 ? s : s.left(space);
    }
    QString out;
    for (int i = 1; i < s.size(); ++i) {
        if (s[i] == u'\\' && i + 1 < s.size()) {
            out += s[++i];
        } else if (s[i] == u'"') {
            break;
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

std::string entryPath()
{
    if (useRegistry()) {
        QSettings run(registryKey(), QSettings::NativeFormat);
        return run.value(QStringLiteral("Tarnquill")).toString().toStdString();
    }
    QFile f(desktopFile());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("Exec="))) {
            return unquoteFirstExecWord(line.mid(5)).toStdString();
        }
    }
    return {};
}

void install(std::string_view programPath)
{
    const QString path = QString::fromUtf8(programPath.data(), static_cast<int>(programPath.size()));
    if (useRegistry()) {
        QSettings run(registryKey(), QSettings::NativeFormat);
        run.setValue(QStringLiteral("Tarnquill"), QDir::toNativeSeparators(path));
        run.sync();
        if (run.status() != QSettings::NoError) {
            throw std::runtime_error("Cannot write the autostart entry to the registry");
        }
        return;
    }
    QDir().mkpath(folder());
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Tarnquill\nExec=") +
                         quoteExec(path) + QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    const QByteArray bytes = text.toUtf8();
    AtomicFile f(std::filesystem::path(QFile::encodeName(desktopFile()).toStdString()));
    f.write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    f.commit();
}

void uninstall()
{
    if (useRegistry()) {
        QSettings run(registryKey(), QSettings::NativeFormat);
        run.remove(QStringLiteral("Tarnquill"));
        return;
    }
    QFile f(desktopFile());
    if (f.exists() && !f.remove()) {
        throw std::runtime_error("Cannot delete \"" + desktopFile().toStdString() + "\": " +
                                 f.errorString().toStdString());
    }
}

void setFolderOverride(std::string_view folderPath)
{
    overrideFolder() = std::string(folderPath);
}

} // namespace tq::autostart
