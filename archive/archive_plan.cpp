#include "archive/archive_plan.h"

#include "archive/archive_ops.h"
#include "platform/codepage.h"

#include <cmath>
#include <unordered_map>

namespace tq {
namespace {

std::string upperKey(const std::string& name)
{
    std::string key = name;
    for (char& c : key) {
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    }
    return key;
}

double positiveShare(double share)
{
    return share > 0 ? share : 1;
}

enum class Limit { None, NameLength, EntryCount, DirectoryLength };

// The limit the next record of `name` would pass, with the directory at
// `directoryLength` bytes and `entries` entries.
Limit passedLimit(std::int64_t directoryLength, std::int64_t entries, const std::string& name)
{
    const auto nameLength = static_cast<std::int64_t>(name.size());
    if (nameLength > XFileFrame::kMaxPairValue) {
        return Limit::NameLength;
    }
    if (entries + 1 > XFileFrame::kMaxPairValue) {
        return Limit::EntryCount;
    }
    if (directoryLength + XFileFrame::kRecordHeaderSize + nameLength > XFileFrame::kMaxPairValue) {
        return Limit::DirectoryLength;
    }
    return Limit::None;
}

// The directory after recording the first `fit` files, the longest first part
// of the list that stays within the limits.
struct DirectoryRoom {
    std::size_t fit = 0;
    std::int64_t length = 0;
    std::int64_t entries = 0;
};

DirectoryRoom directoryRoom(const XFileFrame& frame, const std::vector<FileToAdd>& files)
{
    DirectoryRoom room;
    room.length = frame.DirectoryLength();
    room.entries = frame.EntryCount();
    for (const FileToAdd& file : files) {
        if (passedLimit(room.length, room.entries, file.entryName) != Limit::None) {
            break;
        }
        room.length += XFileFrame::kRecordHeaderSize + static_cast<std::int64_t>(file.entryName.size());
        ++room.entries;
        ++room.fit;
    }
    return room;
}

} // namespace

void requireRoomForAll(const XFileFrame& frame, const std::vector<FileToAdd>& files)
{
    const DirectoryRoom room = directoryRoom(frame, files);
    const std::size_t fit = room.fit;
    if (fit == files.size()) {
        return;
    }
    const std::string limit = std::to_string(XFileFrame::kMaxPairValue);
    const Limit which = passedLimit(room.length, room.entries, files[fit].entryName);
    std::string what;
    if (which == Limit::NameLength) {
        what = "an entry name may be at most " + limit + " bytes long, and file " + std::to_string(fit + 1) +
               "'s name is " + std::to_string(files[fit].entryName.size());
    } else if (which == Limit::EntryCount) {
        what = "an archive holds at most " + limit + " entries";
    } else {
        what = "the archive's directory is limited to " + limit + " bytes (each entry takes " +
               std::to_string(XFileFrame::kRecordHeaderSize) + " bytes and its name)";
    }
    throw ArchiveError("Nothing was added: " + what + ", and only " + std::to_string(fit) + " of the " +
                       std::to_string(files.size()) + " chosen files would fit.");
}

std::vector<std::int32_t> entriesForNames(const XFileFrame& frame, const std::vector<std::string>& names)
{
    struct SameName {
        std::vector<std::int32_t> entries; // in entry order
        std::size_t taken = 0;
    };
    std::unordered_map<std::string, SameName> byName;
    for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
        byName[upperKey(frame.Names()[static_cast<std::size_t>(n - 1)])].entries.push_back(n);
    }
    std::vector<std::int32_t> numbers;
    numbers.reserve(names.size());
    for (const std::string& name : names) {
        const auto found = byName.find(upperKey(name));
        if (found == byName.end() || found->second.taken >= found->second.entries.size()) {
            numbers.push_back(0);
            continue;
        }
        numbers.push_back(found->second.entries[found->second.taken++]);
    }
    return numbers;
}

double addShare(std::size_t count)
{
    return positiveShare(count >= 2 ? 100.0 / static_cast<double>(count) : 100.0);
}

double extractShare(std::size_t count, bool singleSelected)
{
    if (singleSelected) {
        return 100.0;
    }
    return positiveShare((32000.0 / static_cast<double>(count == 0 ? 1 : count) - 1) / 320);
}

double progressAt(double share, std::size_t index, int step)
{
    return static_cast<double>(index) * share + step * share / 4;
}

EntrySizes entrySizes(const XFileFrame& frame, TCompress& compressor, std::int32_t n)
{
    EntrySizes sizes;
    sizes.payload = frame.GetEntrySize(n);
    if (frame.GetEntryKind(n) != kKindCompressed) {
        sizes.estimate = sizes.payload;
        return sizes;
    }
    compressor.Reset();
    compressor.Bytes.SetData(frame.GetEntryPayload(n), static_cast<std::size_t>(sizes.payload));
    sizes.estimate = static_cast<std::int64_t>(compressor.DecodedSize()) - TDataBytes::kTableBytes;
    compressor.Reset();
    if (dropsPaddingByte(frame, n) && sizes.estimate > 0) {
        --sizes.estimate;
    }
    return sizes;
}

int estimatePercent(std::int64_t payload, std::int64_t estimate)
{
    if (payload <= 0 || estimate <= 0) {
        return 0;
    }
    const double value = 100.0 - (static_cast<double>(payload) + TDataBytes::kTableBytes) /
                                     static_cast<double>(estimate) * 100.0;
    // nearbyint rounds halves to even in the default rounding mode.
    return static_cast<int>(std::nearbyint(value));
}

} // namespace tq
