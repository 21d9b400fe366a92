#include "archive/xfileframe.h"

#include "archive/fileio.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tq {
namespace {

// Makes room for `needed` bytes. Grows geometrically so that appending many
// payloads costs linear time; when memory is short the growth is halved until
// only the bytes actually needed are requested.
void reserveFor(std::vector<std::uint8_t>& buffer, std::size_t needed, const char* what)
{
    if (needed <= buffer.capacity()) {
        return;
    }
    std::size_t target = std::max(needed, buffer.capacity() * 2);
    for (;;) {
        try {
            buffer.reserve(target);
            return;
        } catch (const std::bad_alloc&) {
            if (target == needed) {
                throw ArchiveError(std::string("Not enough memory for the archive's ") + what + " (" +
                                   std::to_string(needed) + " bytes needed)");
            }
            target = needed + (target - needed) / 2;
        }
    }
}

// Shrinks a buffer back to `initial` bytes of capacity (or to its contents, when
// they are larger).
void shrinkTo(std::vector<std::uint8_t>& buffer, std::size_t initial)
{
    const std::size_t keep = std::max(initial, buffer.size());
    if (buffer.capacity() <= keep) {
        return;
    }
    std::vector<std::uint8_t> fresh;
    fresh.reserve(keep);
    fresh.assign(buffer.begin(), buffer.end());
    buffer.swap(fresh);
}

std::string upperKey(std::string_view name)
{
    std::string key(name);
    for (char& c : key) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    return key;
}

ArchiveError invalidArchive(const std::string& path, const std::string& problem)
{
    return ArchiveError("\"" + path + "\" is not a valid archive: " + problem + ".");
}

std::string entryLabel(std::int32_t n)
{
    return "entry " + std::to_string(n);
}

} // namespace

void writePair(std::uint8_t* out, std::int32_t value)
{
    out[0] = static_cast<std::uint8_t>(value / 255);
    out[1] = static_cast<std::uint8_t>(value % 255);
}

std::int32_t readPair(const std::uint8_t* in)
{
    return static_cast<std::int32_t>(in[0]) * 255 + static_cast<std::int32_t>(in[1]);
}

XFileFrame::XFileFrame()
{
    reserveFor(directory_, kInitialDirectoryCapacity, "directory");
    reserveFor(data_, kInitialDataCapacity, "data");
    Clear();
}

void XFileFrame::Clear()
{
    directory_.assign(2, 0);
    data_.clear();
    entries_.clear();
    names_.clear();
    firstByName_.clear();
}

void XFileFrame::ReleaseSpare()
{
    shrinkTo(directory_, kInitialDirectoryCapacity);
    shrinkTo(data_, kInitialDataCapacity);
}

void XFileFrame::AppendPayload(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) {
        return;
    }
    if (static_cast<std::int64_t>(count) > kMaxDataLength - static_cast<std::int64_t>(data_.size())) {
        throw ArchiveError("The archive cannot hold more than " + std::to_string(kMaxDataLength) +
                           " bytes of data; " + std::to_string(count) + " more bytes do not fit.");
    }
    reserveFor(data_, data_.size() + count, "data");
    data_.insert(data_.end(), bytes, bytes + count);
    Yield.tick();
}

void XFileFrame::CheckNewEntry(std::string_view name) const
{
    const auto length = static_cast<std::int64_t>(name.size());
    if (length > kMaxPairValue) {
        throw ArchiveError("The entry name is too long for an archive (" + std::to_string(length) +
                           " bytes; at most " + std::to_string(kMaxPairValue) + ").");
    }
    if (EntryCount() + 1 > kMaxPairValue) {
        throw ArchiveError("The archive is full: it cannot hold more than " +
                           std::to_string(kMaxPairValue) + " entries.");
    }
    const std::int64_t newLength = DirectoryLength() + kRecordHeaderSize + length;
    if (newLength > kMaxPairValue) {
        throw ArchiveError("The archive's directory is full: adding \"" +
                           cp1252::toUtf8(name) + "\" would make it " + std::to_string(newLength) +
                           " bytes long, and an archive directory holds at most " +
                           std::to_string(kMaxPairValue) + " bytes.");
    }
}

std::int32_t XFileFrame::claimedLength() const
{
    if (entries_.empty()) {
        return 0;
    }
    const EntryInfo& last = entries_.back();
    return last.payloadOffset + last.size;
}

