#include "archive/sealed_archive.h"

#include "archive/fileio.h"

#include <string_view>
#include <vector>

namespace tq::sealed_archive {

bool IsSealed(const std::string& path)
{
    try {
        return sealed::IsSealedFile(archive_io::toPath(path));
    } catch (const ArchiveError&) {
        return false;
    }
}

void RequireArchive(const std::string& path)
{
    if (sealed::StoredFileContent(archive_io::toPath(path)) != sealed::Content::Archive) {
        throw sealed::SealedError(sealed::SealedError::Kind::OtherContent,
                                  "\"" + path + "\" holds a sealed memo, not an archive; open it in the main window.");
    }
}

std::optional<sealed::SealKey> Open(XFileFrame& frame, const std::string& path,
                                    const sealed::SecretBytes& passphrase, const sealed::Work& work)
{
    const std::filesystem::path file = archive_io::toPath(path);
    // A memo is refused by its header, before the derivation.
    RequireArchive(path);
    sealed::SealKey key;
    sealed::Content holds = sealed::Content::Memo;
    std::optional<std::string> bytes = sealed::UnsealFile(file, passphrase, work, &key, &holds);
    if (!bytes) {
        return std::nullopt;
    }
    try {
        if (holds != sealed::Content::Archive) {
            throw sealed::SealedError(sealed::SealedError::Kind::Refused, sealed::kRefusedText);
        }
        frame.LoadFromBytes(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size(), path);
    } catch (...) {
        sealed::Wipe(*bytes);
        throw;
    }
    sealed::Wipe(*bytes);
    return key;
}

namespace {

// Calls seal(the container's bytes); the clear bytes are wiped however it ends.
template <typename Seal>
bool sealContainer(const XFileFrame& frame, Seal&& seal)
{
    std::vector<std::uint8_t> bytes = frame.ToBytes();
    bool written = false;
    try {
        written = seal(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } catch (...) {
        sealed::Wipe(bytes.data(), bytes.size());
        throw;
    }
    sealed::Wipe(bytes.data(), bytes.size());
    return written;
}

} // namespace

bool Save(const XFileFrame& frame, const std::string& path, const sealed::SealKey& key, const sealed::Work& work)
{
    return sealContainer(frame, [&](std::string_view bytes) {
        return sealed::SealWithKeyToFile(archive_io::toPath(path), bytes, key, sealed::Content::Archive, work);
    });
}

std::optional<sealed::SealKey> SaveNew(const XFileFrame& frame, const std::string& path,
                                       const sealed::SecretBytes& passphrase, const sealed::Params& params,
                                       const sealed::Work& work)
{
    sealed::SealKey key;
    const bool written = sealContainer(frame, [&](std::string_view bytes) {
        return sealed::SealToFile(archive_io::toPath(path), bytes, passphrase, params, work, sealed::Content::Archive,
                                  &key);
    });
    if (!written) {
        return std::nullopt;
    }
    return key;
}

} // namespace tq::sealed_archive
