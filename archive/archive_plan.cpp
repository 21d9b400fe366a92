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

} // namespace

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
