// XFileFrame: the in-memory container of a .X archive file.
//
// A container holds an ordered list of entries, each with a name (8-bit
// Windows-1252 text, folders separated by backslashes), a payload size, a kind
// byte and the payload itself. It stores payloads as given; what a payload means
// is decided by its kind (1 compressed, 2 small file stored, 3 large file
// stored) and is the business of the archive operations (archive/archive_ops.h).
//
// File layout, all counts and lengths as base-255 pairs (value div 255, value
// mod 255):
//   2 bytes   directory length D
//   D bytes   directory: entry count (2 bytes), then one record per entry:
//               11 bytes  payload size, decimal digits left-aligned, space padded;
//                         byte 10 is a space, or the odd-size mark 'o' (below)
//                1 byte   kind
//                2 bytes  name length n
//                n bytes  name
//   rest      data area: the payloads of all entries, concatenated in entry order
// An empty container is the four bytes 00 02 00 00.
//
// Sizes never need more than 10 digits, so byte 10 of the size field is free; a
// reader of the format takes its digits from bytes 0..9 only. It carries the
// odd-size mark: decoding a compressed payload always gives an even number of
// bytes, so a file of odd length comes back with one padding byte 0x00 at its end.
// An entry added from such a file is marked 'o', and extraction drops the padding
// byte (archive/archive_ops.h). Other readers ignore the mark and give the padded
// bytes; an archive without marks extracts as before. Loading refuses any other
// byte there.
//
// Every count and length in the format must lie in 0..65279; a change that would
// need more (entry count, directory length, name length) is refused with an
// ArchiveError and leaves the container unchanged. Loading validates the whole
// file first; a corrupt or truncated file is refused with an ArchiveError that
// names the file and the problem, and the container keeps what it held.
//
// Entries are numbered from 1 in every operation. Lookups by number and by name
// are constant time: record and payload offsets are kept in a table beside the
// directory and updated on every change. They give exactly what a walk through
// the directory records gives.
#pragma once

#include "archive/archive_error.h"
#include "platform/yield.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tq {

class XFileFrame {
public:
    // Largest value a base-255 pair can hold (255 * 255 + 254).
    static constexpr std::int32_t kMaxPairValue = 65279;
    // Bytes of an entry record before the name.
    static constexpr std::int32_t kRecordHeaderSize = 14;
    // Width of the size field; the directory walk reads digits from its first 10 bytes.
    static constexpr std::int32_t kSizeFieldWidth = 11;
    static constexpr std::int32_t kSizeDigitsRead = 10;
    // Byte 10 of the size field: a space, or the odd-size mark.
    static constexpr std::int32_t kSizeMarkOffset = 10;
    static constexpr std::uint8_t kNoMark = ' ';
    static constexpr std::uint8_t kOddSizeMark = 'o';
    // Capacities the buffers start with and shrink back to.
    static constexpr std::size_t kInitialDirectoryCapacity = 128000;
    static constexpr std::size_t kInitialDataCapacity = 1024000;
    // The data area is addressed with 32-bit signed offsets.
    static constexpr std::int64_t kMaxDataLength = 0x7FFFFFFF;

    XFileFrame();

    // Empties the container (directory length 2, no entries, no data, no names);
    // the buffers keep their capacity.
    void Clear();

    // Gives back buffer memory grown beyond the initial capacities; contents in
    // use are kept.
    void ReleaseSpare();

    // Appends payload bytes to the data area. The entry they belong to is then
    // recorded with AddEntry.
    void AppendPayload(const std::uint8_t* bytes, std::size_t count);
    void AppendPayload(const std::vector<std::uint8_t>& bytes)
    {
        AppendPayload(bytes.data(), bytes.size());
    }

    // Throws ArchiveError when an entry with this name could not be added (entry
    // count, directory length or name length above 65279). Lets a caller refuse a
    // file before doing the work of compressing it.
    void CheckNewEntry(std::string_view name) const;

    // Records an entry for the payload appended last: `size` must be the number
    // of payload bytes appended since the previous entry. On refusal (format
    // limits, a size that does not match) the unrecorded payload bytes are
    // dropped, so the container is as it was before the AppendPayload.
    // `oddMark` writes the odd-size mark into the record.
    void AddEntry(std::int32_t size, std::string_view name, std::uint8_t kind, bool oddMark = false);

