#include "platform/fileio.h"

#include <cerrno>
#include <new>
#include <system_error>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <share.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tq {
namespace {

std::FILE* openForReading(const std::filesystem::path& path)
{
#ifdef _WIN32
    // Others may read the file meanwhile, but not write it.
    return _wfsopen(path.c_str(), L"rb", _SH_DENYWR);
#else
    // Non-blocking, so that a pipe (even one put in the file's place a moment
    // ago) cannot make the open wait for a writer; what was opened is checked on
    // the descriptor below, and a plain file reads the same either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
#endif
}

} // namespace

std::string cannotText(const std::string& verb, const std::string& path, const std::string& reason)
{
    return "Cannot " + verb + " \"" + path + "\": " + reason;
}

std::string systemReason(int errorCode)
{
    return std::generic_category().message(errorCode);
}

FileError::FileError(const std::string& verb, const std::filesystem::path& path, int errorCode,
                     const std::string& reason)
    : std::runtime_error(cannotText(verb, path.u8string(), reason)),
      path_(path),
      errorCode_(errorCode)
{
}

FileError::FileError(const std::string& verb, const std::filesystem::path& path, int errorCode)
    : FileError(verb, path, errorCode, systemReason(errorCode))
{
}

InputFile::InputFile(const std::filesystem::path& path) : path_(path)
{
    errno = 0;
    file_.reset(openForReading(path));
    if (!file_) {
        const int error = errno != 0 ? errno : EIO;
        // Windows refuses to open a folder with "Permission denied"; say what it is.
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) {
            throw FileError("open", path_, EISDIR, "It is a folder, not a file");
        }
        throw FileError("open", path_, error);
    }
#ifdef _WIN32
    struct _stat64 info {};
    const int rc = _fstat64(_fileno(file_.get()), &info);
    const bool regular = rc == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
    const bool directory = rc == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
#else
    struct stat info {};
    const int rc = fstat(fileno(file_.get()), &info);
    const bool regular = rc == 0 && S_ISREG(info.st_mode);
    const bool directory = rc == 0 && S_ISDIR(info.st_mode);
#endif
    if (rc != 0) {
        throw FileError("open", path_, errno != 0 ? errno : EIO);
    }
    if (!regular) {
        throw FileError("open", path_, directory ? EISDIR : 0,
                        directory ? "It is a folder, not a file" : "It is not a regular file");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

void InputFile::read(std::uint8_t* out, std::size_t count, YieldHook* yield)
{
    while (count > 0) {
        const std::size_t want = count < kFileIoChunk ? count : kFileIoChunk;
        errno = 0;
        const std::size_t got = std::fread(out, 1, want, file_.get());
        if (got != want) {
            if (std::ferror(file_.get())) {
                throw FileError("read", path_, errno != 0 ? errno : EIO);
            }
            throw FileError("read", path_, 0, "The file ended early (was it changed while being read?)");
        }
        out += got;
        count -= got;
        if (yield != nullptr) {
            yield->tick();
        }
    }
}

std::vector<std::uint8_t> bufferFor(const std::filesystem::path& path, std::uint64_t size)
{
    try {
        return std::vector<std::uint8_t>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw FileError("read", path, ENOMEM, "Not enough memory for its " + std::to_string(size) + " bytes");
    } catch (const std::length_error&) {
        throw FileError("read", path, ENOMEM, "Not enough memory for its " + std::to_string(size) + " bytes");
    }
}

std::vector<std::uint8_t> readWholeFile(const std::filesystem::path& path, YieldHook* yield)
{
    InputFile in(path);
    std::vector<std::uint8_t> bytes = bufferFor(path, in.size());
    in.read(bytes.data(), bytes.size(), yield);
    return bytes;
}

std::string readWholeText(const std::filesystem::path& path)
{
    const std::vector<std::uint8_t> bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace tq
