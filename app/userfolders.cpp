#include "app/userfolders.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace tq {
namespace {

QString& desktopOverride()
{
    static QString folder;
    return folder;
}

} // namespace

QString desktopFolder()
{
    if (!desktopOverride().isNull()) {
        return desktopOverride();
    }
#ifdef _WIN32
    const QSettings shellFolders(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
        QSettings::NativeFormat);
    return shellFolders.value(QStringLiteral("Desktop")).toString();
#else
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
#endif
}

void setDesktopFolderOverride(const QString& folder)
{
    desktopOverride() = folder;
}

std::filesystem::path toFsPath(const QString& path)
{
#ifdef _WIN32
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

} // namespace tq
