#include "archive/archive_paths.h"

#include "archive/fileio.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <system_error>

namespace tq {
namespace fs = std::filesystem;

namespace {

// "\" + path + "\" with the backslashes only added where missing.
std::string normalised(std::string_view path)
{
    std::string p(path);
    if (p.empty() || p.back() != '\\') {
        p.push_back('\\');
    }
    if (p.front() != '\\') {
        p.insert(p.begin(), '\\');
    }
    return p;
}

std::string codePointText(char32_t c)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
    return buffer;
}

// One component of a platform file name (UTF-8) as 8-bit text.
std::string componentTo8Bit(const std::string& component, const std::string& fullName)
{
    std::string out;
    char32_t bad = 0;
    if (!cp1252::fromUtf8(component, out, &bad)) {
        std::string reason = bad == 0xFFFD
                                 ? "it is not valid UTF-8 text or holds a character that the Windows-1252 "
                                   "code page cannot hold"
                                 : "the character " + codePointText(bad) +
                                       " is not in the Windows-1252 code page";
        throw ArchiveError("The file name \"" + fullName + "\" cannot be stored in an archive: " + reason +
                           ".");
    }
    if (out.find('\\') != std::string::npos) {
        throw ArchiveError("The file name \"" + fullName +
                           "\" cannot be stored in an archive: it contains a backslash, which archives "
                           "use to separate folders.");
    }
    return out;
}

std::string entryText(std::string_view entryName)
{
    std::string shown = cp1252::toUtf8(entryName);
    std::replace(shown.begin(), shown.end(), '\0', '?');
    return shown;
}

ArchiveError unsafeEntry(std::string_view entryName, const std::string& reason)
{
    return ArchiveError("The entry \"" + entryText(entryName) + "\" cannot be extracted: " + reason + ".");
}

bool onlyDotsAndSpaces(std::string_view component)
{
    return std::all_of(component.begin(), component.end(), [](char c) { return c == '.' || c == ' '; });
}

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether Windows takes the component for a device (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, CONIN$, CONOUT$): it does so whatever extension follows the name and
// with spaces before the extension ("nul.txt", "COM1 .log"). The digits include
// the superscripts 1, 2 and 3 (Windows-1252 0xB9, 0xB2, 0xB3).
bool isDeviceName(std::string_view component)
{
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    std::string upper;
    for (char c : base) {
        upper.push_back(asciiUpper(c));
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$") {
        return true;
    }
    if (upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0)) {
        const char digit = upper[3];
        return (digit >= '1' && digit <= '9') || digit == '\xB9' || digit == '\xB2' || digit == '\xB3';
    }
    return false;
}

// Splits an entry name into its components, refusing every name that could
// reach outside the folder it is extracted into.
std::vector<std::string> checkedComponents(std::string_view entryName)
{
    if (entryName.empty()) {
        throw unsafeEntry(entryName, "its name is empty");
    }
    if (entryName.find('\0') != std::string_view::npos) {
        throw unsafeEntry(entryName, "its name contains a NUL character");
    }
    if (entryName.front() == '\\' || entryName.front() == '/') {
        throw unsafeEntry(entryName, "its name is an absolute path (it starts with a separator)");
    }
    if (entryName.size() >= 2 && isAsciiLetter(entryName[0]) && entryName[1] == ':') {
        throw unsafeEntry(entryName, "its name starts with a drive letter");
    }
    std::vector<std::string> components;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = entryName.find_first_of("\\/", start);
        const std::string_view component =
            entryName.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (component.empty()) {
            throw unsafeEntry(entryName, "its name has an empty folder name (two separators in a row or one "
                                         "at the end)");
        }
        if (onlyDotsAndSpaces(component)) {
            throw unsafeEntry(entryName, "its name has the component \"" + std::string(component) +
                                             "\", which could lead outside the target folder");
        }
        // Windows drops a final dot or space, so such a name would land on another
        // entry's file, and it opens a device for a device name instead of a file.
        // Both are refused on every platform, so an archive extracts alike everywhere.
        if (component.back() == '.' || component.back() == ' ') {
            throw unsafeEntry(entryName, "its name has the component \"" + entryText(component) +
                                             "\", which ends in a dot or a space");
        }
        if (isDeviceName(component)) {
            throw unsafeEntry(entryName, "its name has the component \"" + entryText(component) +
                                             "\", which is the name of a Windows device");
        }
#ifdef _WIN32
        if (component.find(':') != std::string_view::npos) {
            throw unsafeEntry(entryName, "its name contains a colon");
        }
#endif
        components.emplace_back(component);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    return components;
}

