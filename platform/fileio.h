// Whole-file reads and the one wording of a failed file operation.
//
// Every failure is a FileError whose what() is "Cannot <verb> \"<path>\": <reason>",
// e.g. "Cannot open \"/x/y.X\": No such file or directory". The path is shown as
// UTF-8 text.
#pragma once

#include "platform/yield.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace tq {

// The bytes read or written between two ticks of a yield hook.
constexpr std::size_t kFileIoChunk = 1 << 16;

// "Cannot <verb> \"<path>\": <reason>".
std::string cannotText(const std::string& verb, const std::string& path, const std::string& reason);
// The system's text for an error number (errno).
std::string systemReason(int errorCode);

// A file operation failed. what() is cannotText(verb, path, reason).
class FileError : public std::runtime_error {
public:
    FileError(const std::string& verb, const std::filesystem::path& path, int errorCode,
              const std::string& reason);
    // The reason is the system's text for `errorCode`.
    FileError(const std::string& verb, const std::filesystem::path& path, int errorCode);

    const std::filesystem::path& path() const { return path_; }
    // The system's error number (errno), 0 when none applies.
    int errorCode() const { return errorCode_; }

private:
    std::filesystem::path path_;
    int errorCode_;
};

// A plain file opened for reading; closed by the destructor. Anything that is
// not a plain file (a folder, a pipe that would wait for a writer, a device) is
// refused before it is read.
class InputFile {
public:
    // Throws FileError ("open").
    explicit InputFile(const std::filesystem::path& path);

    // The file's size in bytes when it was opened.
    std::uint64_t size() const { return size_; }
    // Reads exactly `count` bytes in chunks, ticking `yield` after each chunk; a
    // short read throws FileError ("read").
    void read(std::uint8_t* out, std::size_t count, YieldHook* yield = nullptr);

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::filesystem::path path_;
    std::unique_ptr<std::FILE, Closer> file_;
    std::uint64_t size_ = 0;
};

// A buffer of `size` bytes for the content of `path`; lack of memory is a
// FileError ("read") naming the file.
std::vector<std::uint8_t> bufferFor(const std::filesystem::path& path, std::uint64_t size);

// The whole content of the plain file `path`. Throws FileError.
std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& path, YieldHook* yield = nullptr);
// The same as text (the bytes unchanged).
std::string readWholeText(const std::filesystem::path& path);

} // namespace tq
