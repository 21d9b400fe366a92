// Table building (sampling steps, count cap, order), the exchange sort against
// the plain procedure, and the pair index against a linear search.
#include "tests/compress/helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <random>
#include <tuple>

using namespace tqtest;

namespace {

// Input whose pair at every even position p is the 16-bit number p / 2, so a
// sampled pair tells the position it was taken from.
Bytes numberedPairs(int pairs)
{
    Bytes out;
    for (int k = 0; k < pairs; ++k) {
        out.push_back(static_cast<std::uint8_t>(k >> 8));
        out.push_back(static_cast<std::uint8_t>(k & 0xFF));
    }
    return out;
}

std::vector<int> sampledPositions(const tq::TDataBytes& b)
{
    std::vector<int> positions;
    for (int s = 0; s < b.PairCount; ++s) {
        positions.push_back(2 * ((b.PairTable[2 * s] << 8) | b.PairTable[2 * s + 1]));
    }
    return positions;
}

void loadTable(tq::TDataBytes& b, const RefTable& t)
{
    std::copy(t.pairs.begin(), t.pairs.end(), b.PairTable.begin());
    std::copy(t.counts.begin(), t.counts.end(), b.PairCounts.begin());
    b.PairCount = t.pairCount;
    b.PairTableLength = 2 * t.pairCount;
    b.TableChanged();
}

// A table as a sort finds it: `pairCount` distinct pairs with random counts in
// 0..maxCount; slots beyond the pairs within 0..252 hold arbitrary leftovers.
RefTable randomTable(std::mt19937& random, int pairCount, int maxCount)
{
    RefTable t;
    std::vector<int> keys(65536);
    for (int k = 0; k < 65536; ++k) {
        keys[k] = k;
    }
    std::shuffle(keys.begin(), keys.end(), random);
    std::uniform_int_distribution<int> count(0, maxCount);
    const int filled = std::max(pairCount, 253);
    for (int s = 0; s < filled; ++s) {
        t.pairs[2 * s] = static_cast<std::uint8_t>(keys[s] >> 8);
        t.pairs[2 * s + 1] = static_cast<std::uint8_t>(keys[s] & 0xFF);
        t.counts[s] = count(random);
    }
    t.pairCount = pairCount;
    return t;
}

void expectSameSlots(const tq::TDataBytes& b, const RefTable& t, int slots, const std::string& what)
{
    for (int s = 0; s < slots; ++s) {
        ASSERT_EQ(b.PairTable[2 * s], t.pairs[2 * s]) << what << " slot " << s;
        ASSERT_EQ(b.PairTable[2 * s + 1], t.pairs[2 * s + 1]) << what << " slot " << s;
        ASSERT_EQ(b.PairCounts[s], t.counts[s]) << what << " slot " << s;
    }
}

} // namespace

TEST(BuildTable, StepIsSkipRoundedUpToEvenModulo256)
{
    // skip -> sampling step; a rounded value that is a multiple of 256 acts as 2.
    const std::pair<int, int> cases[] = {{2, 2},     {3, 4},   {1, 2},     {9, 10},  {253, 254}, {254, 254},
                                         {255, 2},   {256, 2}, {257, 2},   {258, 2}, {259, 4},   {300, 44},
                                         {511, 2},   {512, 2}, {32000, 2}, {0, 2}};
    const Bytes input = numberedPairs(3000);
    for (const auto& [skip, step] : cases) {
        tq::TDataBytes b;
        b.SetData(input.data(), input.size());
        b.BuildTable(skip);
        std::vector<int> expected;
        for (int p = 0; p + step < static_cast<int>(input.size()); p += step) {
            expected.push_back(p);
        }
        EXPECT_EQ(sampledPositions(b), expected) << "skip " << skip;
        EXPECT_EQ(b.PairTableLength, 2 * b.PairCount);
    }
}

TEST(BuildTable, LastStepOfTheInputIsNeverSampled)
{
    tq::TDataBytes b;
    // Input sizes 0..5 sample the positions p with p + 2 < size.
    const int expectedPairs[] = {0, 0, 0, 1, 1, 2};
    const Bytes input = numberedPairs(3);
    for (int size = 0; size <= 5; ++size) {
        b.SetData(input.data(), static_cast<std::size_t>(size));
        b.BuildTable(2);
        EXPECT_EQ(b.PairCount, expectedPairs[size]) << size;
    }
    const Bytes twenty = numberedPairs(10);
    b.SetData(twenty.data(), twenty.size());
    b.BuildTable(2);
    EXPECT_EQ(sampledPositions(b).back(), 16);
}

