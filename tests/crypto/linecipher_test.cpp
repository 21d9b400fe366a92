// Behaviour of the line cipher on whole texts: group layout, noise codes, odd
// cipher lengths, key properties, abort, progress and the pass helpers.
#include "crypto/linecipher.h"
#include "tests/crypto/cipher_test_support.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

namespace tq {
namespace {

using test::allCodes;
using test::byteAt;
using test::plainFor;
using test::Probe;
using test::ScriptedNoise;

const CipherKeys kKeys{5, 7, 92}; // shift 46

// ---------------------------------------------------------------------------
// Group layout and noise

TEST(LineCipherGroups, ThreeCharactersGiveTwelveCodesWithClockCodesLast)
{
    ScriptedNoise noise;
    noise.clock = 43200123; // 12:00:00.123, then .373 and .623
    noise.clockStep = 250;
    LineCipher cipher(nullptr, nullptr, &noise);

    const std::string out = cipher.CodeLine("abc", kKeys);
    ASSERT_EQ(out.size(), 12u);
    // 97 + ms / 10, written offset by -32.
    EXPECT_EQ(byteAt(out, 3), 97u + 12u - 32u);
    EXPECT_EQ(byteAt(out, 7), 97u + 37u - 32u);
    EXPECT_EQ(byteAt(out, 11), 97u + 62u - 32u);
    // 'a' shifts to 143 = (4 * 5 + 0) * 7 + 3: values 4, 0 (written 255), 3.
    EXPECT_EQ(byteAt(out, 0), 228u);
    EXPECT_EQ(byteAt(out, 1), 223u);
    EXPECT_EQ(byteAt(out, 2), 227u);

    EXPECT_EQ(cipher.DeCodeLine(out, kKeys), "abc");
}

TEST(LineCipherGroups, DifferentClocksChangeOnlyTheFourthCodes)
{
    ScriptedNoise early;
    early.clock = 1000; // ms part 0
    ScriptedNoise late;
    late.clock = 1999; // ms part 999
    LineCipher first(nullptr, nullptr, &early);
    LineCipher second(nullptr, nullptr, &late);
    const std::string text = "Memo of 12 March";

    const std::string a = first.CodeLine(text, kKeys);
    const std::string b = second.CodeLine(text, kKeys);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) {
            EXPECT_EQ(byteAt(a, i), 65u) << i;  // 97 + 0, offset
            EXPECT_EQ(byteAt(b, i), 164u) << i; // 97 + 99, offset
        } else {
            EXPECT_EQ(a[i], b[i]) << i;
        }
    }
    EXPECT_EQ(first.DeCodeLine(a, kKeys), text);
    EXPECT_EQ(first.DeCodeLine(b, kKeys), text);
}

TEST(LineCipherGroups, SpaceGroupTakesFillersAfterReseedingFromTheClock)
{
    ScriptedNoise noise;
    noise.clock = 5000;
    noise.clockStep = 7;
    noise.nextFiller = 10;
    LineCipher cipher(nullptr, nullptr, &noise);
    const std::uint8_t spaceCode = plainFor(32, kKeys); // 242 for shift 46
    const std::string text{'x', static_cast<char>(spaceCode), static_cast<char>(spaceCode)};

    const std::string out = cipher.CodeLine(text, kKeys);
    ASSERT_EQ(out.size(), 12u);
    // The clock was read once for 'x', then once per space group as the seed.
    ASSERT_EQ(noise.seeds.size(), 2u);
    EXPECT_EQ(noise.seeds[0], 5007u);
    EXPECT_EQ(noise.seeds[1], 5014u);
    const std::string expected{char(100 + 10 - 32), char(222), char(222), char(100 + 11 - 32),
                               char(100 + 12 - 32), char(222), char(222), char(100 + 13 - 32)};
    EXPECT_EQ(out.substr(4), expected);
    EXPECT_EQ(cipher.DeCodeLine(out, kKeys), text);
}

TEST(LineCipherGroups, RealNoiseKeepsFillerAndClockRanges)
{
    LineCipher cipher;
    const std::uint8_t spaceCode = plainFor(32, kKeys);
    const std::string text(400, static_cast<char>(spaceCode));
    const std::string out = cipher.CodeLine(text, kKeys);
    bool fillersVary = false;
    for (std::size_t p = 0; p < out.size(); p += 4) {
        EXPECT_GE(byteAt(out, p), 68u);
        EXPECT_LE(byteAt(out, p), 157u);
        EXPECT_GE(byteAt(out, p + 3), 68u);
        EXPECT_LE(byteAt(out, p + 3), 157u);
        fillersVary = fillersVary || out[p] != out[0];
    }
    // Groups written within one millisecond must not all repeat the same filler.
    EXPECT_TRUE(fillersVary);

    const std::string plain = cipher.CodeLine("plain text, no space code", kKeys);
    for (std::size_t p = 3; p < plain.size(); p += 4) {
        EXPECT_GE(byteAt(plain, p), 65u);
        EXPECT_LE(byteAt(plain, p), 164u);
    }
}