fs::path checkedOutputPath(const std::string& targetFolder, const std::vector<std::string>& components,
                           std::string_view entryName)
{
    if (targetFolder.empty()) {
        throw unsafeEntry(entryName, "no target folder was given");
    }
    fs::path out = archive_io::toPath(targetFolder);
    for (const std::string& component : components) {
        out /= archive_io::toPath(cp1252::toUtf8(component));
    }
    return out;
}

// Sort key of a directory entry: the name in 8 bits upper-cased, then the exact bytes.
struct Listed {
    std::string key;
    std::string name;
    fs::path path;
};

bool listedBefore(const Listed& a, const Listed& b)
{
    if (a.key != b.key) {
        return a.key < b.key;
    }
    return a.name < b.name;
}

std::string sortKey(const std::string& utf8Name)
{
    std::string key = cp1252::fromUtf8Lossy(utf8Name);
    for (char& c : key) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    return key;
}

ArchiveError folderError(const fs::path& folder, const std::error_code& ec)
{
    return ArchiveError(cannotText("read the folder", archive_io::fromPath(folder), ec.message()));
}

// The folder with trailing separators removed and made absolute, so that its
// parent and its relation to the files below it are well defined.
fs::path canonicalFolder(const std::string& folder)
{
    fs::path p = archive_io::toPath(folder);
    std::error_code ec;
    fs::path absolute = fs::absolute(p, ec);
    if (!ec) {
        p = absolute;
    }
    p = p.lexically_normal();
    if (!p.has_filename() && p.has_relative_path()) {
        p = p.parent_path();
    }
    return p;
}

} // namespace

std::int32_t PathDepth(std::string_view path)
{
    if (path.empty()) {
        return 0;
    }
    const std::string p = normalised(path);
    return static_cast<std::int32_t>(std::count(p.begin(), p.end(), '\\')) - 1;
}

std::string PathComponent(std::string_view path, std::int32_t k)
{
    if (path.empty() || k < 1) {
        return std::string();
    }
    const std::string p = normalised(path);
    // Component k lies between backslash k and backslash k + 1 (counted from 1).
    std::size_t start = 0;
    for (std::int32_t seen = 0; seen < k; ++seen) {
        start = p.find('\\', seen == 0 ? 0 : start + 1);
        if (start == std::string::npos) {
            return std::string();
        }
    }
    const std::size_t end = p.find('\\', start + 1);
    if (end == std::string::npos) {
        return std::string();
    }
    return p.substr(start + 1, end - start - 1);
}

std::string bareEntryName(const std::string& filePath)
{
    fs::path p = archive_io::toPath(filePath);
    const std::string name = archive_io::fromPath(p.filename());
    if (name.empty() || name == "." || name == "..") {
        throw ArchiveError("\"" + filePath + "\" does not name a file.");
    }
    return componentTo8Bit(name, filePath);
}

std::string folderEntryName(const std::string& folder, const std::string& filePath)
{
    const fs::path base = canonicalFolder(folder);
    fs::path file = archive_io::toPath(filePath);
    std::error_code ec;
    fs::path absolute = fs::absolute(file, ec);
    if (!ec) {
        file = absolute;
    }
    const fs::path relative = file.lexically_normal().lexically_relative(base);
    const auto outside = [&] {
        return ArchiveError("The file \"" + filePath + "\" does not lie inside the folder \"" + folder + "\".");
    };
    // The folder's own name comes first, unless the folder is a root.
    std::string name;
    if (base.has_relative_path()) {
        name = componentTo8Bit(archive_io::fromPath(base.filename()), folder);
    }
    bool any = false;
    for (const fs::path& component : relative) {
        const std::string text = archive_io::fromPath(component);
        if (text.empty() || text == "." || text == "..") {
            throw outside();
        }
        if (!name.empty()) {
            name.push_back('\\');
        }
        name += componentTo8Bit(text, filePath);
        any = true;
    }
    if (!any) {
        throw outside();
    }
    return name;
}

