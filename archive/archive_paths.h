// Path routines of the archive: entry names and the platform's file names.
//
// Entry names are 8-bit Windows-1252 text with folders separated by backslashes
// and no leading backslash ("docs\sub\a.txt"). Platform file names are UTF-8 text
// with the platform's separators ('/' on Linux). Conversion happens only here, at
// the edge, and every name that cannot be converted is refused with an
// ArchiveError naming it.
#pragma once

#include "archive/archive_error.h"
#include "platform/yield.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tq {

// The number of components of an 8-bit backslash path: a trailing and a leading
// backslash are added when missing, and the result is the number of backslashes
// minus 1. "C:\data\docs" gives 3. The empty path gives 0.
std::int32_t PathDepth(std::string_view path);

// Component k (counted from 1) of an 8-bit backslash path, normalised as for
// PathDepth, without backslashes; k = 0 or beyond the last component gives "".
// For "C:\data\docs", k = 1 gives "C:" and k = 3 gives "docs".
std::string PathComponent(std::string_view path, std::int32_t k);

// The entry name of a file added on its own: its name without folders, in 8 bits.
std::string bareEntryName(const std::string& filePath);

// The entry name of `filePath`, a file found below `folder` by ListFolderFiles:
// its path relative to the folder's parent, so the folder's own name comes first
// (folder /data/docs, file /data/docs/sub/a.txt -> "docs\sub\a.txt"). When the
// folder is a file-system root, the names are relative to the root ("sub\b.txt").
std::string folderEntryName(const std::string& folder, const std::string& filePath);

// Every file in `folder` and in all folders below it, breadth-first: the files
// of a folder come before those of its sub-folders. Within a folder, files and
// sub-folders are taken in order of their names compared without regard to
// letter case (Windows-1252 rules; ties by the exact bytes), so the result does
// not depend on the file system's enumeration order. Regular files and links to
// regular files are listed; links to folders are not followed (they could form
// loops), and devices, pipes and sockets are passed over. A folder that cannot be
// read throws ArchiveError.
std::vector<std::string> ListFolderFiles(const std::string& folder, YieldHook* yield = nullptr);

// The one place that turns an entry name into an output path below `targetFolder`.
// Refuses, with an ArchiveError naming the entry, every name that could land
// outside the target folder: an empty name, a leading backslash or slash, a drive
// letter ("C:"), an empty component (two separators in a row, a trailing one), a
// "." or ".." component (or any component of only dots and spaces, which Windows
// shortens to one of those), a NUL byte, a component that ends in a dot or a
// space (Windows would drop them, so two entries could meet in one file), and a
// component that is a Windows device name (NUL, CON, PRN, AUX, COM1-9, LPT1-9,
// with any extension). These rules hold on every platform, so that an archive
// extracts alike everywhere. Both '\' and '/' separate components.
// Does not touch the file system.
std::string safeExtractPath(const std::string& targetFolder, std::string_view entryName);

// safeExtractPath, then creates the target folder when it does not exist yet and
// the entry's folders below it one level after the other. An existing folder is used as it is; an existing symbolic link
// on the way is refused (it could lead outside the target folder), as is a file
// standing where a folder is needed. Returns the output path.
std::string prepareExtractPath(const std::string& targetFolder, std::string_view entryName);

} // namespace tq
