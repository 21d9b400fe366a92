// Fuzz target: the decompressor with any table and any codes, and the
// compressor's round trip.
//
// Properties: decoding follows the stream's rules exactly (a code 0..252 gives
// its table pair, an escape the literal bytes that follow it, as many as are
// there); compressing any bytes with any skip and archive keys, then splitting
// and decoding the stream, gives the bytes back (an odd-length input with one
// 0x00 appended), and the size estimate of the codes is the decoded length.
#include "compress/compress.h"
#include "fuzz/fuzz_support.h"

#include <cstring>

namespace {

void decodeAnyStream(tq::TCompress& c, const std::uint8_t* data, std::size_t size)
{
    c.Reset();
    // A stream too short to hold a table keeps the table in place: start from
    // a known one so that every input decodes the same way.
    std::fill(c.Bytes.PairTable.begin(), c.Bytes.PairTable.begin() + tq::TDataBytes::kTableBytes, 0);
    c.Bytes.TableChanged();
    c.Bytes.SetData(data, size);
    c.Bytes.SplitTable();
    const std::uint8_t* table = size >= tq::TDataBytes::kTableBytes ? data : nullptr;
    const std::uint8_t* codes = table != nullptr ? data + tq::TDataBytes::kTableBytes : data;
    const std::size_t length = table != nullptr ? size - tq::TDataBytes::kTableBytes : size;
    TQ_FUZZ_CHECK(c.Bytes.size() == length);
    c.DecompressData();

    std::vector<std::uint8_t> expected;
    for (std::size_t i = 0; i < length;) {
        const std::uint8_t code = codes[i];
        if (code <= tq::TDataBytes::kLargestSlot) {
            expected.push_back(table != nullptr ? table[2 * code] : 0);
            expected.push_back(table != nullptr ? table[2 * code + 1] : 0);
            i += 1;
        } else {
            for (std::size_t k = i + 1; k < i + 3 && k < length; ++k) {
                expected.push_back(codes[k]);
            }
            i += 3;
        }
    }
    TQ_FUZZ_CHECK(c.Bytes.size() == expected.size());
    TQ_FUZZ_CHECK(expected.empty() || std::memcmp(c.Bytes.data(), expected.data(), expected.size()) == 0);
    TQ_FUZZ_CHECK(!c.Compressed);
}

void roundTrip(tq::TCompress& c, const std::uint8_t* data, std::size_t size)
{
    // The first three bytes choose the skip value and the archive keys; the
    // rest is the text.
    if (size < 3) {
        return;
    }
    const std::int32_t skip = data[0];
    const std::uint8_t key1 = data[1];
    const std::uint8_t key2 = data[2];
    data += 3;
    size -= 3;

    c.Reset();
    c.Bytes.TimeLimitOn = false;
    c.Bytes.SetData(data, size);
    c.Bytes.BuildTable(skip);
    c.Bytes.SortTable();
    c.CompressData();
    const std::int32_t estimate = c.DecodedSize();
    c.Bytes.ShiftTable(key1, key2);
    c.Bytes.PrependTable();
    const std::vector<std::uint8_t> stream(c.Bytes.data(), c.Bytes.data() + c.Bytes.size());

    c.Reset();
    c.Bytes.SetData(stream.data(), stream.size());
    c.Bytes.SplitTable();
    c.Bytes.UnshiftTable(key1, key2);
    c.DecompressData();
    const std::size_t padded = size + (size % 2);
    TQ_FUZZ_CHECK(c.Bytes.size() == padded);
    TQ_FUZZ_CHECK(static_cast<std::size_t>(estimate) == padded);
    TQ_FUZZ_CHECK(size == 0 || std::memcmp(c.Bytes.data(), data, size) == 0);
    TQ_FUZZ_CHECK(padded == size || c.Bytes.data()[size] == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static tq::TCompress compressor;
    decodeAnyStream(compressor, data, size);
    roundTrip(compressor, data, size);
    compressor.Bytes.ReleaseSpare();
    return 0;
}
