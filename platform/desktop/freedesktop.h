// The program's files for freedesktop.org desktops (Linux and friends): the
// desktop entry that file managers and menus use, the shared-mime-info package
// that names the .crp, .X and .tqs file types, and the default-application list.
//
// These functions only build and parse texts; integration.h writes them into
// the user's folders, and the build writes the system-wide copies for the
// package with the same functions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tq::freedesktop {

// The desktop entry's file name (its desktop file ID).
inline constexpr const char* kDesktopId = "tarnquill.desktop";
// The MIME package's file name under mime/packages.
inline constexpr const char* kMimePackage = "tarnquill.xml";

struct FileType {
    std::string extension; // without the dot, lower case
    std::string mimeType;
    std::string comment;
};

// The file types the program opens, in registration order: .x archives, .crp
// encrypted memos, then .tqs sealed memos and archives.
const std::vector<FileType>& fileTypes();

// The file type of an extension (any letter case, without the dot); an
// extension the program does not know gets application/x-tarnquill-<ext>.
FileType fileTypeFor(std::string_view extension);

// One Exec argument as desktop entries need it: quoted when it holds anything
// but plain path characters, with the quoting and string escapes applied and
// '%' doubled. Throws std::invalid_argument for a path with a line break.
std::string quoteExecArgument(std::string_view argument);

// The first argument of an Exec value, all escapes undone.
std::string firstExecArgument(std::string_view execValue);

// The desktop entry of the program started as `program` (a command name or a
// full path) with a document: Exec=<program> %f, MimeType= the given types.
std::string desktopEntry(std::string_view program, const std::vector<FileType>& types);

// The shared-mime-info package for the given types.
std::string mimePackage(const std::vector<FileType>& types);

// A mimeapps.list text with `desktopId` as the default application of
// `mimeType`; every other line is kept as it was.
std::string withDefaultApplication(std::string_view mimeappsText, std::string_view mimeType,
                                   std::string_view desktopId);

// The default application of `mimeType` in a mimeapps.list text (empty: none).
std::string defaultApplication(std::string_view mimeappsText, std::string_view mimeType);

} // namespace tq::freedesktop
