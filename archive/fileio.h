// The archive engine's file access: the platform's whole-file reads and atomic
// writes, with their failures reported as ArchiveError (same text,
// "Cannot <verb> \"<path>\": <reason>").
//
// Paths are the platform's file names as UTF-8 text (on Windows they are widened
// before use).
#pragma once

#include "archive/archive_error.h"
#include "platform/atomicfile.h"
#include "platform/fileio.h"
#include "platform/yield.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tq::archive_io {

// The std::filesystem path of a UTF-8 file name, with the platform's preferred
// separators. Text that is not UTF-8 throws ArchiveError where the platform's file
// names are UTF-16 (Windows); elsewhere the bytes are used as they are.
std::filesystem::path toPath(const std::string& utf8);

// The UTF-8 text of a std::filesystem path (ArchiveError if it cannot be converted).
std::string fromPath(const std::filesystem::path& path);

// A plain file opened for reading (tq::InputFile); throws ArchiveError.
class InputFile {
public:
    explicit InputFile(const std::string& path);

    std::uint64_t size() const { return file_->size(); }
    // Reads exactly `count` bytes, ticking `yield` after each chunk.
    void read(std::uint8_t* out, std::size_t count, YieldHook* yield = nullptr);

private:
    std::optional<tq::InputFile> file_;
};

using tq::ByteSpan;

// Writes the pieces, in order, as the whole content of `path`
// (tq::writeFileAtomically): a failure at any point leaves an existing `path`
// untouched. A symbolic link at `path` is replaced by the file (extracted entries
// must not write through a link), or with Links::Follow the file it names is
// replaced and the link stays (saving an archive the user chose). A new file gets
// the umask's mode, as archivers give their files. With `replace` false an
// existing file is kept and the write fails (AtomicFile::commitNew).
void writeFileAtomically(const std::string& path, const std::vector<ByteSpan>& pieces,
                         YieldHook* yield = nullptr, AtomicFile::Links links = AtomicFile::Links::Replace,
                         bool replace = true);

// A zero-filled buffer of `size` bytes for the content of `path`; lack of memory
// is reported as an ArchiveError naming the file.
std::vector<std::uint8_t> allocateFor(const std::string& path, std::uint64_t size);

} // namespace tq::archive_io