void XFileFrame::AddEntry(std::int32_t size, std::string_view name, std::uint8_t kind, bool oddMark)
{
    const std::int32_t claimed = claimedLength();
    const auto dropUnclaimed = [&] { data_.resize(static_cast<std::size_t>(claimed)); };
    try {
        CheckNewEntry(name);
    } catch (...) {
        dropUnclaimed();
        throw;
    }
    const std::int32_t unclaimed = DataLength() - claimed;
    if (size != unclaimed) {
        dropUnclaimed();
        throw ArchiveError("The entry \"" + cp1252::toUtf8(name) + "\" was given the size " +
                           std::to_string(size) + ", but " + std::to_string(unclaimed) +
                           " payload bytes were appended for it.");
    }

    const auto nameLength = static_cast<std::int32_t>(name.size());
    const auto recordOffset = DirectoryLength();
    const std::size_t newLength = directory_.size() + kRecordHeaderSize + name.size();
    reserveFor(directory_, newLength, "directory");

    std::uint8_t header[kRecordHeaderSize];
    std::memset(header, ' ', kSizeFieldWidth);
    const std::string digits = std::to_string(size);
    std::memcpy(header, digits.data(), digits.size());
    header[kSizeMarkOffset] = oddMark ? kOddSizeMark : kNoMark;
    header[11] = kind;
    writePair(header + 12, nameLength);
    directory_.insert(directory_.end(), header, header + kRecordHeaderSize);
    directory_.insert(directory_.end(), name.begin(), name.end());

    entries_.push_back(EntryInfo{recordOffset, size, claimed});
    names_.emplace_back(name);
    firstByName_.emplace(upperKey(name), static_cast<std::int32_t>(names_.size()) - 1);
    writeCount();
    Yield.tick();
}

void XFileFrame::checkNumber(std::int32_t n) const
{
    if (n < 1 || n > EntryCount()) {
        throw ArchiveError("There is no entry " + std::to_string(n) + " in the archive (it holds " +
                           std::to_string(EntryCount()) + " entries).");
    }
}

void XFileFrame::writeCount()
{
    writePair(directory_.data(), EntryCount());
}

void XFileFrame::rebuildNameIndex()
{
    firstByName_.clear();
    for (std::size_t k = 0; k < names_.size(); ++k) {
        firstByName_.emplace(upperKey(names_[k]), static_cast<std::int32_t>(k));
    }
}

void XFileFrame::DeleteEntry(std::int32_t n)
{
    DeleteEntries({n});
}

void XFileFrame::DeleteEntries(std::vector<std::int32_t> numbers)
{
    for (std::int32_t n : numbers) {
        checkNumber(n);
    }
    if (numbers.empty()) {
        return;
    }
    std::vector<bool> doomed(entries_.size(), false);
    for (std::int32_t n : numbers) {
        doomed[static_cast<std::size_t>(n - 1)] = true;
    }

    // One pass: every kept record and payload moves down over the removed ones.
    std::size_t dirWrite = 2;
    std::size_t dataWrite = 0;
    std::vector<EntryInfo> keptEntries;
    std::vector<std::string> keptNames;
    keptEntries.reserve(entries_.size());
    keptNames.reserve(names_.size());
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        const EntryInfo& info = entries_[k];
        if (doomed[k]) {
            continue;
        }
        const auto recordOffset = static_cast<std::size_t>(info.recordOffset);
        const std::size_t recordLength =
            kRecordHeaderSize + static_cast<std::size_t>(readPair(&directory_[recordOffset + 12]));
        if (dirWrite != recordOffset) {
            std::memmove(&directory_[dirWrite], &directory_[recordOffset], recordLength);
        }
        const auto payloadOffset = static_cast<std::size_t>(info.payloadOffset);
        const auto size = static_cast<std::size_t>(info.size);
        if (dataWrite != payloadOffset && size > 0) {
            std::memmove(&data_[dataWrite], &data_[payloadOffset], size);
        }
        keptEntries.push_back(EntryInfo{static_cast<std::int32_t>(dirWrite), info.size,
                                        static_cast<std::int32_t>(dataWrite)});
        keptNames.push_back(std::move(names_[k]));
        dirWrite += recordLength;
        dataWrite += size;
        Yield.tick();
    }
    directory_.resize(dirWrite);
    data_.resize(dataWrite);
    entries_.swap(keptEntries);
    names_.swap(keptNames);
    rebuildNameIndex();
    writeCount();
}

