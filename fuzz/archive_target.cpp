// Fuzz target: loading a .X archive and extracting its entries by name.
//
// Properties: an archive that loads saves back to the same bytes, and one that
// is refused leaves the container as it was; extraction
// writes only regular files and folders, and only inside the target folder;
// every extracted file holds exactly the bytes reported; a name's lookup finds
// an entry of that name no later than the entry itself.
#include "archive/archive_ops.h"
#include "archive/archive_paths.h"
#include "archive/xfileframe.h"
#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"

#include <cstring>
#include <stdexcept>

namespace {

// Extraction of a large archive is slow; the fuzzer learns nothing from the
// hundredth entry that the tenth did not teach it.
constexpr std::int32_t kMaxEntriesExtracted = 64;

bool isBelow(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    const auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !rel.empty() && *rel.begin() != ".." && rel.is_relative();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq;
    static TCompress compressor;
    const std::filesystem::path& scratch = fuzz::scratchFolder();
    const std::filesystem::path archivePath = scratch / "input.X";
    const std::filesystem::path box = scratch / "box";
    const std::filesystem::path target = box / "out";
    fuzz::writeFile(archivePath, data, size);

    // One container for all inputs, as the window keeps one: a refused file
    // must leave it holding the archive loaded before.
    static XFileFrame frame;
    const std::vector<std::uint8_t> before = frame.ToBytes();
    try {
        frame.LoadFromFile(archivePath.string());
    } catch (const ArchiveError&) {
        TQ_FUZZ_CHECK(frame.ToBytes() == before);
        return 0;
    }
    if (size >= 4) {
        const std::vector<std::uint8_t> saved = frame.ToBytes();
        TQ_FUZZ_CHECK(saved.size() == size && std::memcmp(saved.data(), data, size) == 0);
    } else {
        TQ_FUZZ_CHECK(frame.EntryCount() == 0);
    }

    fuzz::removeAll(box);
    std::filesystem::create_directory(box);
    const std::int32_t count = std::min(frame.EntryCount(), kMaxEntriesExtracted);
    for (std::int32_t n = 1; n <= count; ++n) {
        const std::string name = frame.GetEntryName(n);
        const std::int32_t found = frame.IndexOfName(name);
        TQ_FUZZ_CHECK(found >= 1 && found <= n);
        TQ_FUZZ_CHECK(cp1252::equalsIgnoreCase(frame.GetEntryName(found), name));
        try {
            const ExtractResult result =
                extractEntry(frame, compressor, name, target.string(), ArchiveKeys{});
            const std::filesystem::path written(result.outputPath);
            TQ_FUZZ_CHECK(isBelow(written, target));
            TQ_FUZZ_CHECK(std::filesystem::is_regular_file(std::filesystem::symlink_status(written)));
            // A later entry of a name already extracted keeps the first file.
            if (result.outcome == ExtractOutcome::Written) {
                TQ_FUZZ_CHECK(static_cast<std::int64_t>(std::filesystem::file_size(written)) ==
                              result.bytesWritten);
            } else {
                TQ_FUZZ_CHECK(result.outcome == ExtractOutcome::Kept && result.bytesWritten == 0);
            }
        } catch (const std::runtime_error&) {
            // Refused names, unknown kinds, damaged payloads and clashes between
            // a file and a folder of the same name end only this entry.
        }
    }
    // Nothing beside the target folder, nothing but folders and files in it.
    for (const auto& rel : fuzz::treeBelow(box)) {
        TQ_FUZZ_CHECK(*rel.begin() == "out");
        const auto status = std::filesystem::symlink_status(box / rel);
        TQ_FUZZ_CHECK(std::filesystem::is_regular_file(status) || std::filesystem::is_directory(status));
    }
    return 0;
}