TEST(BuildTable, CountStopsAt32768)
{
    tq::TDataBytes b;
    for (const int samples : {32767, 32768, 32769, 40000}) {
        Bytes input(2 * static_cast<std::size_t>(samples) + 2, 'a');
        input[3] = 'b'; // one other pair, seen once
        b.SetData(input.data(), input.size());
        b.BuildTable(2);
        ASSERT_EQ(b.PairCount, 2);
        EXPECT_EQ(b.PairCounts[0], std::min(samples - 1, 32768)) << samples;
        EXPECT_EQ(b.PairCounts[1], 1);
    }
}

TEST(BuildTable, MatchesLinearSearchOnRandomInputs)
{
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
        const int alphabet = seed % 4 == 0 ? 256 : static_cast<int>(2 + seed * 3);
        const Bytes input = randomBytes(seed, 200 + seed * 97, alphabet);
        const int skip = static_cast<int>(seed % 9) + 2;
        tq::TDataBytes b;
        b.SetData(input.data(), input.size());
        b.BuildTable(skip);
        const RefTable t = refBuild(input, skip);
        ASSERT_EQ(b.PairCount, t.pairCount) << seed;
        expectSameSlots(b, t, std::max(t.pairCount, 253), "seed " + std::to_string(seed));
    }
}

TEST(BuildTable, ClearsTheCodeTableOfAPreviousRun)
{
    tq::TDataBytes b;
    const Bytes first = randomBytes(5, 4000, 256);
    b.SetData(first.data(), first.size());
    b.BuildTable(2);
    ASSERT_GT(b.PairCount, 253);
    const Bytes second = bytesOf("xyxyxy");
    b.SetData(second.data(), second.size());
    b.BuildTable(2);
    EXPECT_EQ(b.PairCount, 1);
    for (int s = 1; s < 253; ++s) {
        ASSERT_EQ(b.PairTable[2 * s], 0);
        ASSERT_EQ(b.PairTable[2 * s + 1], 0);
        ASSERT_EQ(b.PairCounts[s], 0);
    }
}

TEST(BuildTable, AbortFromTheHostEndsSamplingEarly)
{
    const Bytes input = randomBytes(17, 100000, 256);
    tq::TCompress c;
    c.Reset();
    setData(c, input);
    struct Host {
        tq::TCompress* c;
        int calls;
    } host{&c, 0};
    c.Yield.set(
        [](void* p) {
            auto* h = static_cast<Host*>(p);
            if (++h->calls == 100) {
                h->c->Bytes.Abort = true;
            }
        },
        &host, 1);
    c.Bytes.BuildTable(2);
    EXPECT_EQ(host.calls, 100);
    EXPECT_EQ(c.Bytes.PairCount, refBuild(Bytes(input.begin(), input.begin() + 202), 2).pairCount);

    // The partial table still gives an exact round trip; the sort stops at once.
    const Bytes before = tableOf(c);
    c.Bytes.SortTable();
    EXPECT_EQ(tableOf(c), before);
    c.CompressData();
    c.Bytes.PrependTable();
    const Bytes stream = dataOf(c);
    c.Yield.set(nullptr, nullptr);
    tq::TCompress d;
    EXPECT_EQ(decompressStream(d, stream), input);
}

TEST(SortTable, MatchesTheExchangeProcedureOnRandomTables)
{
    std::mt19937 random(20240611);
    // (pairs, largest count): fewer, exactly and more than 253 pairs; few distinct
    // counts (many ties) and many.
    const std::pair<int, int> shapes[] = {{0, 5},    {1, 3},     {2, 1},     {17, 2},     {100, 40},  {252, 3},
                                          {253, 0},  {253, 4},   {253, 1000}, {254, 2},   {260, 1},   {300, 3},
                                          {500, 10}, {1000, 2},  {1000, 32768}, {4000, 5}, {9000, 60}, {65536, 3}};
    for (const auto& [pairs, maxCount] : shapes) {
        for (int round = 0; round < 3; ++round) {
            RefTable t = randomTable(random, pairs, maxCount);
            tq::TDataBytes b;
            b.TimeLimitOn = false;
            loadTable(b, t);
            b.SortTable();
            refSort(t);
            expectSameSlots(b, t, std::max(pairs, 253),
                            "pairs " + std::to_string(pairs) + " max " + std::to_string(maxCount));
            if (pairs >= 253) {
                for (int s = 1; s < 253; ++s) {
                    ASSERT_GE(b.PairCounts[s - 1], b.PairCounts[s]);
                }
            }
        }
    }
}