std::int32_t XFileFrame::IndexOfName(std::string_view name) const
{
    const auto found = firstByName_.find(upperKey(name));
    return found == firstByName_.end() ? 0 : found->second + 1;
}

std::int32_t XFileFrame::GetEntrySize(std::int32_t n) const
{
    checkNumber(n);
    return entries_[static_cast<std::size_t>(n - 1)].size;
}

std::uint8_t XFileFrame::GetEntryKind(std::int32_t n) const
{
    checkNumber(n);
    return directory_[static_cast<std::size_t>(entries_[static_cast<std::size_t>(n - 1)].recordOffset) + 11];
}

std::string XFileFrame::GetEntryName(std::int32_t n) const
{
    checkNumber(n);
    const auto offset = static_cast<std::size_t>(entries_[static_cast<std::size_t>(n - 1)].recordOffset);
    const auto length = static_cast<std::size_t>(readPair(&directory_[offset + 12]));
    const auto* first = reinterpret_cast<const char*>(directory_.data() + offset + kRecordHeaderSize);
    return std::string(first, length);
}

bool XFileFrame::GetEntryOddMark(std::int32_t n) const
{
    checkNumber(n);
    const auto offset = static_cast<std::size_t>(entries_[static_cast<std::size_t>(n - 1)].recordOffset);
    return directory_[offset + kSizeMarkOffset] == kOddSizeMark;
}

std::int32_t XFileFrame::GetEntryOffset(std::int32_t n) const
{
    checkNumber(n);
    return entries_[static_cast<std::size_t>(n - 1)].payloadOffset;
}

const std::uint8_t* XFileFrame::GetEntryPayload(std::int32_t n) const
{
    checkNumber(n);
    return data_.data() + entries_[static_cast<std::size_t>(n - 1)].payloadOffset;
}

void XFileFrame::lengthHeader(std::uint8_t out[2]) const
{
    if (readPair(loadedLength_) == DirectoryLength()) {
        out[0] = loadedLength_[0];
        out[1] = loadedLength_[1];
    } else {
        writePair(out, DirectoryLength());
    }
}

std::vector<std::uint8_t> XFileFrame::ToBytes() const
{
    std::uint8_t header[2];
    lengthHeader(header);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(2 + directory_.size() + data_.size());
    bytes.insert(bytes.end(), header, header + 2);
    bytes.insert(bytes.end(), directory_.begin(), directory_.end());
    bytes.insert(bytes.end(), data_.begin(), data_.end());
    return bytes;
}

void XFileFrame::SaveToFile(const std::string& path) const
{
    std::uint8_t header[2];
    lengthHeader(header);
    // Saved as a document: a link the user chose as the archive's name is followed.
    archive_io::writeFileAtomically(
        path, {{header, 2}, {directory_.data(), directory_.size()}, {data_.data(), data_.size()}},
        &Yield, AtomicFile::Links::Follow);
}

void XFileFrame::LoadFromFile(const std::string& path)
{
    archive_io::InputFile in(path);
    load(in.size(), [&](std::uint8_t* out, std::size_t count) { in.read(out, count, &Yield); }, path);
}

void XFileFrame::LoadFromBytes(const std::uint8_t* bytes, std::size_t size, const std::string& path)
{
    std::size_t at = 0;
    load(size,
         [&](std::uint8_t* out, std::size_t count) {
             std::memcpy(out, bytes + at, count);
             at += count;
             Yield.tick();
         },
         path);
}

