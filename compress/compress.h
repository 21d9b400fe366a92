// The byte-pair compression engine.
//
// A compressed stream is a 506-byte code table (253 byte pairs, slot s at offsets
// 2s and 2s+1) followed by code bytes: 0..252 stand for the pair in that slot,
// 254 is an escape followed by two literal bytes (a reader treats 253..255 alike).
// There is no length field: decoding always yields an even number of bytes, so an
// odd-length input comes back with one 0x00 byte appended.
//
// A saved compressed file is the stream followed by the trailer 0xFF, 0x00 and the
// bytes of `Name` (0xFF in the name written as 0x20).
//
// Calling order (callers drive the passes themselves):
//   compress:   Reset; fill Data (LoadFromFile / AppendText / AppendBytes / SetData);
//               optionally set TimeLimitOn / TimeLimitMs; BuildTable(skip); SortTable;
//               CompressData; PrependTable; SaveToFile or copy Data out; ReleaseSpare.
//   decompress: Reset; fill Data with a whole stream; SplitTable; DecompressData;
//               SaveToFile or GetText or copy Data out; ReleaseSpare.
//
// Everything is plain C++ and runs on the caller's thread. Every loop calls
// `Yield.tick()` after each elementary step; the host's callback may set `Abort`
// (ends BuildTable and SortTable early; coding still gives a correct stream) or
// `Cancel` (SaveToFile then writes nothing).
//
// Failures are reported by exceptions derived from std::runtime_error with a
// user-readable what(): CompressMemoryError when a buffer cannot grow,
// CompressFileError when a file cannot be read or written.
#pragma once

#include "platform/fileio.h"
#include "platform/yield.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tq {

// A buffer of the compressor could not grow (or could not be created).
class CompressMemoryError : public std::runtime_error {
public:
    explicit CompressMemoryError(std::int64_t requestedBytes);
    // The buffer size in bytes that could not be obtained.
    std::int64_t requestedBytes() const { return requested_; }

private:
    std::int64_t requested_;
};

// A file could not be opened, read, created, written or replaced.
// what() names the file and the reason, e.g.
//   Cannot open "/x/y.X": No such file or directory
using CompressFileError = FileError;

// A heap buffer of plain values with vector-like read access (data(), size(),
// operator[], begin(), end()). Unlike std::vector it can grow without copying
// through the system's realloc and without touching new memory, which keeps
// inputs of tens of megabytes fast, and it can drop elements at its front
// without moving the rest (the block then simply starts later). Elements added
// by growth are uninitialised; allocateZeroed gives zero-filled ones.
template <typename T>
class RawBuffer {
public:
    RawBuffer() = default;
    RawBuffer(const RawBuffer&) = delete;
    RawBuffer& operator=(const RawBuffer&) = delete;
    ~RawBuffer() { std::free(block_); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }

