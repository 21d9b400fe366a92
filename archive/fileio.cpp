#include "archive/fileio.h"

#include "platform/atomicfile.h"

#include <cerrno>
#include <new>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <share.h>
#endif

namespace tq::archive_io {
namespace {

constexpr std::size_t kChunk = 1 << 16;

std::string errnoText(int err)
{
    return std::generic_category().message(err);
}

std::FILE* openForReading(const std::filesystem::path& path)
{
#ifdef _WIN32
    // Others may read the file meanwhile, but not write it.
    return _wfsopen(path.c_str(), L"rb", _SH_DENYWR);
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

} // namespace

std::filesystem::path toPath(const std::string& utf8)
{
    return std::filesystem::u8path(utf8);
}

std::string fromPath(const std::filesystem::path& path)
{
    return path.u8string();
}

ArchiveError fileError(const char* verb, const std::string& path, const std::string& reason)
{
    return ArchiveError(std::string("Cannot ") + verb + " \"" + path + "\": " + reason);
}

InputFile::InputFile(const std::string& path) : path_(path)
{
#ifndef _WIN32
    // Opening a pipe for reading would wait for a writer: refuse anything that is
    // not a plain file (or a folder, reported below) before opening it.
    struct stat before {};
    if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode) && !S_ISDIR(before.st_mode)) {
        throw fileError("open", path_, "It is not a regular file");
    }
#endif
    file_ = openForReading(toPath(path));
    if (file_ == nullptr) {
        throw fileError("open", path_, errnoText(errno));
    }
#ifdef _WIN32
    struct _stat64 info {};
    const int rc = _fstat64(_fileno(file_), &info);
    const bool regular = rc == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
    const bool directory = rc == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
#else
    struct stat info {};
    const int rc = fstat(fileno(file_), &info);
    const bool regular = rc == 0 && S_ISREG(info.st_mode);
    const bool directory = rc == 0 && S_ISDIR(info.st_mode);
#endif
    if (rc != 0 || !regular) {
        const int err = errno;
        std::fclose(file_);
        file_ = nullptr;
        if (rc != 0) {
            throw fileError("open", path_, errnoText(err));
        }
        throw fileError("open", path_, directory ? "It is a folder, not a file"
                                                 : "It is not a regular file");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

InputFile::~InputFile()
{
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void InputFile::read(std::uint8_t* out, std::size_t count, YieldHook* yield)
{
    while (count > 0) {
        const std::size_t want = count < kChunk ? count : kChunk;
        const std::size_t got = std::fread(out, 1, want, file_);
        if (got != want) {
            if (std::ferror(file_)) {
                throw fileError("read", path_, errnoText(errno));
            }
            throw fileError("read", path_, "The file ended early (was it changed while being read?)");
        }
        out += got;
        count -= got;
        if (yield != nullptr) {
            yield->tick();
        }
    }
}

void writeFileAtomically(const std::string& path, const std::vector<ByteSpan>& pieces,
                         YieldHook* yield, AtomicFile::Links links)
{
    try {
        AtomicFile file(toPath(path), links);
        for (const ByteSpan& piece : pieces) {
            for (std::size_t done = 0; done < piece.size;) {
                const std::size_t want = piece.size - done < kChunk ? piece.size - done : kChunk;
                file.write(piece.data + done, want);
                done += want;
                if (yield != nullptr) {
                    yield->tick();
                }
            }
        }
        file.commit();
    } catch (const FileError& e) {
        throw ArchiveError(e.what());
    }
}

std::vector<std::uint8_t> allocateFor(const std::string& path, std::uint64_t size)
{
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw fileError("read", path, "Not enough memory for its " + std::to_string(size) + " bytes");
    }
}

} // namespace tq::archive_io
