// Atomic whole-file writes.
//
// An AtomicFile writes into a new temporary file in the target's folder; commit()
// flushes it to disk and renames it over the target. Until then the target is
// untouched, and a writer that is destroyed without commit() (an error, a cancel)
// removes its temporary file, so a failed or interrupted write never destroys the
// previous file. The replaced file's permissions are kept.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tq {

// A file operation failed. what() is "Cannot <verb> \"<path>\": <reason>".
class FileError : public std::runtime_error {
public:
    FileError(const std::string& verb, const std::filesystem::path& path, int errorCode,
              const std::string& reason);
    FileError(const std::string& verb, const std::filesystem::path& path, int errorCode);

    const std::filesystem::path& path() const { return path_; }
    // The system's error number (errno), 0 when none applies.
    int errorCode() const { return errorCode_; }

private:
    std::filesystem::path path_;
    int errorCode_;
};

class AtomicFile {
public:
    // What to do when the target is a symbolic link.
    enum class Links {
        Follow,  // write the file the link names (saving a document through a link)
        Replace, // put a plain file in the link's place (extracting untrusted names)
    };

    // Creates the temporary file. Refuses a target that is a folder.
    // Throws FileError ("create").
    explicit AtomicFile(const std::filesystem::path& target, Links links = Links::Follow);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends bytes. Throws FileError ("write").
    void write(const void* bytes, std::size_t count);
    // Flushes and syncs the data, keeps the old file's permissions and renames the
    // temporary file over the target. Throws FileError ("write", "replace").
    void commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }

private:
    std::filesystem::path shown_; // the path as the caller gave it, for messages
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool done_ = false;
};

} // namespace tq