TEST(SortTable, AHostCalledDuringTheSortLeavesTheSameLayout)
{
    // The program's hook calls the host every few hundred steps and sorts with a
    // time limit of 255 ms; neither may change the layout of the exchange procedure.
    std::mt19937 random(31);
    const std::pair<int, int> shapes[] = {{120, 2}, {253, 1}, {700, 3}, {2500, 1}, {6000, 300}};
    for (const std::uint32_t interval : {1u, 5u, 253u, 256u, 100000u}) {
        for (const auto& [pairs, maxCount] : shapes) {
            RefTable t = randomTable(random, pairs, maxCount);
            tq::TDataBytes b;
            loadTable(b, t);
            b.TimeLimitOn = true;
            b.TimeLimitMs = 255;
            std::uint64_t calls = 0;
            b.Yield.set([](void* p) { ++*static_cast<std::uint64_t*>(p); }, &calls, interval);
            b.SortTable();
            refSort(t);
            const std::string what = "interval " + std::to_string(interval) + " pairs " + std::to_string(pairs);
            expectSameSlots(b, t, std::max(pairs, 253), what);
            // At least one call per `interval` steps of the 253 full scans of the table.
            EXPECT_GE(calls, std::min(pairs, 253) * 253u / interval) << what;
        }
    }
}

TEST(SortTable, MatchesTheProcedureOnAscendingAndDescendingCounts)
{
    // Ascending counts make every later pair enter the table at the top.
    for (const bool ascending : {true, false}) {
        RefTable t;
        const int pairs = 3000;
        for (int s = 0; s < pairs; ++s) {
            t.pairs[2 * s] = static_cast<std::uint8_t>(s >> 8);
            t.pairs[2 * s + 1] = static_cast<std::uint8_t>(s);
            t.counts[s] = ascending ? s / 3 : (pairs - s) / 3;
        }
        t.pairCount = pairs;
        tq::TDataBytes b;
        b.TimeLimitOn = false;
        loadTable(b, t);
        b.SortTable();
        refSort(t);
        expectSameSlots(b, t, pairs, ascending ? "ascending" : "descending");
    }
}

TEST(SortTable, ScanCutAfterItsFirstStepMatchesTheProcedure)
{
    // A time limit of 0 ms is always reached, so every scan ends after the step l = 0.
    std::mt19937 random(7);
    for (const int pairs : {10, 253, 400, 2000}) {
        RefTable t = randomTable(random, pairs, 4);
        tq::TDataBytes b;
        b.TimeLimitOn = true;
        loadTable(b, t);
        b.TimeLimitMs = 0;
        b.SortTable();
        refSort(t, 1);
        expectSameSlots(b, t, std::max(pairs, 253), "pairs " + std::to_string(pairs));
    }
}

TEST(SortTable, ScansCutOnlyBeyondTheTableMatchTheProcedure)
{
    // The first 253 scans run in full (64,009 steps without a time limit); then the
    // host switches on a limit of 0 ms, so every later scan ends after one step.
    std::mt19937 random(11);
    for (const int maxCount : {2, 50}) {
        RefTable t = randomTable(random, 3000, maxCount);
        tq::TDataBytes b;
        b.TimeLimitOn = false;
        loadTable(b, t);
        struct Host {
            tq::TDataBytes* b;
            int ticks;
        } host{&b, 0};
        b.Yield.set(
            [](void* p) {
                auto* h = static_cast<Host*>(p);
                if (++h->ticks == 253 * 253) {
                    h->b->TimeLimitOn = true;
                    h->b->TimeLimitMs = 0;
                }
            },
            &host, 1);
        b.SortTable();
        refSort(t, 1, 253);
        expectSameSlots(b, t, 3000, "max " + std::to_string(maxCount));
    }
}

TEST(SortTable, AbortLeavesAPermutationOfTheSlots)
{
    std::mt19937 random(99);
    for (const int stopAfter : {1, 50, 253, 5000, 64000}) {
        RefTable t = randomTable(random, 1500, 9);
        tq::TDataBytes b;
        b.TimeLimitOn = false;
        loadTable(b, t);
        struct Host {
            tq::TDataBytes* b;
            int left;
        } host{&b, stopAfter};
        b.Yield.set(
            [](void* p) {
                auto* h = static_cast<Host*>(p);
                if (--h->left == 0) {
                    h->b->Abort = true;
                }
            },
            &host, 1);
        b.SortTable();
        std::multiset<std::tuple<int, int, int>> before;
        std::multiset<std::tuple<int, int, int>> after;
        for (int s = 0; s < 1500; ++s) {
            before.insert({t.pairs[2 * s], t.pairs[2 * s + 1], t.counts[s]});
            after.insert({b.PairTable[2 * s], b.PairTable[2 * s + 1], b.PairCounts[s]});
        }
        EXPECT_EQ(before, after) << stopAfter;
        EXPECT_LE(host.left, 0) << "the sort ran out before the stop at " << stopAfter;
    }
}

