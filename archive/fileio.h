// Whole-file reads and atomic whole-file writes for the archive engine.
//
// Paths are the platform's file names as UTF-8 text (on Windows they are widened
// before use). Failures throw ArchiveError with the file name and the system's
// reason, e.g. "Cannot open \"/x/y.X\": No such file or directory".
#pragma once

#include "archive/archive_error.h"
#include "platform/atomicfile.h"
#include "platform/yield.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tq::archive_io {

// The std::filesystem path of a UTF-8 file name.
std::filesystem::path toPath(const std::string& utf8);

// The UTF-8 text of a std::filesystem path.
std::string fromPath(const std::filesystem::path& path);

// "Cannot <verb> \"<path>\": <reason>" as an ArchiveError.
ArchiveError fileError(const char* verb, const std::string& path, const std::string& reason);

// A file opened for reading; closed by the destructor.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The file's size in bytes.
    std::uint64_t size() const { return size_; }
    // Reads exactly `count` bytes (in chunks, ticking `yield` after each chunk);
    // a short read throws.
    void read(std::uint8_t* out, std::size_t count, YieldHook* yield = nullptr);

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

// One piece of the bytes to write.
struct ByteSpan {
    const std::uint8_t* data;
    std::size_t size;
};

// Writes the pieces, in order, as the whole content of `path`: first into a new
// temporary file in the same folder, then renamed over `path`. A failure at any
// point removes the temporary file and leaves an existing `path` untouched.
// A symbolic link at `path` is replaced by the file (extracted entries must not
// write through a link), or with Links::Follow the file it names is replaced and
// the link stays (saving an archive the user chose).
void writeFileAtomically(const std::string& path, const std::vector<ByteSpan>& pieces,
                         YieldHook* yield = nullptr, AtomicFile::Links links = AtomicFile::Links::Replace);

// A zero-filled buffer of `size` bytes for the content of `path`; lack of memory
// is reported as an ArchiveError naming the file.
std::vector<std::uint8_t> allocateFor(const std::string& path, std::uint64_t size);

} // namespace tq::archive_io