TEST(LineCipherGroups, MultiLineTextBecomesOneLineAndComesBack)
{
    const std::string text = "First line\r\nSecond line\r\n\r\n\ttabbed\nlast\r";
    for (const CipherKeys keys : {kKeys, CipherKeys{127, 31, 254}, CipherKeys{33, 7, 10},
                                  CipherKeys{14, 14, 37}}) {
        LineCipher cipher;
        const std::string out = cipher.CodeLine(text, keys);
        ASSERT_EQ(out.size(), text.size() * 4);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const unsigned c = byteAt(out, i);
            EXPECT_FALSE(c >= 5 && c <= 64) << "code " << c << " at " << i;
        }
        EXPECT_EQ(cipher.DeCodeLine(out, keys), text);
    }
}

// ---------------------------------------------------------------------------
// Cipher text of odd lengths

TEST(LineCipherLengths, ShortLastGroups)
{
    const CipherKeys keys{5, 7, 11}; // shift 5
    LineCipher cipher;
    const std::string body = cipher.CodeLine("abc", keys);

    // 4m + 2: two codes, values 0 (written 223) and 1 (225), third value 32:
    // 0 * 35 + 1 * 7 + 32 = 39, minus the shift.
    EXPECT_EQ(cipher.DeCodeLine(body + "\xDF\xE1", keys), std::string("abc") + char(34));
    // 4m + 3: values 0, 1, 2 give 9, minus the shift.
    EXPECT_EQ(cipher.DeCodeLine(body + "\xDF\xE1\xE2", keys), std::string("abc") + char(4));
    // 4m + 1: the lone code is dropped.
    EXPECT_EQ(cipher.DeCodeLine(body + "\xE1", keys), "abc");
    // The smallest cases.
    EXPECT_EQ(cipher.DeCodeLine("\xE1", keys), "");
    EXPECT_EQ(cipher.DeCodeLine("\xDF\xE1", keys), std::string(1, char(34)));
}

TEST(LineCipherLengths, EmptyTextStaysEmptyAndDrawsTheBar)
{
    Probe probe;
    LineCipher cipher(&probe.hook, &probe.abortFlag);
    probe.cipher = &cipher;
    EXPECT_EQ(cipher.CodeLine("", kKeys), "");
    EXPECT_EQ(cipher.DeCodeLine("", kKeys), "");
    EXPECT_FALSE(cipher.Aborted());
    // Each call draws the empty bar once and removes it once.
    ASSERT_EQ(probe.events.size(), 4u);
    EXPECT_TRUE(probe.events[0].shown);
    EXPECT_EQ(probe.events[0].percent, 0.0);
    EXPECT_FALSE(probe.events[1].shown);
}

// ---------------------------------------------------------------------------
// Key properties

TEST(LineCipherKeys, KeyTwoSevenWithLargeKeyOneWritesCodeZero)
{
    for (unsigned key1 = 33; key1 <= 127; ++key1) {
        for (unsigned key3 : {10u, 101u, 254u}) {
            const CipherKeys keys{static_cast<std::uint8_t>(key1), 7, static_cast<std::uint8_t>(key3)};
            std::string text;
            for (unsigned s = 224; s <= 230; ++s) {
                text += static_cast<char>(plainFor(s, keys));
            }
            LineCipher cipher;
            const std::string out = cipher.CodeLine(text, keys);
            for (std::size_t p = 0; p < out.size(); p += 4) {
                EXPECT_EQ(byteAt(out, p + 1), 0u) << "key 1 " << key1 << ", group " << p / 4;
            }
            EXPECT_EQ(cipher.DeCodeLine(out, keys), text);
        }
    }
}