    // Replaces the content by n zero-filled elements. Throws std::bad_alloc.
    void allocateZeroed(std::size_t n)
    {
        release();
        if (n > 0) {
            adopt(static_cast<T*>(std::calloc(n, sizeof(T))), n);
        }
    }
    // Changes the size keeping the first min(old, n) elements. Throws std::bad_alloc
    // (the buffer is then unchanged).
    void resize(std::size_t n) { resizeKeeping(n, n); }
    // Changes the size keeping at least the first min(old, n, keep) elements (a
    // shrink copies no more than that). Throws std::bad_alloc (the buffer is then
    // unchanged).
    void resizeKeeping(std::size_t n, std::size_t keep)
    {
        if (n == 0) {
            release();
            return;
        }
        if (n < size_) {
            shrinkTo(n, std::min(n, keep));
            return;
        }
        // Growing keeps the dropped front: the elements stay where they are.
        const std::size_t front = static_cast<std::size_t>(data_ - block_);
        T* grown = static_cast<T*>(std::realloc(block_, (front + n) * sizeof(T)));
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        block_ = grown;
        data_ = grown + front;
        size_ = n;
    }
    // Replaces the content by n elements of no particular value. Throws std::bad_alloc
    // (the buffer is then empty).
    void discardAndResize(std::size_t n)
    {
        release();
        if (n > 0) {
            adopt(static_cast<T*>(std::malloc(n * sizeof(T))), n);
        }
    }
    // Removes the first n elements (at most size()) without moving the others.
    void dropFront(std::size_t n)
    {
        n = std::min(n, size_);
        data_ += n;
        size_ -= n;
    }
    void release()
    {
        std::free(block_);
        block_ = nullptr;
        data_ = nullptr;
        size_ = 0;
    }
    void swap(RawBuffer& other) noexcept
    {
        std::swap(block_, other.block_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
    }

private:
    void adopt(T* block, std::size_t n)
    {
        if (block == nullptr) {
            throw std::bad_alloc();
        }
        block_ = block;
        data_ = block;
        size_ = n;
    }

    // Shrinking moves the kept elements into a block of their own and frees the
    // large one. Shrinking in place would keep the large block mapped as it is, and
    // each later growth would then map fresh pages and fault on every one of them;
    // freed, the allocator can hand the same memory out again. Should the new block
    // not be had, the buffer shrinks in place instead.
    void shrinkTo(std::size_t n, std::size_t keep)
    {
        T* kept = static_cast<T*>(std::malloc(n * sizeof(T)));
        if (kept == nullptr) {
            const std::size_t front = static_cast<std::size_t>(data_ - block_);
            if (front > 0) {
                std::memmove(block_, data_, keep * sizeof(T));
            }
            T* shrunk = static_cast<T*>(std::realloc(block_, n * sizeof(T)));
            block_ = shrunk != nullptr ? shrunk : block_;
        } else {
            std::memcpy(kept, data_, keep * sizeof(T));
            std::free(block_);
            block_ = kept;
        }
        data_ = block_;
        size_ = n;
    }

    T* block_ = nullptr; // what was allocated
    T* data_ = nullptr;  // the first element, block_ unless the front was dropped
    std::size_t size_ = 0;
};

// Byte buffers and the pair table.
//
// `Data` and `Scratch` always have the same size, BaseCapacity() + ExtraCapacity();
// they grow on demand (geometrically, so large inputs stay fast) and shrink back in
// ReleaseSpare. `PairTable` and `PairCounts` have a fixed physical size of 65,536
// slots, the number of possible pairs, which is all BuildTable can ever collect.
// All buffers are zero-filled when created; bytes added by growth are not
// initialised (bytes beyond the lengths in use carry no meaning).
class TDataBytes {
public:
    // Table slots, table bytes, escape code, largest slot code, count cap,
    // "no slot" result of FindPair.
    static constexpr int kTableSlots = 253;
    static constexpr int kTableBytes = 506;
    static constexpr std::uint8_t kEscape = 254;
    static constexpr std::uint8_t kLargestSlot = 252;
    static constexpr std::int32_t kCountCap = 32768;
    static constexpr std::uint8_t kNoSlot = 255;
    static constexpr std::uint8_t kTrailerMarker = 0xFF;
    static constexpr std::int32_t kBaseCapacity = 1024000;
    static constexpr std::uint8_t kDefaultTimeLimitMs = 255;
    // Physical number of pair slots: every possible byte pair.
    static constexpr std::int32_t kPairSlots = 65536;

    // Allocates the buffers (halving the base capacity while allocation fails),
    // then Reset. Abort false, TimeLimitOn true.
    TDataBytes();
    TDataBytes(const TDataBytes&) = delete;
    TDataBytes& operator=(const TDataBytes&) = delete;

    // Size given to Data and Scratch at creation (1,024,000 unless memory was short).
    std::int32_t BaseCapacity() const { return baseCapacity_; }
    // Bytes added to Data and Scratch by growth since creation or the last ReleaseSpare.
    std::int32_t ExtraCapacity() const { return extraCapacity_; }
    // Current size of Data and Scratch (the smaller of the two should a growth
    // have failed half-way).
    std::int64_t Capacity() const { return static_cast<std::int64_t>(std::min(Data.size(), Scratch.size())); }

