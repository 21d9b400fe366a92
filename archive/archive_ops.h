// Archive operations shared by the command-line tool and the archive window:
// adding files and folders to an XFileFrame and extracting its entries.
//
// Adding a file: its bytes are read whole; a file of more than 1024 and at most
// 154754 bytes is compressed (BuildTable with the skip value, SortTable,
// CompressData, ShiftTable with the archive keys, PrependTable) and stored as
// kind 1; a smaller file is stored unchanged as kind 2, a larger one as kind 3.
// The kind follows from the file's size alone. Files are always stored exactly as
// they are on disk (a .X file keeps its trailer).
//
// Decoding yields an even number of bytes, so the code stream of a file of odd
// size decodes to the file plus one padding byte 0x00. Such an entry is added
// with the odd-size mark in its record (archive/xfileframe.h).
//
// Extracting an entry: a kind-1 payload is split into table and codes, the table
// is unshifted with the archive keys current at extraction, and the codes are
// decoded; wrong keys give wrong bytes without an error. A marked kind-1 entry
// then loses its final (padding) byte, so it comes back exactly as added; an
// unmarked one (written by another program) keeps the padding as before. Kinds 2
// and 3 are written as stored. Every extraction goes through extractEntryAt,
// which writes the output file atomically below the target folder, through
// prepareExtractPath only.
//
// Existing files and hidden entries: an extraction never replaces a file without
// a yes from its ExtractChoices (asked per file, or "yes to all" once), and
// extracts an entry with a hidden name (a part beginning with a dot, such as
// .bashrc or .config\autostart\x.desktop) only after one yes per extraction.
// Without choices existing files are kept and hidden entries extracted.
//
// Progress: the operations report their steps through ArchiveProgress (status
// texts for the window's status bar, step numbers 1..4 per file) and tick the
// compressor's and the container's yield hooks. Failures throw exceptions derived
// from std::runtime_error (ArchiveError, CompressFileError, CompressMemoryError)
// with user-readable texts.
#pragma once

#include "archive/archive_error.h"
#include "archive/xfileframe.h"
#include "compress/compress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tq {

// Archive keys used until the user chooses others.
constexpr int kDefaultArchiveKey1 = 97;
constexpr int kDefaultArchiveKey2 = 43;

// Entry kinds.
constexpr std::uint8_t kKindCompressed = 1;
constexpr std::uint8_t kKindSmallStored = 2;
constexpr std::uint8_t kKindLargeStored = 3;
// Files of more than kSmallFileLimit and at most kCompressLimit bytes are compressed.
constexpr std::int64_t kSmallFileLimit = 1024;
constexpr std::int64_t kCompressLimit = 154754;

// Status texts shown while a file is added or extracted.
namespace archive_status {
inline constexpr const char* kOpenFile = "Bestand openen";
inline constexpr const char* kBuildTable = "Maken van tabel";
inline constexpr const char* kSortTable = "Tabel sorteren";
inline constexpr const char* kCompress = "Comprimeren";
inline constexpr const char* kPlaceTable = "Tabel plaatsen";
inline constexpr const char* kPutInFrame = "In frame plaatsen";
inline constexpr const char* kRead = "Lezen";
inline constexpr const char* kSplitTable = "Tabel splitsen";
inline constexpr const char* kDecompress = "Decomprimeren";
inline constexpr const char* kSave = "Opslaan";
} // namespace archive_status

// The kind a file of `fileSize` bytes is stored as.
std::uint8_t kindForFileSize(std::int64_t fileSize);

struct ArchiveKeys {
    std::uint8_t key1 = kDefaultArchiveKey1;
    std::uint8_t key2 = kDefaultArchiveKey2;
};

// Callbacks of a running operation; either may be empty.
struct ArchiveProgress {
    // The current step's text (one of archive_status, or "" when a file is done).
    std::function<void(const std::string& text)> status;
    // Step k (1..4) of file `index` (0-based) of `count` files reached.
    std::function<void(std::size_t index, std::size_t count, int step)> step;
};

struct AddOptions {
    ArchiveKeys keys;
    // The compressor's skip value for BuildTable.
    std::int32_t skip = 2;
    // When set, the sort time limit below is applied to every file (after the
    // compressor's Reset, which would otherwise restore 255 ms). When clear, the
    // compressor's TimeLimitOn is left as it is and the limit is 255 ms.
    bool applyTimeLimit = false;
    bool timeLimitOn = true;
    std::uint8_t timeLimitMs = 255;
    // Report "Maken van tabel" (step 1) for every file before its size is tested,
    // as adding a folder does; otherwise only for files that are compressed.
    bool tableStatusForEveryFile = false;
};

