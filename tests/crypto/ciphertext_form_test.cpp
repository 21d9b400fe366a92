// Recognising cipher text by its form.
#include "crypto/linecipher.h"
#include "tests/crypto/cipher_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace tq {
namespace {

using test::allCodes;

TEST(CipherTextForm, CipherOutputIsRecognisedWithOrWithoutAFinalLineBreak)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> key1(5, 127);
    std::uniform_int_distribution<int> key2(7, 31);
    std::uniform_int_distribution<int> key3(10, 254);
    LineCipher cipher;
    const std::string texts[] = {"x", "Dear diary,\r\ntoday nothing happened.\r\n", "café crème",
                                 allCodes()};
    for (int round = 0; round < 200; ++round) {
        const CipherKeys keys{static_cast<std::uint8_t>(key1(rng)), static_cast<std::uint8_t>(key2(rng)),
                              static_cast<std::uint8_t>(key3(rng))};
        for (const std::string& text : texts) {
            const std::string out = cipher.CodeLine(text, keys);
            EXPECT_TRUE(IsCipherText(out));
            EXPECT_TRUE(IsCipherText(out + "\r\n"));
            EXPECT_TRUE(IsCipherText(out + "\n"));
            EXPECT_TRUE(IsCipherText(out + "\r\n\r\n\r\n")); // empty lines typed after it
            EXPECT_TRUE(IsCipherText(out + "\r"));
        }
    }
}

TEST(CipherTextForm, FirstVersionGroupsAreRecognised)
{
    // The line-break group (fourth code 222) and a space-like pair after a
    // value code, as the first version of the cipher wrote them.
    EXPECT_TRUE(IsCipherText("\xED\xDE\xDE\xDE"));
    EXPECT_TRUE(IsCipherText("\xDF\xDE\xDE\x70\xE3\xE1\xE5\x41"));
    // A space group: fillers 68..157 around 222, 222.
    EXPECT_TRUE(IsCipherText("\x44\xDE\xDE\x9D"));
    EXPECT_TRUE(IsCipherText("\x9D\xDE\xDE\x44"));
    // Codes 0..4 in the value positions (key 2 = 7 with a large key 1).
    EXPECT_TRUE(IsCipherText(std::string("\xDF\x00\xE4\x60", 4)));
}

TEST(CipherTextForm, OrdinaryTextIsNotCipherText)
{
    for (const char* text : {"", "\r\n", "\n", "abcd", "café", "Café", "caf\xE9", "\xE9t\xE9 ",
                             "Crème brûlée à la carte", "\xC0\xC9\xD6\xDC", "\xFF\xFF\xFF\xFF",
                             "The quick brown fox jumps over the lazy dog.", "1234\r\n5678"}) {
        EXPECT_FALSE(IsCipherText(text)) << text;
    }
}

TEST(CipherTextForm, DamagedCipherTextIsNotRecognised)
{
    LineCipher cipher;
    const CipherKeys keys{9, 13, 77};
    const std::string out = cipher.CodeLine("damaged memo", keys);
    ASSERT_TRUE(IsCipherText(out));

    EXPECT_FALSE(IsCipherText(out.substr(0, out.size() - 1)));     // not a multiple of four
    EXPECT_FALSE(IsCipherText(out.substr(0, 8) + "\r\n" + out.substr(8) + "\r\n")); // two lines
    for (std::size_t position : {std::size_t{0}, std::size_t{5}, std::size_t{10}, out.size() - 1}) {
        for (unsigned char bad : {5, 13, 64, 100, 200}) {
            if (position % 4 == 3 && bad == 100) {
                continue; // 100 is a valid clock code
            }
            std::string damaged = out;
            damaged[position] = static_cast<char>(bad);
            EXPECT_FALSE(IsCipherText(damaged)) << "code " << unsigned(bad) << " at " << position;
        }
    }
    // A filler-range first code needs the space pair behind it.
    EXPECT_FALSE(IsCipherText("\x70\xDE\xE1\x70"));
    EXPECT_FALSE(IsCipherText("\x43\xDE\xDE\x70"));
    EXPECT_FALSE(IsCipherText("\x9E\xDE\xDE\x70"));
}

} // namespace
} // namespace tq
