// Buffers, capacities and the state that Reset does and does not change.
#include "tests/compress/helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <vector>

using namespace tqtest;

TEST(Buffers, CreatedZeroFilledAtBaseCapacity)
{
    tq::TDataBytes b;
    EXPECT_EQ(b.BaseCapacity(), 1024000);
    EXPECT_EQ(b.ExtraCapacity(), 0);
    EXPECT_EQ(b.Capacity(), 1024000);
    ASSERT_EQ(b.Scratch.size(), b.Data.size());
    EXPECT_TRUE(std::all_of(b.Data.begin(), b.Data.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(b.Scratch.begin(), b.Scratch.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_GE(b.PairTable.size(), 2u * 65536u);
    EXPECT_GE(b.PairCounts.size(), 65536u);
    EXPECT_TRUE(std::all_of(b.PairTable.begin(), b.PairTable.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(b.PairCounts.begin(), b.PairCounts.end(), [](std::int32_t v) { return v == 0; }));
    EXPECT_TRUE(b.TimeLimitOn);
    EXPECT_FALSE(b.Abort);
    EXPECT_EQ(b.TimeLimitMs, 255);
    EXPECT_EQ(b.DataLength, 0);
}

TEST(Buffers, CreationHalvesTheCapacityWhileAllocationFails)
{
    std::vector<std::int32_t> tried;
    const std::int32_t chosen = tq::compress_detail::chooseCapacity(1024000, [&](std::int32_t capacity) {
        tried.push_back(capacity);
        if (capacity > 300000) {
            throw std::bad_alloc();
        }
    });
    EXPECT_EQ(chosen, 256000);
    EXPECT_EQ(tried, (std::vector<std::int32_t>{1024000, 512000, 256000}));

    // Errors other than a lack of memory end the creation.
    EXPECT_THROW(tq::compress_detail::chooseCapacity(
                     1024, [](std::int32_t) { throw std::runtime_error("device gone"); }),
                 std::runtime_error);
}

TEST(Buffers, GrowthKeepsContentAndReleaseSpareShrinksBack)
{
    tq::TDataBytes b;
    const Bytes first = randomBytes(1, 1000000, 256);
    const Bytes second = randomBytes(2, 900000, 256);
    b.AppendBytes(first.data(), first.size());
    EXPECT_EQ(b.ExtraCapacity(), 0);
    b.AppendBytes(second.data(), second.size());
    EXPECT_GT(b.ExtraCapacity(), 0);
    EXPECT_EQ(b.Capacity(), b.BaseCapacity() + b.ExtraCapacity());
    EXPECT_EQ(b.Scratch.size(), b.Data.size());
    ASSERT_EQ(b.DataLength, 1900000);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), b.Data.begin()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), b.Data.begin() + 1000000));

    b.Reset();
    EXPECT_EQ(b.ExtraCapacity(), 0);
    EXPECT_EQ(b.Capacity(), 1024000);
    EXPECT_EQ(b.Scratch.size(), b.Data.size());
}

TEST(Buffers, GrowAddsTwiceItsArgumentToEachBuffer)
{
    tq::TDataBytes b;
    b.AppendText("keep");
    b.Grow(1000);
    EXPECT_EQ(b.ExtraCapacity(), 2000);
    EXPECT_EQ(b.Capacity(), 1026000);
    EXPECT_EQ(b.Scratch.size(), b.Data.size());
    EXPECT_EQ(b.GetText(), "keep");
    b.ReleaseSpare();
    EXPECT_EQ(b.ExtraCapacity(), 0);
    EXPECT_EQ(b.GetText(), "keep");
}

TEST(Buffers, ReleaseSpareNeverCutsOffBytesInUse)
{
    tq::TCompress c;
    const Bytes input = textBytes(3, 3000000);
    setData(c, input);
    c.Bytes.ReleaseSpare();
    EXPECT_EQ(c.Bytes.GetText(), std::string(input.begin(), input.end()));
    EXPECT_GE(c.Bytes.Capacity(), 3000000);
    c.Reset();
    EXPECT_EQ(c.Bytes.Capacity(), 1024000);
}

TEST(Buffers, OutOfMemoryIsReportedWithTheSize)
{
    tq::TDataBytes b;
    try {
        b.EnsureCapacity(std::int64_t{3} << 31);
        FAIL() << "no error";
    } catch (const tq::CompressMemoryError& e) {
        EXPECT_EQ(e.requestedBytes(), std::int64_t{3} << 31);
        EXPECT_EQ(std::string(e.what()),
                  "Out of memory: the compressor's buffers could not grow to 6442450944 bytes");
    }
    // The buffers are still usable afterwards.
    b.AppendText("ok");
    EXPECT_EQ(b.GetText(), "ok");
}

TEST(Buffers, RemoveFrontClosesTheGap)
{
    tq::TDataBytes b;
    b.AppendText("0123456789");
    b.RemoveFront(2, 3);
    EXPECT_EQ(b.GetText(), "0156789");
    b.RemoveFront(0, 2);
    EXPECT_EQ(b.GetText(), "56789");
    b.RemoveFront(3, 100); // a count beyond the end removes to the end
    EXPECT_EQ(b.GetText(), "567");
    b.RemoveFront(5, 1); // nothing beyond the end
    EXPECT_EQ(b.GetText(), "567");
}

TEST(ResetState, ResetClearsFlagsAndLengthsButKeepsCompressedNameAndTimeLimitOn)
{
    tq::TCompress c;
    EXPECT_EQ(c.Name, " ");
    EXPECT_FALSE(c.Compressed);
    EXPECT_FALSE(c.Cancel);

    compressStream(c, textBytes(1, 5000), 2);
    ASSERT_TRUE(c.Compressed);
    c.Name = "memo.txt";
    c.Cancel = true;
    c.Bytes.Abort = true;
    c.Bytes.TimeLimitOn = false;
    c.Bytes.TimeLimitMs = 20;

    c.Reset();
    EXPECT_TRUE(c.Compressed);
    EXPECT_EQ(c.Name, "memo.txt");
    EXPECT_FALSE(c.Bytes.TimeLimitOn);
    EXPECT_EQ(c.Bytes.TimeLimitMs, 255);
    EXPECT_FALSE(c.Cancel);
    EXPECT_FALSE(c.Bytes.Abort);
    EXPECT_EQ(c.Bytes.DataLength, 0);
    EXPECT_EQ(c.Bytes.PairCount, 0);
    EXPECT_EQ(c.Bytes.PairTableLength, 0);

    // Only a decompression clears Compressed.
    decompressStream(c, Bytes(506, 0));
    EXPECT_FALSE(c.Compressed);
}
