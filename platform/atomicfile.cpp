#include "platform/atomicfile.h"

#include <cerrno>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tq {
namespace {

// Creates `path` exclusively with `mode` (less the umask) and, when `exact` is
// set, gives it exactly `mode` before anything is written. Returns null with
// errno set on failure.
std::FILE* createExclusive(const std::filesystem::path& path, unsigned mode, bool exact)
{
#ifdef _WIN32
    // The C library of Windows has no "x" mode for fopen: create the file with
    // O_EXCL, so that an existing file is never truncated. Windows has no mode
    // bits beyond read-only; the folder's access rules apply.
    (void)mode;
    (void)exact;
    const int fd = _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        _close(fd);
    }
    return file;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                          static_cast<mode_t>(mode));
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = nullptr;
    if (!exact || ::fchmod(fd, static_cast<mode_t>(mode)) == 0) {
        file = ::fdopen(fd, "wb");
    }
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = error;
    }
    return file;
#endif
}

int syncToDisk(std::FILE* file)
{
#ifdef _WIN32
    return _commit(_fileno(file));
#else
    if (::fsync(fileno(file)) != 0 && errno != EINVAL && errno != EROFS) {
        return -1;
    }
    return 0;
#endif
}

} // namespace

AtomicFile::AtomicFile(const std::filesystem::path& target, Links links, Mode mode)
    : AtomicFile(target, links, TempName(), mode)
{
}

AtomicFile::AtomicFile(const std::filesystem::path& target, Links links, const TempName& tempName, Mode mode)
    : shown_(target), target_(target)
{
    std::error_code ec;
    if (links == Links::Follow && std::filesystem::is_symlink(target, ec)) {
        const std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) {
            target_ = resolved;
        }
    }
    const std::filesystem::file_status status = std::filesystem::symlink_status(target_, ec);
    if (!ec && std::filesystem::is_directory(status)) {
        throw FileError("create", shown_, EISDIR);
    }
    // The final mode from the start: the replaced file's, or the kind's for a new
    // file (the umask narrows Shared's 0666; Private is set exactly).
    unsigned createMode = mode == Mode::Private ? 0600u : 0666u;
    bool exact = mode == Mode::Private;
    if (!ec && std::filesystem::is_regular_file(status)) {
        createMode = static_cast<unsigned>(status.permissions() & std::filesystem::perms::all);
        exact = true;
    }
    std::filesystem::path folder = target_.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // The temporary file lives next to the target so that the rename cannot cross
    // file systems; its name does not grow with the target's, so a long name cannot
    // make it too long.
    std::random_device seed;
    std::mt19937 random(seed());
    int error = 0;
    const int attempts = tempName.counted ? 100000 : 100;
    for (int attempt = 0; attempt < attempts && file_ == nullptr; ++attempt) {
        const std::uint32_t number = tempName.counted ? static_cast<std::uint32_t>(attempt + 1)
                                                      : static_cast<std::uint32_t>(random() % 100000000u);
        temp_ = folder / (tempName.prefix + std::to_string(number) + tempName.suffix);
        errno = 0;
        file_ = createExclusive(temp_, createMode, exact);
        error = errno;
        if (file_ == nullptr && error != EEXIST) {
            break;
        }
    }
    if (file_ == nullptr) {
        throw FileError("create", shown_, error != 0 ? error : EIO);
    }
}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::write(const void* bytes, std::size_t count)
{
    if (file_ == nullptr || count == 0) {
        return;
    }
    errno = 0;
    if (std::fwrite(bytes, 1, count, file_) != count) {
        const int error = errno != 0 ? errno : EIO;
        discard();
        throw FileError("write", shown_, error);
    }
}

void AtomicFile::commit()
{
    finish(true);
}

void AtomicFile::commitNew()
{
    finish(false);
}

void AtomicFile::finish(bool replace)
{
    if (file_ == nullptr) {
        return;
    }
    std::error_code ec;
    const std::filesystem::file_status old = std::filesystem::symlink_status(target_, ec);
    const bool replacing = !ec && std::filesystem::exists(old);
    // When a file is replaced, its new content must be on disk before the rename, so
    // that a crash cannot leave neither version; a new file needs no such care.
    errno = 0;
    int error = 0;
    if (std::fflush(file_) != 0 || (replacing && syncToDisk(file_) != 0)) {
        error = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(file_) != 0 && error == 0) {
        error = errno != 0 ? errno : EIO;
    }
    file_ = nullptr;
    if (error != 0) {
        discard();
        throw FileError("write", shown_, error);
    }
    if (!replace) {
        if (replacing) {
            discard();
            throw FileError("create", shown_, EEXIST);
        }
#ifndef _WIN32
        // A hard link fails when the name was taken meanwhile, where a rename
        // would replace; file systems without links fall back to the rename.
        if (::link(temp_.c_str(), target_.c_str()) == 0) {
            discard();
            done_ = true;
            return;
        }
        if (errno == EEXIST) {
            discard();
            throw FileError("create", shown_, EEXIST);
        }
#endif
    }
    std::filesystem::rename(temp_, target_, ec);
    if (ec) {
        discard();
        throw FileError("replace", shown_, ec.value(), ec.message());
    }
    done_ = true;
}

void AtomicFile::discard()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!done_ && !temp_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temp_, ignored);
        done_ = true;
    }
}

void writeFileAtomically(const std::filesystem::path& target, const std::vector<ByteSpan>& pieces,
                         AtomicFile::Links links, AtomicFile::Mode mode, YieldHook* yield, bool replace)
{
    AtomicFile file(target, links, mode);
    for (const ByteSpan& piece : pieces) {
        for (std::size_t done = 0; done < piece.size;) {
            const std::size_t want = piece.size - done < kFileIoChunk ? piece.size - done : kFileIoChunk;
            file.write(piece.data + done, want);
            done += want;
            if (yield != nullptr) {
                yield->tick();
            }
        }
    }
    if (replace) {
        file.commit();
    } else {
        file.commitNew();
    }
}

} // namespace tq
