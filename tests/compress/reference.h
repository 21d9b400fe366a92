// Plain, step-by-step versions of the compressor's passes, written straight from
// their definitions (linear searches, every comparison of the exchange procedure).
// The engine's indexed and simulated versions are compared against these.
#pragma once

#include <cstdint>
#include <vector>

namespace tqtest {

using Bytes = std::vector<std::uint8_t>;

struct RefTable {
    // 65,536 slots of (first, second) and their counts; slots 0..252 form the code table.
    Bytes pairs = Bytes(2 * 65536, 0);
    std::vector<std::int32_t> counts = std::vector<std::int32_t>(65536, 0);
    std::int32_t pairCount = 0;
};

// The sampling pass with a linear search over the pairs found so far.
RefTable refBuild(const Bytes& data, std::int32_t skip);

// The exchange procedure, one comparison at a time. `scanLimit` cuts the scans of
// every i >= cutFrom after that many steps of l (253 = never cut).
void refSort(RefTable& table, int scanLimit = 253, int cutFrom = 0);

// Lowest slot 0..252 holding the pair, or 255.
std::uint8_t refFindPair(const Bytes& pairs, std::uint8_t first, std::uint8_t second);

// Code bytes of `data` under the table in pairs[0..505] (no table in front).
Bytes refCode(const Bytes& data, const Bytes& pairs);

// Decoding of code bytes under the table in pairs[0..505].
Bytes refDecode(const Bytes& codes, const Bytes& pairs);

// The whole compressed stream (table + codes) the engine must produce.
Bytes refStream(const Bytes& data, std::int32_t skip);

// Deterministic pseudo-random bytes drawn from `alphabet` distinct values.
Bytes randomBytes(std::uint32_t seed, std::size_t size, int alphabet = 256);

// Text-like bytes: words from a small vocabulary, spaces and line breaks.
Bytes textBytes(std::uint32_t seed, std::size_t size);

} // namespace tqtest
