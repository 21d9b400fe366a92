// Atomic whole-file writes.
//
// An AtomicFile writes into a new temporary file in the target's folder; commit()
// flushes it to disk and renames it over the target. Until then the target is
// untouched, and a writer that is destroyed without commit() (an error, a cancel)
// removes its temporary file, so a failed or interrupted write never destroys the
// previous file.
//
// Permissions: the temporary file is created with its final mode and is never
// readable by more users than the finished file: a replaced file's mode is kept;
// a new file gets 0600 (Mode::Private) or the umask's mode (Mode::Shared). A mode
// that cannot be set is an error ("create").
//
// One rule for links in the target's place: a document (a memo, a key file, an
// archive the user saves) follows the link and writes the file it names; a file
// whose name comes from outside (an extracted entry, a received attachment)
// replaces the link with a plain file, so that it cannot write through a link
// planted beside it.
#pragma once

#include "platform/fileio.h"
#include "platform/yield.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tq {

class AtomicFile {
public:
    // What to do when the target is a symbolic link.
    enum class Links {
        Follow,  // write the file the link names (saving a document through a link)
        Replace, // put a plain file in the link's place (extracting untrusted names)
    };

    // Who may read a new file.
    enum class Mode {
        Private, // 0600: anything that may hold a secret (memos, keys, sealed files, attachments)
        Shared,  // the umask's mode, as other programs create files (archives, extracted entries)
    };

    // The temporary file's name: `prefix`, a number, `suffix`. The number is a
    // random one, or with `counted` the first of 1, 2, 3, ... that is free.
    struct TempName {
        std::string prefix = ".tarnquill-";
        std::string suffix = ".tmp";
        bool counted = false;
    };

    // Creates the temporary file. Refuses a target that is a folder.
    // Throws FileError ("create").
    explicit AtomicFile(const std::filesystem::path& target, Links links = Links::Follow,
                        Mode mode = Mode::Private);
    AtomicFile(const std::filesystem::path& target, Links links, const TempName& tempName,
               Mode mode = Mode::Private);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Appends bytes. Throws FileError ("write").
    void write(const void* bytes, std::size_t count);
    // Flushes and syncs the data and renames the temporary file over the target.
    // Throws FileError ("write", "replace").
    void commit();
    // As commit(), but never replaces: when a file (or a link) of the target's
    // name exists, even one made since the check, the temporary file goes and
    // FileError ("create", EEXIST) is thrown.
    void commitNew();
    // Removes the temporary file; the target stays as it was.
    void discard();

    const std::filesystem::path& target() const { return target_; }

private:
    std::filesystem::path shown_; // the path as the caller gave it, for messages
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::FILE* file_ = nullptr;
    bool done_ = false;

    void finish(bool replace);
};

// One piece of the bytes to write.
struct ByteSpan {
    const std::uint8_t* data;
    std::size_t size;
};

// Writes the pieces, in order, as the whole content of `target` through an
// AtomicFile, in chunks, ticking `yield` after each; with `replace` false an
// existing file is kept (see commitNew). Throws FileError.
void writeFileAtomically(const std::filesystem::path& target, const std::vector<ByteSpan>& pieces,
                         AtomicFile::Links links, AtomicFile::Mode mode, YieldHook* yield = nullptr,
                         bool replace = true);

} // namespace tq