// One file to add: where it is and the entry name it gets (8-bit, backslashes).
struct FileToAdd {
    std::string path;
    std::string entryName;
};

struct AddResult {
    std::string entryName;
    std::uint8_t kind = 0;
    std::int32_t payloadSize = 0;
    // The compressor's Ratio for kind 1, 0 for stored files.
    std::int32_t ratio = 0;
};

// Adds one file as an entry (see the top of this file). `index`/`count` are only
// passed on to the progress callback. Refuses the file before reading it when the
// container could not take its name; a file that cannot be read or is too large
// throws, and the container is then unchanged.
AddResult addFileToArchive(XFileFrame& frame, TCompress& compressor, const FileToAdd& file,
                           const AddOptions& options, const ArchiveProgress* progress = nullptr,
                           std::size_t index = 0, std::size_t count = 1);

// Adds the files in order, checking *stop (when given) before each file; returns
// the results of the files added. A file that fails ends the command with its
// exception; the files added before it stay in the container.
std::vector<AddResult> addFilesToArchive(XFileFrame& frame, TCompress& compressor,
                                         const std::vector<FileToAdd>& files, const AddOptions& options,
                                         const ArchiveProgress* progress = nullptr,
                                         const bool* stop = nullptr);

// The files chosen one by one, each under its bare file name.
std::vector<FileToAdd> filesToAdd(const std::vector<std::string>& paths);

// Every file of ListFolderFiles(folder), each named by folderEntryName.
std::vector<FileToAdd> folderFilesToAdd(const std::string& folder, YieldHook* yield = nullptr);

// The mean percentage over `chosenCount` chosen files: the single file's
// percentage for one, the sum divided by the count (truncated) for more.
std::int32_t meanRatio(const std::vector<AddResult>& results, std::size_t chosenCount);

// The answer to "replace the existing file?".
enum class ReplaceAnswer { Yes, No, YesToAll, Cancel };

// What one extraction (a command over one or more entries) asks and remembers.
struct ExtractChoices {
    // Asked when the output file (UTF-8 path) exists. Empty: the file is kept.
    std::function<ReplaceAnswer(const std::string& outputPath)> replace;
    // Asked at the first hidden entry of the extraction (with its name); false
    // passes over every hidden entry. Empty: hidden entries are extracted.
    std::function<bool(const std::string& entryName)> hidden;

    // Set by the answers.
    bool replaceAll = false;
    bool cancelled = false;
    int hiddenAnswer = -1; // -1 not asked yet, 0 no, 1 yes
};

enum class ExtractOutcome {
    Written,
    Kept,    // the output file existed and was not replaced
    Skipped, // a hidden entry the user did not want
    Cancelled,
};

struct ExtractResult {
    std::string entryName;
    std::string outputPath;
    std::uint8_t kind = 0;
    ExtractOutcome outcome = ExtractOutcome::Written;
    // Whether the name is a hidden one.
    bool hidden = false;
    // Bytes written to the output file.
    std::int64_t bytesWritten = 0;
};

// Whether a part of the entry name begins with a dot.
bool isHiddenEntryName(std::string_view entryName);

// Whether entry n is a compressed entry whose decoded bytes end in a padding
// byte that extraction drops (the odd-size mark on a kind-1 entry).
bool dropsPaddingByte(const XFileFrame& frame, std::int32_t n);

// Decodes entry n into the compressor's Data (kind 1 decoded with `keys` and the
// padding byte of a marked entry dropped, kinds 2 and 3 copied). Refuses unknown
// kinds and compressed payloads shorter than their table.
void decodeEntry(const XFileFrame& frame, TCompress& compressor, std::int32_t n, const ArchiveKeys& keys,
                 const ArchiveProgress* progress = nullptr, std::size_t index = 0, std::size_t count = 1);

// Extracts entry n into `targetFolder` (UTF-8 path): asks `choices` (see the top
// of this file) before any work, then decodes the entry, creates its folders and
// writes the file atomically. A file that appears at the output path meanwhile
// is not replaced without a yes either (the write then fails).
ExtractResult extractEntryAt(const XFileFrame& frame, TCompress& compressor, std::int32_t n,
                             const std::string& targetFolder, const ArchiveKeys& keys,
                             const ArchiveProgress* progress = nullptr, std::size_t index = 0,
                             std::size_t count = 1, ExtractChoices* choices = nullptr);

// Extracts the first entry whose name equals `entryName` (letter case ignored).
ExtractResult extractEntry(const XFileFrame& frame, TCompress& compressor, const std::string& entryName,
                           const std::string& targetFolder, const ArchiveKeys& keys,
                           const ArchiveProgress* progress = nullptr, std::size_t index = 0,
                           std::size_t count = 1, ExtractChoices* choices = nullptr);

} // namespace tq
