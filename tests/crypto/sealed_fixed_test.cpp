// A sealed file committed with the tests keeps the format frozen: it must keep
// opening to its known text, and sealing that text again with the same random
// bytes must give the very same file.
//
// TQ_WRITE_SEALED_FIXTURE=PATH writes the file anew (only when the format is
// deliberately changed, together with a new version number).
#include "crypto/sealed.h"
#include "crypto/sealed_testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// Every random byte of this program comes from a fixed seed; this must happen
// before the engine first initialises libsodium.
const bool kSeeded = [] {
    unsigned char seed[32];
    for (int i = 0; i < 32; ++i) {
        seed[i] = static_cast<unsigned char>(0xA5 ^ (i * 7));
    }
    tq::sealed::UseDeterministicRandomForTests(seed);
    return true;
}();

const tq::sealed::Params kFixtureParams{2, 64};
const char* const kFixturePassphrase = "Tarnquill fixture passphrase";

// Two chunks: a readable line, then every byte value over and over.
std::string knownText()
{
    std::string text = "Sealed memo, format 1.\r\nCaf\xE9 au lait \x80 5.\r\n";
    for (std::size_t i = 0; text.size() < tq::sealed::kChunkSize + 300; ++i) {
        text += static_cast<char>((i * 37 + 11) & 0xFF);
    }
    return text;
}

std::string fixturePath()
{
    return TQ_SEALED_FIXTURE;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(SealedFixture, CommittedFileOpensToItsKnownTextAndSealsIdentically)
{
    ASSERT_TRUE(kSeeded);
    const auto pass = tq::sealed::SecretBytes::copyOf(kFixturePassphrase);
    const auto sealed = tq::sealed::Seal(knownText(), pass, kFixtureParams);
    ASSERT_TRUE(sealed.has_value());
    if (const char* out = std::getenv("TQ_WRITE_SEALED_FIXTURE")) {
        std::ofstream(out, std::ios::binary) << *sealed;
    }
    const std::string committed = readFile(fixturePath());
    ASSERT_EQ(committed.size(), tq::sealed::kHeaderSize + knownText().size() + 2 * tq::sealed::kChunkOverhead)
        << fixturePath();
    EXPECT_EQ(tq::sealed::StoredParams(committed), kFixtureParams);
    const auto opened = tq::sealed::Unseal(committed, pass);
    ASSERT_TRUE(opened.has_value());
    EXPECT_TRUE(*opened == knownText());
    EXPECT_TRUE(*sealed == committed) << "the writer no longer produces the committed bytes";
}

} // namespace