    // Whether SortTable honours TimeLimitMs. True after creation; Reset keeps it.
    bool TimeLimitOn = true;
    // Bytes of Data in use. Change it only through the methods below (SetLength
    // when the bytes were written into Data directly), so it never exceeds Capacity().
    std::int32_t DataLength = 0;
    // Distinct pairs collected by BuildTable.
    std::int32_t PairCount = 0;
    // Bytes of PairTable in use: 2 * PairCount.
    std::int32_t PairTableLength = 0;
    // Work area of CompressData, DecompressData and PrependTable.
    RawBuffer<std::uint8_t> Scratch;
    // The bytes being worked on: file content, text, a code stream or a whole stream.
    RawBuffer<std::uint8_t> Data;
    // Pair slots, 2 bytes each; slots 0..252 (the first 506 bytes) are the code table.
    // After writing these bytes directly, call TableChanged().
    std::vector<std::uint8_t> PairTable;
    // Occurrence count of slot s at index s.
    std::vector<std::int32_t> PairCounts;
    // Set by a stop command: ends BuildTable and SortTable early. Cleared by Reset.
    bool Abort = false;
    // Sort time limit per table entry in milliseconds. Reset sets 255.
    std::uint8_t TimeLimitMs = kDefaultTimeLimitMs;

    // Called after every elementary step of every loop (mutable so that counting
    // passes such as TCompress::DecodedSize can yield too).
    mutable YieldHook Yield;

    // Abort false, DataLength 0, PairCount 0, TimeLimitMs 255, then ReleaseSpare.
    // Buffer contents are not cleared.
    void Reset();
    // Enlarges Data and Scratch by 2*n bytes each, keeping their contents.
    // Throws CompressMemoryError when memory is short.
    void Grow(std::int32_t n);
    // Shrinks Data and Scratch back to BaseCapacity() when they have grown. Bytes in
    // use are kept: when DataLength is above BaseCapacity(), the buffers keep
    // DataLength bytes.
    void ReleaseSpare();
    // Makes sure Data and Scratch hold at least `bytes` bytes (growing them when not).
    void EnsureCapacity(std::int64_t bytes);

    // Appends 8-bit text to Data.
    void AppendText(std::string_view bytes);
    // Appends raw bytes to Data.
    void AppendBytes(const std::uint8_t* bytes, std::size_t count);
    // Replaces the content of Data by the given bytes.
    void SetData(const std::uint8_t* bytes, std::size_t count);
    // Sets DataLength after bytes were written into Data directly (grows when needed;
    // bytes between the old and the new length are whatever the buffer held).
    void SetLength(std::int32_t length);
    // Data[0 .. DataLength-1] as 8-bit text.
    std::string GetText() const;
    // Read access to the bytes in use.
    const std::uint8_t* data() const { return Data.data(); }
    std::size_t size() const { return static_cast<std::size_t>(DataLength); }

    // Collects the pairs of Data at every step-th position: step is skip rounded up
    // to even, taken modulo 256 (a step of 0 acts as 2). Fills PairTable, PairCounts
    // and PairCount in order of first appearance; counts stop at 32,768. Slots 0..252
    // start as 0x00 0x00 with count 0. Ends early when Abort is set.
    void BuildTable(std::int32_t skip);
    // Orders the slots by the exchange procedure: for each i < PairCount, for each
    // l in 0..252, exchange slots l and i when count[l] <= count[i]. Ends early on
    // Abort; with TimeLimitOn a scan for one i ends once TimeLimitMs have passed
    // since it began. Without the time limit the result is deterministic.
    void SortTable();
    // Moves Data 506 bytes up and puts the 506 table bytes in front.
    void PrependTable();
    // When DataLength >= 506: the first 506 bytes of Data become the table and are
    // removed from Data. Otherwise nothing happens (the previous table stays).
    void SplitTable();
    // Removes `count` bytes of Data starting at `from`.
    void RemoveFront(std::int32_t from, std::int32_t count);
    // Adds a to every even and b to every odd table byte (modulo 256); Unshift subtracts.
    void ShiftTable(std::uint8_t a, std::uint8_t b);
    void UnshiftTable(std::uint8_t a, std::uint8_t b);
    // The lowest slot 0..252 holding (first, second), or 255 when none does. O(1).
    std::uint8_t FindPair(std::uint8_t first, std::uint8_t second);
    // For code 0..252 the pair in that slot and true; for 253..255 false.
    bool PairAt(std::uint8_t code, std::uint8_t& first, std::uint8_t& second) const;
    // Must be called after PairTable's first 506 bytes were written directly, so that
    // FindPair sees the new table. (The methods of this class do it themselves.)
    void TableChanged() { indexValid_ = false; }

private:
    void resizeBuffers(std::int64_t bytes);
    void rebuildIndex();
    void sortPlainScan(std::int32_t i);
    // SortTable's parts: the ranked computation returns the scan to go on with step
    // by step, or -1 when the sort is over (finished or aborted).
    std::int32_t sortRanked();
    void sortStepwise(std::int32_t start);
    friend class TCompress;

