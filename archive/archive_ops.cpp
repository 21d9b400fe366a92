#include "archive/archive_ops.h"

#include "archive/archive_paths.h"
#include "archive/fileio.h"
#include "platform/codepage.h"

#include <filesystem>
#include <string_view>

namespace tq {
namespace {

void report(const ArchiveProgress* progress, const char* text)
{
    if (progress != nullptr && progress->status) {
        progress->status(text);
    }
}

void reportStep(const ArchiveProgress* progress, std::size_t index, std::size_t count, int step)
{
    if (progress != nullptr && progress->step) {
        progress->step(index, count, step);
    }
}

std::string shownName(const std::string& entryName)
{
    return cp1252::toUtf8(entryName);
}

} // namespace

std::uint8_t kindForFileSize(std::int64_t fileSize)
{
    if (fileSize <= kSmallFileLimit) {
        return kKindSmallStored;
    }
    return fileSize <= kCompressLimit ? kKindCompressed : kKindLargeStored;
}

AddResult addFileToArchive(XFileFrame& frame, TCompress& compressor, const FileToAdd& file,
                           const AddOptions& options, const ArchiveProgress* progress, std::size_t index,
                           std::size_t count)
{
    // Refuse what the container cannot take before doing any work.
    frame.CheckNewEntry(file.entryName);

    report(progress, archive_status::kOpenFile);
    compressor.Reset();
    if (options.applyTimeLimit) {
        compressor.Bytes.TimeLimitOn = options.timeLimitOn;
        compressor.Bytes.TimeLimitMs = options.timeLimitMs;
    }
    if (options.tableStatusForEveryFile) {
        report(progress, archive_status::kBuildTable);
        reportStep(progress, index, count, 1);
    }

    // The file is read here rather than by the compressor's loader, which would
    // strip the trailer from a .X file; every file is stored exactly as it is.
    archive_io::InputFile in(file.path);
    const auto room = static_cast<std::uint64_t>(XFileFrame::kMaxDataLength - frame.DataLength());
    if (in.size() > room) {
        throw ArchiveError("Cannot add \"" + file.path + "\": the file (" + std::to_string(in.size()) +
                           " bytes) does not fit in the archive, which can hold at most " +
                           std::to_string(XFileFrame::kMaxDataLength) + " bytes of data.");
    }
    std::vector<std::uint8_t> bytes = archive_io::allocateFor(file.path, in.size());
    in.read(bytes.data(), bytes.size(), &frame.Yield);

    AddResult result;
    result.entryName = file.entryName;
    result.kind = kindForFileSize(static_cast<std::int64_t>(bytes.size()));

    if (result.kind == kKindCompressed) {
        TDataBytes& work = compressor.Bytes;
        work.SetData(bytes.data(), bytes.size());
        report(progress, archive_status::kBuildTable);
        reportStep(progress, index, count, 1);
        work.BuildTable(options.skip);
        report(progress, archive_status::kSortTable);
        reportStep(progress, index, count, 2);
        work.SortTable();
        report(progress, archive_status::kCompress);
        compressor.CompressData();
        report(progress, archive_status::kPlaceTable);
        reportStep(progress, index, count, 3);
        work.ShiftTable(options.keys.key1, options.keys.key2);
        work.PrependTable();
        result.ratio = compressor.Ratio;
        result.payloadSize = work.DataLength;
        report(progress, archive_status::kPutInFrame);
        frame.AppendPayload(work.data(), work.size());
    } else {
        reportStep(progress, index, count, 3);
        result.ratio = 0;
        result.payloadSize = static_cast<std::int32_t>(bytes.size());
        report(progress, archive_status::kPutInFrame);
        frame.AppendPayload(bytes);
    }
    // Decoding gives an even number of bytes: mark the entries whose file had an
    // odd length, so that extraction drops the padding byte again.
    const bool oddMark = result.kind == kKindCompressed && bytes.size() % 2 == 1;
    frame.AddEntry(result.payloadSize, file.entryName, result.kind, oddMark);

    report(progress, "");
    reportStep(progress, index, count, 4);
    compressor.Bytes.ReleaseSpare();
    return result;
}

std::vector<AddResult> addFilesToArchive(XFileFrame& frame, TCompress& compressor,
                                         const std::vector<FileToAdd>& files, const AddOptions& options,
                                         const ArchiveProgress* progress, const bool* stop)
{
    std::vector<AddResult> results;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (stop != nullptr && *stop) {
            break;
        }
        results.push_back(addFileToArchive(frame, compressor, files[i], options, progress, i, files.size()));
    }
    return results;
}

