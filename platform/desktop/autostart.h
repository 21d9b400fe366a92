// The program's start-at-logon entry on freedesktop.org desktops: the desktop
// entry tarnquill.desktop in the XDG autostart folder ($XDG_CONFIG_HOME/autostart
// or ~/.config/autostart), whose Exec line names the program path.
// setFolderOverride() points it at another folder (tests use this). On Windows the entry is the Run value written through
// integration.h instead.
#pragma once

#include <string>
#include <string_view>

namespace tq::autostart {

// The program path the entry names; empty when there is no entry or the desktop
// turned it off (Hidden=true).
std::string entryPath();

// Writes the entry for the program at `programPath` (no arguments).
void install(std::string_view programPath);

// Deletes the entry; deleting a missing entry does nothing.
void uninstall();

// The entry's file.
std::string entryFile();

// Points the entry at another folder (empty: back to the default).
void setFolderOverride(std::string_view folder);

} // namespace tq::autostart