void XFileFrame::load(std::uint64_t fileSize, const std::function<void(std::uint8_t*, std::size_t)>& read,
                      const std::string& path)
{
    if (fileSize < 4) {
        Clear();
        return;
    }

    std::uint8_t header[2];
    read(header, 2);
    const std::int32_t dirLength = readPair(header);
    if (dirLength > kMaxPairValue) {
        throw invalidArchive(path, "its directory length (" + std::to_string(dirLength) +
                                       ") is beyond what the format can hold");
    }
    if (dirLength < 2) {
        throw invalidArchive(path, "its directory length (" + std::to_string(dirLength) +
                                       ") is too small to hold the entry count");
    }
    if (static_cast<std::uint64_t>(dirLength) > fileSize - 2) {
        throw invalidArchive(path, "its directory length (" + std::to_string(dirLength) +
                                       " bytes) runs past the end of the file (" +
                                       std::to_string(fileSize) + " bytes); the file may be truncated");
    }
    const std::uint64_t dataLength = fileSize - 2 - static_cast<std::uint64_t>(dirLength);
    if (dataLength > static_cast<std::uint64_t>(kMaxDataLength)) {
        throw invalidArchive(path, "its data area (" + std::to_string(dataLength) +
                                       " bytes) is larger than an archive can hold");
    }

    std::vector<std::uint8_t> directory(static_cast<std::size_t>(dirLength));
    read(directory.data(), directory.size());
    std::vector<std::uint8_t> data;
    reserveFor(data, std::max<std::size_t>(kInitialDataCapacity, static_cast<std::size_t>(dataLength)),
               "data");
    data.resize(static_cast<std::size_t>(dataLength));
    read(data.data(), data.size());

    // Walk the records the way every lookup reads them, checking that each one
    // lies inside the directory and its payload inside the data area.
    const std::int32_t count = readPair(directory.data());
    std::vector<EntryInfo> entries;
    std::vector<std::string> names;
    std::int32_t offset = 2;
    std::int64_t total = 0;
    while (offset < dirLength) {
        const auto number = static_cast<std::int32_t>(entries.size()) + 1;
        if (dirLength - offset < kRecordHeaderSize) {
            throw invalidArchive(path, "the record of " + entryLabel(number) +
                                           " is cut off at the end of the directory");
        }
        const std::uint8_t* record = directory.data() + offset;
        std::int64_t size = 0;
        int digits = 0;
        for (int i = 0; i < kSizeDigitsRead; ++i) {
            if (record[i] >= '0' && record[i] <= '9') {
                size = size * 10 + (record[i] - '0');
                ++digits;
            }
        }
        if (digits == 0) {
            throw invalidArchive(path, entryLabel(number) + " has no size (its size field holds no digits)");
        }
        const std::uint8_t mark = record[kSizeMarkOffset];
        if (mark != kNoMark && mark != kOddSizeMark) {
            throw invalidArchive(path, "the size field of " + entryLabel(number) +
                                           " ends in the byte " + std::to_string(mark) +
                                           ", where only a space or the odd-size mark 'o' may stand");
        }
        if (size > kMaxDataLength) {
            throw invalidArchive(path, "the size of " + entryLabel(number) + " (" + std::to_string(size) +
                                           ") is too large");
        }
        const std::int32_t nameLength = readPair(record + 12);
        if (nameLength > dirLength - offset - kRecordHeaderSize) {
            throw invalidArchive(path, "the name of " + entryLabel(number) +
                                           " runs past the end of the directory");
        }
        if (total + size > static_cast<std::int64_t>(dataLength)) {
            throw invalidArchive(path, "the data of " + entryLabel(number) + " (" + std::to_string(size) +
                                           " bytes) runs past the end of the file; the file may be truncated");
        }
        entries.push_back(EntryInfo{offset, static_cast<std::int32_t>(size), static_cast<std::int32_t>(total)});
        names.emplace_back(reinterpret_cast<const char*>(record + kRecordHeaderSize),
                           static_cast<std::size_t>(nameLength));
        total += size;
        offset += kRecordHeaderSize + nameLength;
        Yield.tick();
    }
    if (static_cast<std::int32_t>(entries.size()) != count) {
        throw invalidArchive(path, "its directory holds " + std::to_string(entries.size()) +
                                       " entries, but its entry count says " + std::to_string(count));
    }
    if (static_cast<std::uint64_t>(total) != dataLength) {
        throw invalidArchive(path, "it holds " + std::to_string(dataLength - static_cast<std::uint64_t>(total)) +
                                       " bytes of data that belong to no entry");
    }

    // Everything checked: take the new content.
    if (directory.capacity() < kInitialDirectoryCapacity) {
        directory_.assign(directory.begin(), directory.end());
    } else {
        directory_.swap(directory);
    }
    data_.swap(data);
    entries_.swap(entries);
    names_.swap(names);
    loadedLength_[0] = header[0];
    loadedLength_[1] = header[1];
    rebuildNameIndex();
}

} // namespace tq