TEST(LineCipherKeys, KeyThreeActsThroughItsHalf)
{
    const std::string text = allCodes();
    for (unsigned key3 = 10; key3 <= 252; key3 += 2) {
        const CipherKeys even{19, 23, static_cast<std::uint8_t>(key3)};
        const CipherKeys odd{19, 23, static_cast<std::uint8_t>(key3 + 1)};
        ScriptedNoise n1;
        ScriptedNoise n2;
        LineCipher c1(nullptr, nullptr, &n1);
        LineCipher c2(nullptr, nullptr, &n2);
        const std::string a = c1.CodeLine(text, even);
        const std::string b = c2.CodeLine(text, odd);
        EXPECT_EQ(a, b) << "key 3 " << key3;
        EXPECT_EQ(c1.DeCodeLine(b, even), text);
        EXPECT_EQ(c2.DeCodeLine(a, odd), text);
    }
}

TEST(LineCipherKeys, KeyOneAboveItsBoundActsAsZeroQuotient)
{
    const std::string text = allCodes();
    for (unsigned key2 = 7; key2 <= 31; ++key2) {
        const unsigned bound = 255 / key2;
        for (unsigned key1 = bound + 1; key1 <= 255; key1 += 7) {
            const CipherKeys keys{static_cast<std::uint8_t>(key1), static_cast<std::uint8_t>(key2), 60};
            LineCipher cipher;
            const std::string out = cipher.CodeLine(text, keys);
            const std::uint8_t spaceCode = plainFor(32, keys);
            for (std::size_t p = 0; p < out.size(); p += 4) {
                if (p / 4 != spaceCode) {
                    EXPECT_EQ(byteAt(out, p), 223u) << "key 1 " << key1 << ", key 2 " << key2;
                }
            }
            for (unsigned other : {bound + 1, 255u}) {
                const CipherKeys otherKeys{static_cast<std::uint8_t>(other), keys.key2, keys.key3};
                EXPECT_EQ(cipher.DeCodeLine(out, otherKeys), text) << key1 << " vs " << other;
            }
        }
    }
}

TEST(LineCipherKeys, ZeroDivisorsAreRefused)
{
    LineCipher cipher;
    for (const CipherKeys keys : {CipherKeys{0, 7, 10}, CipherKeys{5, 0, 10}}) {
        EXPECT_THROW(cipher.CodeLine("abc", keys), CipherError);
        EXPECT_THROW(cipher.DeCodeLine("abcd", keys), CipherError);
        EXPECT_THROW(cipher.CodeLinePasses("abc", keys, 2), CipherError);
        EXPECT_THROW(cipher.DeCodeLinePasses("abcd", keys, 2), CipherError);
        EXPECT_THROW(EncodeCode('a', keys, 0, 0, 0), CipherError);
        EXPECT_THROW(DecodeGroup(1, 2, 3, keys), CipherError);
    }
    try {
        cipher.CodeLine("abc", CipherKeys{5, 0, 10});
        FAIL() << "no error";
    } catch (const CipherError& e) {
        EXPECT_NE(std::string(e.what()).find("key 2"), std::string::npos) << e.what();
    }
}

// ---------------------------------------------------------------------------
// Abort and progress

TEST(LineCipherAbort, FlagSetBeforeTheCallConvertsNothing)
{
    ScriptedNoise noise;
    bool abort = true;
    LineCipher cipher(nullptr, &abort, &noise);
    EXPECT_EQ(cipher.CodeLine("plain memo", kKeys), "plain memo");
    EXPECT_TRUE(cipher.Aborted());
    EXPECT_EQ(noise.clockReads, 0);
    EXPECT_EQ(cipher.DeCodeLine("\xE3\xE4\xE5\x70", kKeys), "\xE3\xE4\xE5\x70");
    EXPECT_TRUE(cipher.Aborted());
    EXPECT_EQ(cipher.CodeLinePasses("abc", kKeys, 3), "abc");
    EXPECT_EQ(cipher.DeCodeLinePasses("abcdefgh", kKeys, 2), "abcdefgh");

    abort = false; // the flag belongs to the caller; clearing it lets the next call run
    EXPECT_EQ(cipher.CodeLine("abc", kKeys).size(), 12u);
    EXPECT_FALSE(cipher.Aborted());
}

