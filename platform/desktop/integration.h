// How the program ties itself to the desktop: the file associations it writes
// at every start, the start-at-logon entry and the start-minimized setting. One
// interface, two systems:
//
// Windows (the registry, through settings.h's key functions), in the current
// user's classes C = HKEY_CURRENT_USER\Software\Classes (which HKEY_CLASSES_ROOT
// shows for that user; a standard user can write them):
//   C\.<E>                         default value  <E>file
//   C\<E>file                      (key only)
//   C\<E>file\DefaultIcon          default value  <P>,0
//   C\<E>file\shell\open\command   default value  <P> "%1"
//   then the shell's association-changed notification;
//   HKEY_CURRENT_USER\...\CurrentVersion\Run       "Tarnquill" = <P> (autostart).
//
// freedesktop.org desktops, in the user's own folders:
//   $XDG_DATA_HOME/applications/tarnquill.desktop  (Exec=<P> %f, MimeType=)
//   $XDG_DATA_HOME/mime/packages/tarnquill.xml     (globs *.X, *.crp and *.tqs)
//   update-mime-database and update-desktop-database when installed (only when
//   a file changed, started by the caller through startDatabaseUpdates), and the
//   default application of each type in $XDG_CONFIG_HOME/mimeapps.list where
//   no list of the user names one yet; autostart through autostart.h. When the
//   installed package's system-wide entry and MIME package are present (in
//   $XDG_DATA_DIRS), those serve: only the defaults are set, and copies left in
//   the user's folders by an earlier start are removed so they do not hide them.
//
// Both: "startMinimized" ("1"/"0") in the program's settings (settings.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tq::desktop {

// A database tool to run on a folder whose files changed.
struct DatabaseUpdate {
    std::string tool;
    std::string folder;
};

class Integration {
public:
    virtual ~Integration() = default;

    // Associates files with `extension` (without the dot) with the program at
    // `programPath`. Throws std::runtime_error when that cannot be written.
    virtual void RegisterFileType(std::string_view extension, std::string_view programPath) = 0;

    // The database updates the registrations so far call for; a second call
    // returns none.
    virtual std::vector<DatabaseUpdate> takeDatabaseUpdates() { return {}; }

    // The program path the start-at-logon entry names; empty when there is none.
    virtual std::string autostartProgram() const = 0;
    // Writes (on) or deletes (off) the start-at-logon entry for `programPath`.
    // Deleting a missing entry does nothing.
    virtual void setAutostart(bool on, std::string_view programPath) = 0;

    // The start-minimized setting (absent or not a number: false).
    bool startMinimized() const;
    void setStartMinimized(bool on);
};

// The registry implementation (its calls go to the settings' INI file while a
// storage override is set, so it can be checked on every system).
std::unique_ptr<Integration> makeWindowsIntegration();
// The freedesktop.org implementation (folders from the XDG environment
// variables at each call).
std::unique_ptr<Integration> makeFreedesktopIntegration();

// Runs the updates one after the other in the background (an event loop must
// run); `done` gets an empty text when all ran, else what failed. A tool that
// is not installed is skipped.
void startDatabaseUpdates(std::vector<DatabaseUpdate> updates, std::function<void(const std::string&)> done);

// The implementation of this system.
Integration& systemIntegration();
// Replaces it (null: back to this system's); returns the previous one.
std::unique_ptr<Integration> setSystemIntegration(std::unique_ptr<Integration> integration);

} // namespace tq::desktop
