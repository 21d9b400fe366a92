// Round trips of the line cipher: every code under every key set of the key
// fields (one pass), the cipher alphabet, the mended groups, decryption against
// a literal reference, and random key sets over several passes.
#include "crypto/linecipher.h"
#include "tests/crypto/cipher_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tq {
namespace {

using test::allCodes;
using test::byteAt;
using test::plainFor;
using test::ScriptedNoise;

// A cipher code written for one of the three values (0..36 offset by -32).
bool isValueCode(unsigned c) { return c >= 222 || c <= 4; }

// key 1 values: the key fields' range and the cipher's own edges.
std::vector<unsigned> keyOneValues()
{
    std::vector<unsigned> values;
    for (unsigned k = 1; k <= 128; ++k) {
        values.push_back(k);
    }
    values.insert(values.end(), {200u, 254u, 255u});
    return values;
}

// ---------------------------------------------------------------------------
// Exhaustive, one pass

class LineCipherExhaustive : public ::testing::TestWithParam<unsigned> {};

TEST_P(LineCipherExhaustive, EveryCodeRoundTripsInsideTheCipherAlphabet)
{
    const unsigned key2 = GetParam();
    long failures = 0;
    auto fail = [&failures](const CipherKeys& k, unsigned code, const char* what) {
        if (++failures <= 10) {
            ADD_FAILURE() << what << ": key 1 " << unsigned(k.key1) << ", key 2 " << unsigned(k.key2)
                          << ", key 3 " << unsigned(k.key3) << ", code " << code;
        }
    };
    for (unsigned key1 : keyOneValues()) {
        const bool fieldKey1 = key1 >= 5 && key1 <= 127;
        // key 3 = 2 * shift covers every shift 0..127 (key 3 of 10..254 is 5..127).
        for (unsigned shift = 0; shift <= 127; ++shift) {
            const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2),
                                  static_cast<std::uint8_t>(2 * shift)};
            std::string groups; // all 256 groups, as CodeLine would write them
            groups.reserve(1024);
            for (unsigned code = 0; code < 256; ++code) {
                const std::uint32_t clock = code * 3907u; // walks through the ms parts
                const auto g = EncodeCode(static_cast<std::uint8_t>(code), keys, clock, code % 90,
                                          89 - code % 90);
                if (DecodeGroup(g[0], g[1], g[2], keys) != code) {
                    fail(keys, code, "round trip");
                }
                groups.append(reinterpret_cast<const char*>(g.data()), 4);
                const bool spaceGroup = ((code + shift) & 0xFF) == 32;
                if (spaceGroup) {
                    if (g[1] != 222 || g[2] != 222 || g[0] < 68 || g[0] > 157 || g[3] < 68 || g[3] > 157) {
                        fail(keys, code, "space group");
                    }
                    continue;
                }
                // The value codes never hold the code of the value 0 (224); the
                // pair 222, 222 belongs to the space group alone.
                if (!isValueCode(g[0]) || !isValueCode(g[1]) || !isValueCode(g[2]) || g[0] == 224 ||
                    g[1] == 224 || g[2] == 224 || (g[1] == 222 && g[2] == 222)) {
                    fail(keys, code, "value codes");
                }
                if (g[3] < 65 || g[3] > 164) {
                    fail(keys, code, "clock code");
                }
                // With the key fields' values, only the second code can fall in
                // 0..4, and only with key 2 = 7 and key 1 of 33 or more.
                if (fieldKey1 && (g[0] <= 4 || g[2] <= 4 || (g[1] <= 4 && !(key2 == 7 && key1 >= 33)))) {
                    fail(keys, code, "low codes");
                }
            }
            if (!IsCipherText(groups)) {
                fail(keys, 0, "not recognised (some code)");
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(KeyTwo, LineCipherExhaustive, ::testing::Range(7u, 32u));

TEST(LineCipherRoundTrip, KeyTwoOutsideTheFieldsStillRoundTrips)
{
    // Every key 2 from 2 to 254 keeps the values below 254, so decryption
    // restores them; only the alphabet (no codes 5..64) needs 7..37.
    for (unsigned key2 = 2; key2 <= 254; ++key2) {
        for (unsigned key1 : {1u, 2u, 5u, 14u, 33u, 127u, 255u}) {
            for (unsigned key3 : {0u, 11u, 92u, 255u}) {
                const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2),
                                      static_cast<std::uint8_t>(key3)};
                for (unsigned code = 0; code < 256; ++code) {
                    const auto g = EncodeCode(static_cast<std::uint8_t>(code), keys, 0, 0, 0);
                    ASSERT_EQ(DecodeGroup(g[0], g[1], g[2], keys), code)
                        << "key 1 " << key1 << ", key 2 " << key2 << ", key 3 " << key3;
                }
            }
        }
    }
}

TEST(LineCipherRoundTrip, WholeTextPathMatchesTheGroupTransform)
{
    const std::string text = allCodes();
    for (unsigned key2 = 7; key2 <= 31; ++key2) {
        for (unsigned key1 : {5u, 14u, 33u, 127u}) {
            for (unsigned key3 : {10u, 91u, 254u}) {
                const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2),
                                      static_cast<std::uint8_t>(key3)};
                ScriptedNoise noise;
                noise.clock = 777;
                noise.nextFiller = 40;
                LineCipher cipher(nullptr, nullptr, &noise);
                const std::string out = cipher.CodeLine(text, keys);
                ASSERT_EQ(out.size(), 1024u);
                for (unsigned code = 0; code < 256; ++code) {
                    const auto g = EncodeCode(static_cast<std::uint8_t>(code), keys, 777, 40, 41);
                    const std::string group(reinterpret_cast<const char*>(g.data()), 4);
                    ASSERT_EQ(out.substr(code * 4, 4), group) << "code " << code;
                }
                EXPECT_EQ(cipher.DeCodeLine(out, keys), text);
                EXPECT_TRUE(IsCipherText(out));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The two groups the cipher's first version lost

TEST(LineCipherMend, ShiftedThirteenIsDividedLikeAnyOtherCode)
{
    for (unsigned key2 = 7; key2 <= 31; ++key2) {
        for (unsigned key1 : {5u, 13u, 100u}) {
            for (unsigned key3 = 10; key3 <= 254; key3 += 2) {
                const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2),
                                      static_cast<std::uint8_t>(key3)};
                const std::uint8_t code = plainFor(13, keys);
                const auto g = EncodeCode(code, keys, 500, 0, 0);
                // Not the first version's line-break group 237, 222, 222, 222.
                EXPECT_FALSE(g[0] == 237 && g[1] == 222 && g[2] == 222);
                EXPECT_NE(g[3], 222);
                EXPECT_EQ(DecodeGroup(g[0], g[1], g[2], keys), code);
            }
        }
    }
}

TEST(LineCipherMend, DoubleThirteenGroupNoLongerReadsAsSpace)
{
    int cases = 0;
    for (unsigned key2 = 14; key2 <= 18; ++key2) {
        for (unsigned key1 = 14; key1 <= 127; ++key1) {
            const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2), 37};
            const unsigned s = 13 * key2 + 13; // quotient 13, remainder 13
            const std::uint8_t code = plainFor(s, keys);
            const auto g = EncodeCode(code, keys, 0, 0, 0);
            // v = 12 and w = 13 + key 2 instead of 13, 13.
            EXPECT_EQ(g[1], static_cast<std::uint8_t>(12 - 32));
            EXPECT_EQ(g[2], static_cast<std::uint8_t>(13 + key2 - 32));
            EXPECT_EQ(DecodeGroup(g[0], g[1], g[2], keys), code);
            ++cases;
        }
    }
    EXPECT_EQ(cases, 5 * 114);
}