TEST(LineCipherAbort, AbortDuringTheRunReturnsTheInput)
{
    const std::string text = "a memo of some length to abort";
    const std::string cipherText = LineCipher().CodeLine(text, kKeys);
    // Firing 1 draws the empty bar; firings 2.. are the characters or groups.
    for (int firing : {1, 2, 10, static_cast<int>(text.size()) + 1}) {
        Probe probe;
        probe.abortAtFiring = firing;
        LineCipher cipher(&probe.hook, &probe.abortFlag);
        probe.cipher = &cipher;
        EXPECT_EQ(cipher.CodeLine(text, kKeys), text) << firing;
        EXPECT_TRUE(cipher.Aborted());
        EXPECT_FALSE(cipher.ProgressShown());

        Probe decodeProbe;
        decodeProbe.abortAtFiring = firing;
        LineCipher decoder(&decodeProbe.hook, &decodeProbe.abortFlag);
        decodeProbe.cipher = &decoder;
        EXPECT_EQ(decoder.DeCodeLine(cipherText, kKeys), cipherText) << firing;
        EXPECT_TRUE(decoder.Aborted());
    }
}

TEST(LineCipherAbort, AbortInALaterPassReturnsTheOriginalText)
{
    Probe probe;
    LineCipher cipher(&probe.hook, &probe.abortFlag);
    probe.cipher = &cipher;
    // Pass 1 of "abc" fires 4 times (bar + 3 characters); firing 7 is in pass 2.
    probe.abortAtFiring = 7;
    EXPECT_EQ(cipher.CodeLinePasses("abc", kKeys, 3), "abc");
    EXPECT_TRUE(cipher.Aborted());
    EXPECT_EQ(probe.events[6].pass, 2);
    // No pass started after the abort.
    for (const auto& event : probe.events) {
        EXPECT_LE(event.pass, 2);
    }

    const std::string twice = LineCipher().CodeLinePasses("abc", kKeys, 2);
    Probe decodeProbe;
    LineCipher decoder(&decodeProbe.hook, &decodeProbe.abortFlag);
    decodeProbe.cipher = &decoder;
    decodeProbe.abortAtFiring = 15; // pass 1 has 1 + 12 firings
    EXPECT_EQ(decoder.DeCodeLinePasses(twice, kKeys, 2), twice);
    EXPECT_TRUE(decoder.Aborted());
}

TEST(LineCipherProgress, EncryptingAddsOneShareAPerCharacter)
{
    Probe probe;
    LineCipher cipher(&probe.hook, &probe.abortFlag);
    probe.cipher = &cipher;
    cipher.CodeLine("wxyz", kKeys);
    ASSERT_EQ(probe.events.size(), 6u);
    const double expected[] = {0, 25, 50, 75, 100};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(probe.events[i].percent, expected[i], 1e-9) << i;
        EXPECT_TRUE(probe.events[i].shown);
        EXPECT_EQ(probe.events[i].pass, 1);
    }
    EXPECT_FALSE(probe.events[5].shown);
    EXPECT_FALSE(cipher.ProgressShown());
}

TEST(LineCipherProgress, DecryptingAddsFourSharesPerGroup)
{
    Probe probe;
    LineCipher cipher(&probe.hook, &probe.abortFlag);
    probe.cipher = &cipher;
    // Ten codes: groups at 1, 5 and 9, each worth 400 / 10.
    cipher.DeCodeLine(std::string(10, '\xE5'), kKeys);
    ASSERT_EQ(probe.events.size(), 5u);
    const double expected[] = {0, 40, 80, 120};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(probe.events[i].percent, expected[i], 1e-9) << i;
    }
    EXPECT_FALSE(probe.events[4].shown);
}

TEST(LineCipherProgress, EveryPassFillsTheBarFromEmpty)
{
    Probe probe;
    LineCipher cipher(&probe.hook, &probe.abortFlag);
    probe.cipher = &cipher;
    cipher.CodeLinePasses("ab", kKeys, 3);
    EXPECT_EQ(cipher.PassCount(), 3);
    // Per pass: the empty bar, then one event per character.
    const std::size_t perPass[] = {1 + 2, 1 + 8, 1 + 32};
    std::size_t at = 0;
    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_LT(at, probe.events.size());
        EXPECT_EQ(probe.events[at].pass, pass);
        EXPECT_EQ(probe.events[at].percent, 0.0);
        at += perPass[pass - 1];
        EXPECT_NEAR(probe.events[at - 1].percent, 100.0, 1e-9);
    }
    ASSERT_EQ(probe.events.size(), at + 1);
    EXPECT_FALSE(probe.events.back().shown);
}