    std::int32_t baseCapacity_ = kBaseCapacity;
    std::int32_t extraCapacity_ = 0;
    // FindPair index: the lowest table slot of every pair, 255 for none.
    std::vector<std::uint8_t> slotOfPair_;
    // The pairs the index holds a slot for (all kNoSlot entries elsewhere).
    std::array<std::uint16_t, kTableSlots> indexedKeys_{};
    bool indexValid_ = false;
    // BuildTable's index: the pass number and slot of every pair collected so far.
    std::vector<std::uint32_t> buildIndex_;
    std::uint32_t buildPass_ = 0;
};

// The compressor: owns a TDataBytes and adds file input/output and the coding passes.
class TCompress {
public:
    // Creates Bytes, Name " ", Cancel false, resets Bytes, Compressed false.
    TCompress();
    TCompress(const TCompress&) = delete;
    TCompress& operator=(const TCompress&) = delete;

    // While set, SaveToFile writes nothing. Cleared by Reset.
    bool Cancel = false;
    // The file name that travels in the trailer of a saved stream (8-bit bytes).
    std::string Name = " ";
    // The buffers and the table.
    TDataBytes Bytes;
    // Saving in percent computed by the last CompressData.
    std::int32_t Ratio = 0;
    // Data holds coded bytes: set by CompressData, cleared by DecompressData,
    // kept by Reset. Decides whether SaveToFile writes the trailer.
    bool Compressed = false;
    // The same hook as Bytes.Yield.
    YieldHook& Yield = Bytes.Yield;

    // Bytes.Reset, Abort false, Cancel false. Compressed, Name and TimeLimitOn stay.
    void Reset();
    // Reads the whole file into Data from offset 0. For a name ending in ".X"/".x"
    // the trailer is stripped: Name becomes the bytes after the last 0xFF byte and
    // the byte following it, and Data ends before that 0xFF (when there is none,
    // Name is emptied and Data kept whole). Returns the final DataLength.
    // Throws CompressFileError.
    std::int32_t LoadFromFile(const std::filesystem::path& path);
    // Writes Data and, while Compressed, the trailer. Atomic: writes a temporary file
    // in the same folder and renames it over the target, so a failure leaves the old
    // file intact. With Cancel set (also when set during the write) no file is created
    // or changed. Throws CompressFileError.
    void SaveToFile(const std::filesystem::path& path);
    // Codes Data with the table in slots 0..252, sets Ratio and Compressed.
    void CompressData();
    // Decodes Data (code bytes only) with the current table; clears Compressed.
    // Codes 253..255 are escapes; an escape cut off by the end of the data gives
    // only the literal bytes present (never reads past DataLength).
    void DecompressData();
    // SetData(stream), SplitTable, UnshiftTable(unshiftFirst, unshiftSecond) and
    // DecompressData in one pass that reads the stream where it is: the table is
    // taken from its first 506 bytes and unshifted (a shorter stream keeps the
    // previous table as it is and is all codes), and the codes are decoded into
    // Data. `stream` must not point into this compressor's buffers.
    void DecompressStream(const std::uint8_t* stream, std::size_t count, std::uint8_t unshiftFirst = 0,
                          std::uint8_t unshiftSecond = 0);
    // The size estimate of Data as decoded: 2 for every code, where the escape 254
    // takes 3 bytes of Data and any other byte 1. For the codes CompressData writes
    // (never 253 or 255, no cut-off escape) it is the length DecompressData gives.
    std::int32_t DecodedSize() const;
};

namespace compress_detail {
// Finds the base capacity for creation: calls allocate(capacity) starting at
// `start`, halving while it throws std::bad_alloc; returns the capacity that worked.
std::int32_t chooseCapacity(std::int32_t start, const std::function<void(std::int32_t)>& allocate);
// Ratio formula: 100 - (n + 506) / L * 100 in double precision, rounded half to even;
// 0 when n < 1 or L <= 0.
std::int32_t ratioOf(std::int64_t codeBytes, std::int64_t inputLength);
} // namespace compress_detail

} // namespace tq