    // Removes entry n: its payload (later payloads move down), its record, its name.
    void DeleteEntry(std::int32_t n);

    // Removes several entries at once (numbers in any order, duplicates allowed),
    // moving the data area only once. Same result as deleting them one by one
    // from the highest number down.
    void DeleteEntries(std::vector<std::int32_t> numbers);

    // The number of the first entry whose name equals `name` without regard to
    // letter case (Windows-1252 rules), or 0 when there is none.
    std::int32_t IndexOfName(std::string_view name) const;

    // Facts of entry n (1..EntryCount); other numbers throw ArchiveError.
    std::int32_t GetEntrySize(std::int32_t n) const;
    std::uint8_t GetEntryKind(std::int32_t n) const;
    std::string GetEntryName(std::int32_t n) const;
    // Whether entry n's record carries the odd-size mark.
    bool GetEntryOddMark(std::int32_t n) const;
    // Start of entry n's payload in the data area.
    std::int32_t GetEntryOffset(std::int32_t n) const;
    // Pointer to entry n's payload (GetEntrySize(n) bytes).
    const std::uint8_t* GetEntryPayload(std::int32_t n) const;

    // Writes the container to `path` (UTF-8 file name) atomically: a temporary
    // file in the same folder, then renamed over the old file. When `path` is a
    // symbolic link, the file it names is replaced and the link stays.
    void SaveToFile(const std::string& path) const;

    // Reads the archive at `path`, replacing the container's content, and fills
    // Names itself (callers do not append the names again). A file shorter than
    // 4 bytes loads as an empty container. A file that cannot be read or is not
    // a valid archive throws ArchiveError and leaves the container unchanged.
    void LoadFromFile(const std::string& path);

    // LoadFromFile() of an archive's bytes held in memory (a sealed archive,
    // opened without its bytes ever touching the disk); `path` names the file in
    // error messages.
    void LoadFromBytes(const std::uint8_t* bytes, std::size_t size, const std::string& path);

    // The bytes SaveToFile writes.
    std::vector<std::uint8_t> ToBytes() const;

    // Read-only views of the container's state.
    const std::vector<std::uint8_t>& Directory() const { return directory_; }
    std::int32_t DirectoryLength() const { return static_cast<std::int32_t>(directory_.size()); }
    std::int32_t EntryCount() const { return static_cast<std::int32_t>(entries_.size()); }
    const std::vector<std::uint8_t>& DataArea() const { return data_; }
    std::int32_t DataLength() const { return static_cast<std::int32_t>(data_.size()); }
    // Entry names in entry order; row k names entry k + 1.
    const std::vector<std::string>& Names() const { return names_; }

    // Ticked after every record and every chunk of bytes during long operations
    // (load, save, payload copies, deletes), so the host can keep its windows alive.
    mutable YieldHook Yield;

private:
    struct EntryInfo {
        std::int32_t recordOffset;  // start of the record in the directory
        std::int32_t size;          // payload size
        std::int32_t payloadOffset; // start of the payload in the data area
    };

    void load(std::uint64_t fileSize, const std::function<void(std::uint8_t*, std::size_t)>& read,
              const std::string& path);
    void checkNumber(std::int32_t n) const;
    void writeCount();
    void rebuildNameIndex();
    std::int32_t claimedLength() const;
    // The two bytes written in front of the directory.
    void lengthHeader(std::uint8_t out[2]) const;

    std::vector<std::uint8_t> directory_; // size() is the directory length
    std::vector<std::uint8_t> data_;      // size() is the data length
    std::vector<EntryInfo> entries_;
    std::vector<std::string> names_;
    // Upper-cased name -> index (0-based) of its first entry.
    std::unordered_map<std::string, std::int32_t> firstByName_;
    // The directory length as the loaded file wrote it. A writer may have put
    // 255 in the low byte (00 FF reads as 255, like 01 00); the bytes are
    // written back unchanged while the length they give still holds, so an
    // archive saves as the same bytes it was loaded from, as its records do.
    std::uint8_t loadedLength_[2] = {0, 2};
};

// Base-255 pairs: value div 255, value mod 255; read back as first * 255 + second.
void writePair(std::uint8_t* out, std::int32_t value);
std::int32_t readPair(const std::uint8_t* in);

} // namespace tq