std::vector<FileToAdd> filesToAdd(const std::vector<std::string>& paths)
{
    std::vector<FileToAdd> files;
    files.reserve(paths.size());
    for (const std::string& path : paths) {
        files.push_back(FileToAdd{path, bareEntryName(path)});
    }
    return files;
}

std::vector<FileToAdd> folderFilesToAdd(const std::string& folder, YieldHook* yield)
{
    std::vector<FileToAdd> files;
    for (std::string& path : ListFolderFiles(folder, yield)) {
        std::string name = folderEntryName(folder, path);
        files.push_back(FileToAdd{std::move(path), std::move(name)});
    }
    return files;
}

std::int32_t meanRatio(const std::vector<AddResult>& results, std::size_t chosenCount)
{
    if (chosenCount == 0 || results.empty()) {
        return 0;
    }
    std::int64_t sum = 0;
    for (const AddResult& r : results) {
        sum += r.ratio;
    }
    if (chosenCount == 1) {
        return static_cast<std::int32_t>(sum);
    }
    return static_cast<std::int32_t>(sum / static_cast<std::int64_t>(chosenCount));
}

bool dropsPaddingByte(const XFileFrame& frame, std::int32_t n)
{
    return frame.GetEntryKind(n) == kKindCompressed && frame.GetEntryOddMark(n);
}

void decodeEntry(const XFileFrame& frame, TCompress& compressor, std::int32_t n, const ArchiveKeys& keys,
                 const ArchiveProgress* progress, std::size_t index, std::size_t count)
{
    const std::uint8_t kind = frame.GetEntryKind(n);
    const std::int32_t size = frame.GetEntrySize(n);
    if (kind != kKindCompressed && kind != kKindSmallStored && kind != kKindLargeStored) {
        throw ArchiveError("Cannot extract \"" + shownName(frame.GetEntryName(n)) + "\": its kind (" +
                           std::to_string(kind) + ") is unknown.");
    }
    if (kind == kKindCompressed && size < TDataBytes::kTableBytes) {
        throw ArchiveError("Cannot extract \"" + shownName(frame.GetEntryName(n)) +
                           "\": its compressed data (" + std::to_string(size) +
                           " bytes) is shorter than its code table; the entry is damaged.");
    }
    compressor.Reset();
    report(progress, archive_status::kRead);
    if (kind == kKindCompressed) {
        // The payload is decoded where it lies in the container: splitting off and
        // unshifting the table and decoding the codes happen in one pass, without
        // copying the payload into the compressor first.
        reportStep(progress, index, count, 1);
        report(progress, archive_status::kSplitTable);
        reportStep(progress, index, count, 2);
        report(progress, archive_status::kDecompress);
        compressor.DecompressStream(frame.GetEntryPayload(n), static_cast<std::size_t>(size), keys.key1,
                                    keys.key2);
        if (dropsPaddingByte(frame, n) && compressor.Bytes.DataLength > 0) {
            compressor.Bytes.SetLength(compressor.Bytes.DataLength - 1);
        }
    } else {
        compressor.Bytes.SetData(frame.GetEntryPayload(n), static_cast<std::size_t>(size));
        reportStep(progress, index, count, 1);
        // Stored bytes are no code stream; a save must not add a trailer.
        compressor.Compressed = false;
    }
}

bool isHiddenEntryName(std::string_view entryName)
{
    for (std::size_t start = 0; start < entryName.size();) {
        if (entryName[start] == '.') {
            return true;
        }
        const std::size_t slash = entryName.find_first_of("\\/", start);
        if (slash == std::string_view::npos) {
            break;
        }
        start = slash + 1;
    }
    return false;
}

namespace {

// Whether something (a file, a folder, a link, even a dangling one) has the name.
bool nameTaken(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(std::filesystem::u8path(path), ec));
}