TEST(SortTable, NoStepFollowsAnAbortWhateverTheHookInterval)
{
    // Exchanges beyond the table are done in runs; a run must end before the host's
    // callback can set Abort, so that not a single step (tick) comes after it.
    std::mt19937 random(2024);
    for (const std::uint32_t interval : {1u, 7u, 64u}) {
        for (const int abortCall : {5, 300, 9200, 9300, 12000}) {
            const RefTable t = randomTable(random, 2500, 3);
            tq::TDataBytes b;
            b.TimeLimitOn = false;
            loadTable(b, t);
            struct Host {
                tq::TDataBytes* b;
                int callsLeft;
                int callsAfterAbort;
            } host{&b, abortCall, 0};
            b.Yield.set(
                [](void* p) {
                    auto* h = static_cast<Host*>(p);
                    if (h->b->Abort) {
                        ++h->callsAfterAbort;
                    } else if (--h->callsLeft == 0) {
                        h->b->Abort = true;
                    }
                },
                &host, interval);
            b.SortTable();
            if (!b.Abort) {
                continue; // the sort ended before that call; nothing to check
            }
            // With interval 1 every tick calls the host: a tick after the abort
            // would show up here. With larger intervals the countdown tells it.
            EXPECT_EQ(host.callsAfterAbort, 0) << "interval " << interval << ", call " << abortCall;
            EXPECT_EQ(b.Yield.ticksUntilCall(), interval) << "interval " << interval << ", call " << abortCall;
        }
    }
}

TEST(SortTable, WithoutTimeLimitIsDeterministic)
{
    const Bytes input = textBytes(3, 50000);
    tq::TCompress a;
    tq::TCompress b;
    EXPECT_EQ(compressStream(a, input, 2), compressStream(b, input, 2));
    EXPECT_EQ(compressStream(a, input, 2), refStream(input, 2));
}

TEST(PairIndex, FindPairMatchesLinearSearchAfterShiftAndUnshift)
{
    std::mt19937 random(5);
    for (int round = 0; round < 4; ++round) {
        tq::TDataBytes b;
        // Mostly 0x00 0x00 slots (as an unfilled table) with some repeated pairs.
        Bytes table(506, 0);
        std::uniform_int_distribution<int> slot(0, 252);
        std::uniform_int_distribution<int> byte(0, 255);
        for (int k = 0; k < 60 + round * 60; ++k) {
            const int s = slot(random);
            table[2 * s] = static_cast<std::uint8_t>(byte(random) % (round + 2));
            table[2 * s + 1] = static_cast<std::uint8_t>(byte(random));
        }
        std::copy(table.begin(), table.end(), b.PairTable.begin());
        b.TableChanged();
        const auto a = static_cast<std::uint8_t>(byte(random));
        const auto c = static_cast<std::uint8_t>(byte(random));
        ASSERT_EQ(b.FindPair(0, 0), refFindPair(table, 0, 0));
        b.ShiftTable(a, c);
        const Bytes shifted(b.PairTable.begin(), b.PairTable.begin() + 506);
        for (int k = 0; k < 506; ++k) {
            ASSERT_EQ(shifted[k], static_cast<std::uint8_t>(table[k] + (k % 2 == 0 ? a : c)));
        }
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                const auto f = static_cast<std::uint8_t>(first);
                const auto s = static_cast<std::uint8_t>(second);
                ASSERT_EQ(b.FindPair(f, s), refFindPair(shifted, f, s)) << first << "," << second;
            }
        }
        b.UnshiftTable(a, c);
        EXPECT_EQ(Bytes(b.PairTable.begin(), b.PairTable.begin() + 506), table);
        for (int k = 0; k < 506; k += 2) {
            ASSERT_EQ(b.FindPair(table[k], table[k + 1]), refFindPair(table, table[k], table[k + 1]));
        }
    }
}

TEST(PairIndex, FindPairFollowsSplitTableAndPairAtCoversOnlyTableCodes)
{
    tq::TDataBytes b;
    Bytes stream(506, 0);
    for (int s = 0; s < 253; ++s) {
        stream[2 * s] = static_cast<std::uint8_t>(s);
        stream[2 * s + 1] = static_cast<std::uint8_t>(255 - s);
    }
    ASSERT_EQ(b.FindPair(7, 248), 255);
    b.SetData(stream.data(), stream.size());
    b.SplitTable();
    EXPECT_EQ(b.FindPair(7, 248), 7);
    EXPECT_EQ(b.FindPair(253, 2), 255); // pairs beyond slot 252 are not in the table
    std::uint8_t first = 0;
    std::uint8_t second = 0;
    for (int code = 0; code < 256; ++code) {
        const bool found = b.PairAt(static_cast<std::uint8_t>(code), first, second);
        EXPECT_EQ(found, code <= 252) << code;
        if (found) {
            EXPECT_EQ(first, code);
            EXPECT_EQ(second, 255 - code);
        }
    }
}
