// Whole compress/decompress cycles: byte-for-byte against the plain reference on
// small inputs, exact round trips on inputs of many sizes and kinds.
#include "tests/compress/helpers.h"

#include <gtest/gtest.h>

#include <string>

using namespace tqtest;

namespace {

struct Kind {
    const char* name;
    Bytes (*make)(std::uint32_t seed, std::size_t size);
};

const Kind kinds[] = {
    {"random", [](std::uint32_t seed, std::size_t size) { return randomBytes(seed, size, 256); }},
    {"four symbols", [](std::uint32_t seed, std::size_t size) { return randomBytes(seed, size, 4); }},
    {"text", [](std::uint32_t seed, std::size_t size) { return textBytes(seed, size); }},
    {"zeros", [](std::uint32_t, std::size_t size) { return Bytes(size, 0); }},
};

} // namespace

TEST(RoundTrip, StreamEqualsReferenceForSmallInputs)
{
    const int skips[] = {2, 3, 8, 254, 255, 300};
    tq::TCompress c;
    tq::TCompress d;
    for (const Kind& kind : kinds) {
        for (std::size_t size = 0; size < 5000; size = size < 40 ? size + 1 : size * 2 + 1) {
            for (const int skip : skips) {
                const Bytes input = kind.make(static_cast<std::uint32_t>(size * 31 + skip), size);
                const std::string what = std::string(kind.name) + " size " + std::to_string(size) + " skip " +
                                         std::to_string(skip);
                const Bytes stream = compressStream(c, input, skip);
                ASSERT_EQ(stream, refStream(input, skip)) << what;
                ASSERT_EQ(decompressStream(d, stream), padded(input)) << what;
            }
        }
    }
}

TEST(RoundTrip, LargerInputsComeBackExactly)
{
    tq::TCompress c;
    tq::TCompress d;
    for (const Kind& kind : kinds) {
        for (const std::size_t size : {65535u, 65536u, 300001u, 1024000u, 1024001u, 2500000u}) {
            const Bytes input = kind.make(static_cast<std::uint32_t>(size), size);
            const Bytes stream = compressStream(c, input, 2);
            const std::string what = std::string(kind.name) + " size " + std::to_string(size);
            ASSERT_EQ(decompressStream(d, stream), padded(input)) << what;
            c.Bytes.ReleaseSpare();
            d.Bytes.ReleaseSpare();
        }
    }
}

TEST(RoundTrip, TextCompressesBelowItsSizeAndRandomDataDoesNot)
{
    tq::TCompress c;
    const Bytes text = textBytes(1, 200000);
    const Bytes stream = compressStream(c, text, 2);
    EXPECT_LT(stream.size(), text.size());
    EXPECT_GT(c.Ratio, 0);
    EXPECT_EQ(c.Ratio, tq::compress_detail::ratioOf(static_cast<std::int64_t>(stream.size()) - 506,
                                                    static_cast<std::int64_t>(text.size())));

    const Bytes noise = randomBytes(1, 200000, 256);
    compressStream(c, noise, 2);
    EXPECT_LT(c.Ratio, 0);
}

TEST(RoundTrip, AppendTextAndGetTextCarryAll256Codes)
{
    std::string text;
    for (int code = 0; code < 256; ++code) {
        text.push_back(static_cast<char>(code));
    }
    text += text; // 512 bytes, every code twice
    tq::TCompress c;
    c.Reset();
    c.Bytes.AppendText(text.substr(0, 100));
    c.Bytes.AppendText(text.substr(100));
    EXPECT_EQ(c.Bytes.DataLength, 512);
    c.Bytes.TimeLimitOn = false;
    c.Bytes.BuildTable(2);
    c.Bytes.SortTable();
    c.CompressData();
    c.Bytes.PrependTable();
    const Bytes stream = dataOf(c);

    tq::TCompress d;
    decompressStream(d, stream);
    EXPECT_EQ(d.Bytes.GetText(), text);
}

TEST(RoundTrip, ShiftedTableRestoredWithUnshiftDecodes)
{
    const Bytes input = textBytes(8, 30000);
    tq::TCompress c;
    Bytes stream = compressStream(c, input, 4);
    // Store the table shifted, as an archive does, and undo it before decoding.
    c.Bytes.ShiftTable(17, 200);
    std::copy(c.Bytes.PairTable.begin(), c.Bytes.PairTable.begin() + 506, stream.begin());

    tq::TCompress d;
    d.Reset();
    setData(d, stream);
    d.Bytes.SplitTable();
    d.Bytes.UnshiftTable(17, 200);
    d.DecompressData();
    EXPECT_EQ(dataOf(d), input);
}

TEST(RoundTrip, CodingIgnoresAbortAndCancel)
{
    const Bytes input = textBytes(2, 20000);
    tq::TCompress c;
    c.Reset();
    setData(c, input);
    c.Bytes.TimeLimitOn = false;
    c.Bytes.BuildTable(2);
    c.Bytes.SortTable();
    c.Bytes.Abort = true;
    c.Cancel = true;
    c.CompressData();
    c.Bytes.PrependTable();
    EXPECT_EQ(dataOf(c), refStream(input, 2));
}

TEST(RoundTrip, PassesLetTheHostRunDuringLongWork)
{
    const Bytes input = textBytes(4, 10000);
    tq::TCompress c;
    int calls = 0;
    c.Yield.set([](void* p) { ++*static_cast<int*>(p); }, &calls, 1);
    c.Reset();
    setData(c, input);
    c.Bytes.BuildTable(2);
    EXPECT_GE(calls, 4999); // one unit per sampled pair
    calls = 0;
    c.CompressData();
    EXPECT_GE(calls, 5000); // one unit per coded pair
    calls = 0;
    const std::int32_t size = c.DecodedSize();
    EXPECT_EQ(size, 10000);
    EXPECT_GT(calls, 0);
    calls = 0;
    c.DecompressData();
    EXPECT_GE(calls, 5000);
}

TEST(RoundTrip, SixtyFourMegabytesWork)
{
    // Eight symbols (64 pairs, all fit the table), large enough to need many growths.
    const std::size_t size = 64u * 1024u * 1024u + 3u;
    Bytes input(size);
    std::uint32_t state = 12345;
    for (std::size_t k = 0; k < size; ++k) {
        state = state * 1103515245u + 12345u;
        input[k] = static_cast<std::uint8_t>('a' + ((state >> 16) & 7));
    }
    tq::TCompress c;
    compressStream(c, input, 2);
    EXPECT_EQ(c.Bytes.PairCount, 64);
    EXPECT_GT(c.Ratio, 45);
    // Decode in the same object, as a caller that reuses its compressor does.
    c.Bytes.SplitTable();
    c.DecompressData();
    ASSERT_EQ(c.Bytes.DataLength, static_cast<std::int32_t>(size + 1));
    EXPECT_TRUE(std::equal(input.begin(), input.end(), c.Bytes.Data.begin()));
    EXPECT_EQ(c.Bytes.Data[size], 0);
    c.Reset();
    EXPECT_EQ(c.Bytes.Capacity(), c.Bytes.BaseCapacity());
}