// The choices' verdict on one entry before any work: Written means go on, and
// `replace` says whether an existing file may be replaced.
ExtractOutcome decide(ExtractChoices* choices, const ExtractResult& result, const std::string& outputPath,
                      bool& replace)
{
    replace = false;
    if (choices == nullptr) {
        return nameTaken(outputPath) ? ExtractOutcome::Kept : ExtractOutcome::Written;
    }
    if (choices->cancelled) {
        return ExtractOutcome::Cancelled;
    }
    if (result.hidden && choices->hidden) {
        if (choices->hiddenAnswer < 0) {
            choices->hiddenAnswer = choices->hidden(result.entryName) ? 1 : 0;
        }
        if (choices->hiddenAnswer == 0) {
            return ExtractOutcome::Skipped;
        }
    }
    if (!nameTaken(outputPath)) {
        return ExtractOutcome::Written;
    }
    if (!choices->replaceAll) {
        const ReplaceAnswer answer = choices->replace ? choices->replace(outputPath) : ReplaceAnswer::No;
        if (answer == ReplaceAnswer::Cancel) {
            choices->cancelled = true;
            return ExtractOutcome::Cancelled;
        }
        if (answer == ReplaceAnswer::No) {
            return ExtractOutcome::Kept;
        }
        choices->replaceAll = answer == ReplaceAnswer::YesToAll;
    }
    replace = true;
    return ExtractOutcome::Written;
}

} // namespace

ExtractResult extractEntryAt(const XFileFrame& frame, TCompress& compressor, std::int32_t n,
                             const std::string& targetFolder, const ArchiveKeys& keys,
                             const ArchiveProgress* progress, std::size_t index, std::size_t count,
                             ExtractChoices* choices)
{
    ExtractResult result;
    result.entryName = frame.GetEntryName(n);
    result.kind = frame.GetEntryKind(n);
    result.hidden = isHiddenEntryName(result.entryName);
    // Check the name and ask before any work, so an unsafe or unwanted entry
    // costs nothing.
    result.outputPath = safeExtractPath(targetFolder, result.entryName);
    bool replace = false;
    result.outcome = decide(choices, result, result.outputPath, replace);
    if (result.outcome != ExtractOutcome::Written) {
        return result;
    }

    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    if (result.kind == kKindCompressed) {
        decodeEntry(frame, compressor, n, keys, progress, index, count);
        bytes = compressor.Bytes.data();
        size = compressor.Bytes.size();
    } else if (result.kind == kKindSmallStored || result.kind == kKindLargeStored) {
        // Stored entries are written straight from the container: no copy of a
        // possibly large payload through the compressor's buffers.
        compressor.Reset();
        compressor.Compressed = false;
        report(progress, archive_status::kRead);
        bytes = frame.GetEntryPayload(n);
        size = static_cast<std::size_t>(frame.GetEntrySize(n));
        reportStep(progress, index, count, 1);
    } else {
        decodeEntry(frame, compressor, n, keys, progress, index, count); // throws: unknown kind
    }

    reportStep(progress, index, count, 3);
    report(progress, archive_status::kSave);
    result.outputPath = prepareExtractPath(targetFolder, result.entryName);
    archive_io::writeFileAtomically(result.outputPath, {{bytes, size}}, &compressor.Yield,
                                    AtomicFile::Links::Replace, replace);
    result.bytesWritten = static_cast<std::int64_t>(size);

    report(progress, "");
    reportStep(progress, index, count, 4);
    compressor.Bytes.ReleaseSpare();
    return result;
}

ExtractResult extractEntry(const XFileFrame& frame, TCompress& compressor, const std::string& entryName,
                           const std::string& targetFolder, const ArchiveKeys& keys,
                           const ArchiveProgress* progress, std::size_t index, std::size_t count,
                           ExtractChoices* choices)
{
    const std::int32_t n = frame.IndexOfName(entryName);
    if (n == 0) {
        throw ArchiveError("The archive holds no entry named \"" + shownName(entryName) + "\".");
    }
    return extractEntryAt(frame, compressor, n, targetFolder, keys, progress, index, count, choices);
}

} // namespace tq