std::vector<std::string> ListFolderFiles(const std::string& folder, YieldHook* yield)
{
    std::vector<std::string> files;
    std::deque<fs::path> queue;
    queue.push_back(archive_io::toPath(folder));

    std::error_code ec;
    if (!fs::is_directory(queue.front(), ec)) {
        throw ArchiveError("Cannot read the folder \"" + folder + "\": " +
                           (ec ? ec.message() : std::string("It is not a folder")));
    }

    while (!queue.empty()) {
        const fs::path current = std::move(queue.front());
        queue.pop_front();
        if (yield != nullptr) {
            yield->fire();
        }

        std::vector<Listed> foundFiles;
        std::vector<Listed> foundFolders;
        fs::directory_iterator it(current, ec);
        if (ec) {
            throw folderError(current, ec);
        }
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) {
                throw folderError(current, ec);
            }
            const fs::directory_entry& entry = *it;
            const fs::file_status own = entry.symlink_status(ec);
            if (ec) {
                throw folderError(current, ec);
            }
            const std::string name = archive_io::fromPath(entry.path().filename());
            if (fs::is_directory(own)) {
                foundFolders.push_back(Listed{sortKey(name), name, entry.path()});
            } else if (fs::is_regular_file(own)) {
                foundFiles.push_back(Listed{sortKey(name), name, entry.path()});
            } else if (fs::is_symlink(own)) {
                std::error_code linkError;
                if (fs::is_regular_file(entry.status(linkError)) && !linkError) {
                    foundFiles.push_back(Listed{sortKey(name), name, entry.path()});
                }
            }
            if (yield != nullptr) {
                yield->tick();
            }
        }
        if (ec) {
            throw folderError(current, ec);
        }
        std::sort(foundFiles.begin(), foundFiles.end(), listedBefore);
        std::sort(foundFolders.begin(), foundFolders.end(), listedBefore);
        for (Listed& f : foundFiles) {
            files.push_back(archive_io::fromPath(f.path));
        }
        for (Listed& f : foundFolders) {
            queue.push_back(std::move(f.path));
        }
    }
    return files;
}

std::string safeExtractPath(const std::string& targetFolder, std::string_view entryName)
{
    return archive_io::fromPath(checkedOutputPath(targetFolder, checkedComponents(entryName), entryName));
}

std::string prepareExtractPath(const std::string& targetFolder, std::string_view entryName)
{
    const std::vector<std::string> components = checkedComponents(entryName);
    const fs::path out = checkedOutputPath(targetFolder, components, entryName);

    fs::path folder = archive_io::toPath(targetFolder);
    std::error_code targetError;
    if (!fs::is_directory(folder, targetError)) {
        // A target that does not exist yet is made, with its parents.
        fs::create_directories(folder, targetError);
        if (targetError || !fs::is_directory(folder)) {
            throw ArchiveError("Cannot create the folder \"" + targetFolder + "\": " +
                               (targetError ? targetError.message() : std::string("a file of that name exists")));
        }
    }
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        folder /= archive_io::toPath(cp1252::toUtf8(components[i]));
        const std::string shown = archive_io::fromPath(folder);
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(folder, ec);
        if (fs::is_symlink(status)) {
            throw ArchiveError("Cannot extract \"" + entryText(entryName) + "\": \"" + shown +
                               "\" is a symbolic link, which could lead outside the target folder.");
        }
        if (fs::is_directory(status)) {
            continue;
        }
        if (fs::exists(status)) {
            throw ArchiveError("Cannot create the folder \"" + shown + "\": a file of that name exists.");
        }
        if (!fs::create_directory(folder, ec) && ec) {
            throw ArchiveError("Cannot create the folder \"" + shown + "\": " + ec.message());
        }
    }
    return archive_io::fromPath(out);
}

} // namespace tq