TEST(LineCipherMend, FirstVersionCipherTextDecryptsAsBefore)
{
    // Groups only the first version wrote decrypt as they always did: to the
    // code whose shifted value is 32.
    for (unsigned key3 = 10; key3 <= 254; key3 += 7) {
        const CipherKeys keys{20, 15, static_cast<std::uint8_t>(key3)};
        const std::uint8_t spaceCode = plainFor(32, keys);
        EXPECT_EQ(DecodeGroup(237, 222, 222, keys), spaceCode);
        EXPECT_EQ(DecodeGroup(223, 222, 222, keys), spaceCode);
        LineCipher cipher;
        EXPECT_EQ(cipher.DeCodeLine("\xED\xDE\xDE\xDE\xDF\xDE\xDE\x80", keys),
                  std::string(2, static_cast<char>(spaceCode)));
    }
}

// The decryption steps written out literally, one code at a time, 1-based as
// the algorithm is usually stated.
std::string referenceDecode(const std::string& in, unsigned key1, unsigned key2, unsigned key3)
{
    const unsigned shift = key3 / 2;
    const std::size_t n = in.size();
    std::string out;
    for (std::size_t p = 1; n >= 1 && p <= n - 1; p += 4) {
        unsigned x = (byteAt(in, p - 1) + 32) % 256;
        unsigned y = (byteAt(in, p) + 32) % 256;
        unsigned z = p + 1 <= n - 1 ? (byteAt(in, p + 1) + 32) % 256 : 32;
        unsigned r;
        if (y == 254 && z == 254) {
            r = 32;
        } else {
            for (unsigned* value : {&x, &y, &z}) {
                if (*value == 254) {
                    *value = 13;
                } else if (*value == 255) {
                    *value = 0;
                }
            }
            r = (x * key1 * key2 + y * key2 + z) % 256;
        }
        out += static_cast<char>((r + 256 - shift) % 256);
    }
    return out;
}

