#include "platform/desktop/autostart.h"

#include "platform/atomicfile.h"
#include "platform/desktop/freedesktop.h"

#include <QDir>
#include <QFile>
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

QString folder()
{
    if (!overrideFolder().empty()) {
        return QString::fromStdString(overrideFolder());
    }
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/autostart");
}

QString desktopFile()
{
    return folder() + u'/' + QString::fromLatin1(freedesktop::kDesktopId);
}

} // namespace

std::string entryFile()
{
    return desktopFile().toStdString();
}

std::string entryPath()
{
    QFile f(desktopFile());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n');
    std::string program;
    bool inEntry = false;
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QStringLiteral("[Desktop Entry]");
        } else if (inEntry && line.startsWith(QStringLiteral("Exec="))) {
            program = freedesktop::firstExecArgument(line.mid(5).toStdString());
        } else if (inEntry && (line == QStringLiteral("Hidden=true") ||
                               line == QStringLiteral("X-GNOME-Autostart-enabled=false"))) {
            // The desktop's session settings turned the entry off (it keeps the
            // file so that a system-wide entry of the same name stays off too).
            return {};
        }
    }
    return program;
}

void install(std::string_view programPath)
{
    const std::string text = "[Desktop Entry]\nType=Application\nName=Tarnquill\nExec=" +
                             freedesktop::quoteExecArgument(programPath) +
                             "\nIcon=tarnquill\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    QDir().mkpath(folder());
    AtomicFile f(std::filesystem::path(QFile::encodeName(desktopFile()).toStdString()), AtomicFile::Links::Follow,
                 AtomicFile::Mode::Shared);
    f.write(text.data(), text.size());
    f.commit();
}

void uninstall()
{
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
