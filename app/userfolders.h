// The user's folders the memo's file dialogs start in, and paths for the engines.
#pragma once

#include <QString>

#include <filesystem>

namespace tq {

// The user's desktop folder, read before every dialog: on Windows the value
// "Desktop" of the current user's Explorer "Shell Folders" registry key
// (absent: empty); elsewhere the desktop folder of the
// freedesktop.org user directories. Tests may override it.
QString desktopFolder();
void setDesktopFolderOverride(const QString& folder);

// A path for the engines' file functions.
std::filesystem::path toFsPath(const QString& path);

} // namespace tq