TEST(LineCipherRoundTrip, DecryptionMatchesTheLiteralStepsOnArbitraryBytes)
{
    std::mt19937 rng(20240601);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> key(1, 255);
    std::uniform_int_distribution<int> length(0, 41);
    LineCipher cipher;
    for (int round = 0; round < 3000; ++round) {
        std::string in(static_cast<std::size_t>(length(rng)), '\0');
        for (char& c : in) {
            // Mostly cipher-like codes, so the 254/255 and space-group paths are taken.
            const int b = byte(rng);
            c = static_cast<char>(b < 128 ? 222 + b % 34 : b);
        }
        const unsigned k1 = static_cast<unsigned>(key(rng));
        const unsigned k2 = static_cast<unsigned>(key(rng));
        const unsigned k3 = static_cast<unsigned>(byte(rng));
        const CipherKeys keys{static_cast<std::uint8_t>(k1), static_cast<std::uint8_t>(k2),
                              static_cast<std::uint8_t>(k3)};
        ASSERT_EQ(cipher.DeCodeLine(in, keys), referenceDecode(in, k1, k2, k3))
            << "length " << in.size() << ", keys " << k1 << ", " << k2 << ", " << k3;
    }
}

// ---------------------------------------------------------------------------
// Several passes

TEST(LineCipherRoundTrip, AbcWithKeysFiveSevenNinetyTwoSurvivesTwoPasses)
{
    const CipherKeys keys{5, 7, 92};
    LineCipher cipher;
    // The first pass writes the value 0 as the code 223, whose shifted value is
    // 13: the code the first version could not carry through a second pass.
    const std::string once = cipher.CodeLine("abc", keys);
    EXPECT_NE(once.find(static_cast<char>(plainFor(13, keys))), std::string::npos);
    const std::string twice = cipher.CodeLinePasses("abc", keys, 2);
    EXPECT_EQ(cipher.DeCodeLinePasses(twice, keys, 2), "abc");
}

TEST(LineCipherRoundTrip, RandomKeySetsSurviveTwoAndThreePasses)
{
    std::mt19937 rng(7031);
    std::uniform_int_distribution<int> key1(5, 127);
    std::uniform_int_distribution<int> key2(7, 31);
    std::uniform_int_distribution<int> key3(10, 254);
    std::uniform_int_distribution<int> byte(0, 255);
    LineCipher cipher;
    for (int round = 0; round < 300; ++round) {
        const CipherKeys keys{static_cast<std::uint8_t>(key1(rng)), static_cast<std::uint8_t>(key2(rng)),
                              static_cast<std::uint8_t>(key3(rng))};
        std::string text(24, '\0');
        for (char& c : text) {
            c = static_cast<char>(byte(rng));
        }
        // The codes the first version lost, whenever this key set has them.
        text += static_cast<char>(plainFor(13, keys));
        text += static_cast<char>(plainFor(13 * keys.key2 + 13, keys));
        for (int passes : {2, 3}) {
            const std::string out = cipher.CodeLinePasses(text, keys, passes);
            ASSERT_TRUE(IsCipherText(out));
            ASSERT_EQ(cipher.DeCodeLinePasses(out, keys, passes), text)
                << "keys " << unsigned(keys.key1) << ", " << unsigned(keys.key2) << ", "
                << unsigned(keys.key3) << ", " << passes << " passes";
        }
    }
}

} // namespace
} // namespace tq