TEST(LineCipherProgress, FailureInsideAPassRemovesTheBar)
{
    struct Thrower {
        LineCipher* cipher = nullptr;
        bool outOfMemory = false;
        int firings = 0;
        bool shownAtEnd = true;
        static void callback(void* context)
        {
            auto* self = static_cast<Thrower*>(context);
            if (++self->firings == 3) {
                if (self->outOfMemory) {
                    throw std::bad_alloc();
                }
                throw std::runtime_error("host failure");
            }
            self->shownAtEnd = self->cipher->ProgressShown();
        }
    };
    for (bool outOfMemory : {false, true}) {
        Thrower thrower;
        thrower.outOfMemory = outOfMemory;
        YieldHook hook(&Thrower::callback, &thrower, 1);
        LineCipher cipher(&hook);
        thrower.cipher = &cipher;
        try {
            cipher.CodeLinePasses("some text", kKeys, 2);
            FAIL() << "no error";
        } catch (const CipherError& e) {
            EXPECT_TRUE(outOfMemory);
            EXPECT_NE(std::string(e.what()).find("Not enough memory to encrypt"), std::string::npos);
        } catch (const std::runtime_error& e) {
            EXPECT_FALSE(outOfMemory);
            EXPECT_STREQ(e.what(), "host failure");
        }
        EXPECT_FALSE(cipher.ProgressShown());
        EXPECT_FALSE(thrower.shownAtEnd); // the host was told to remove the bar
    }
}

// ---------------------------------------------------------------------------
// Pass helpers

TEST(LineCipherPasses, TwoPassesOfThreeCharactersGiveFortyEightCodes)
{
    LineCipher cipher;
    const std::string out = cipher.CodeLinePasses("Tq!", kKeys, 2);
    EXPECT_EQ(out.size(), 48u);
    EXPECT_EQ(cipher.DeCodeLinePasses(out, kKeys, 2), "Tq!");
    // One decryption pass short leaves the first pass's cipher text.
    EXPECT_EQ(cipher.DeCodeLine(cipher.DeCodeLinePasses(out, kKeys, 1), kKeys), "Tq!");
}

TEST(LineCipherPasses, PassesChainSinglePasses)
{
    ScriptedNoise n1;
    ScriptedNoise n2;
    n1.clockStep = n2.clockStep = 3;
    LineCipher helper(nullptr, nullptr, &n1);
    LineCipher single(nullptr, nullptr, &n2);
    const std::string text = "chained passes";
    const std::string byHelper = helper.CodeLinePasses(text, kKeys, 3);
    const std::string bySingles = single.CodeLine(single.CodeLine(single.CodeLine(text, kKeys), kKeys), kKeys);
    EXPECT_EQ(byHelper, bySingles);
}

TEST(LineCipherPasses, PassCountBelowOneIsRefused)
{
    LineCipher cipher;
    EXPECT_THROW(cipher.CodeLinePasses("abc", kKeys, 0), CipherError);
    EXPECT_THROW(cipher.DeCodeLinePasses("abcd", kKeys, -1), CipherError);
}

TEST(LineCipherPasses, RunThatWouldOutgrowTheBoundIsRefusedBeforeAnyWork)
{
    // 16 codes grow to 16 * 4^12 = 256 MiB after twelve passes; a thirteenth is too many.
    Probe probe;
    ScriptedNoise noise;
    LineCipher cipher(&probe.hook, &probe.abortFlag, &noise);
    probe.cipher = &cipher;
    try {
        cipher.CodeLinePasses(std::string(16, 'k'), kKeys, 13);
        FAIL() << "no error";
    } catch (const CipherError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("256 MiB"), std::string::npos) << msg;
        EXPECT_NE(msg.find("pass 13 of 13"), std::string::npos) << msg;
    }
    try {
        cipher.CodeLinePasses("k", kKeys, 1000);
        FAIL() << "no error";
    } catch (const CipherError& e) {
        EXPECT_NE(std::string(e.what()).find("pass 15 of 1000"), std::string::npos) << e.what();
    }
    EXPECT_EQ(probe.firings, 0);
    EXPECT_EQ(noise.clockReads, 0);

    // Well inside the bound, many passes are fine; an empty text never grows.
    EXPECT_EQ(cipher.CodeLinePasses("k", kKeys, 8).size(), std::size_t{1} << 16);
    EXPECT_EQ(cipher.CodeLinePasses("", kKeys, 1000), "");
}

TEST(LineCipherPasses, SinglePassBeyondTheBoundIsRefused)
{
    const std::string big(kMaxCipherTextBytes / 4 + 1, 'b');
    LineCipher cipher;
    EXPECT_THROW(cipher.CodeLine(big, kKeys), CipherError);
    EXPECT_THROW(cipher.CodeLinePasses(big, kKeys, 1), CipherError);
}

} // namespace
} // namespace tq
