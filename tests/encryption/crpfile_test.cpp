// The .crp file steps without a window: memo line rules (against the memo's own
// text model), the stored text taken from decoded data, the exact file layout
// (read back with a small independent decoder), and whole save/open round trips.
#include "crypto/crpfile.h"

#include "tests/support/portable.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// A reader of the stream format written from its description: 506 table bytes,
// then codes 0..252 (a table pair) and 253..255 (escape: two literal bytes).
std::string referenceDecode(const std::string& file)
{
    if (file.size() < 506) {
        ADD_FAILURE() << "file shorter than its table";
        return {};
    }
    std::string out;
    for (std::size_t i = 506; i < file.size();) {
        const unsigned char c = static_cast<unsigned char>(file[i]);
        if (c <= 252) {
            out += file[2 * c];
            out += file[2 * c + 1];
            ++i;
        } else {
            out.append(file, i + 1, 2);
            i += 3;
        }
    }
    return out;
}

class CrpFile : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (immutable_) {
            std::system(("chattr -i '" + dir_.string() + "/ro' 2>/dev/null").c_str());
        }
        std::error_code ec;
        fs::permissions(dir_ / "ro", fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }

    static tq::crp::KeySet keys(int k1, int k2, int k3, int k4)
    {
        tq::crp::KeySet k;
        k.cipher.key1 = static_cast<std::uint8_t>(k1);
        k.cipher.key2 = static_cast<std::uint8_t>(k2);
        k.cipher.key3 = static_cast<std::uint8_t>(k3);
        k.key4 = k4;
        return k;
    }

    tq::testing::TempFolder scratch_{"tq-crp-"};
    const fs::path& dir_ = scratch_.path();
    bool immutable_ = false;
    tq::TCompress engine_;
    tq::LineCipher cipher_;
};

// --- Memo line rules ------------------------------------------------------------

TEST(MemoLineRules, AddLinePutsBreaksLikeTheMemo)
{
    EXPECT_EQ(tq::crp::AddLine("", "abc"), "abc\r\n");
    EXPECT_EQ(tq::crp::AddLine("", ""), "\r\n");
    EXPECT_EQ(tq::crp::AddLine("x", "abc"), "x\r\nabc\r\n");
    EXPECT_EQ(tq::crp::AddLine("x\r\n", "a\nb"), "x\r\na\r\nb\r\n");
    EXPECT_EQ(tq::crp::TotalLineLength("\r\n\r\n"), 0u);
    EXPECT_EQ(tq::crp::TotalLineLength("ab\r\nc"), 3u);
}

// --- Stored text from decoded data ------------------------------------------------

TEST(StoredTextFromDecoded, DropsTrailerPaddingButKeepsCodeZeroInTheText)
{
    using tq::crp::StoredTextFromDecoded;
    using namespace std::string_literals;
    EXPECT_EQ(StoredTextFromDecoded("abcd\0 "s), "abcd");
    // An odd-length text gained one 0x00 before the trailer.
    EXPECT_EQ(StoredTextFromDecoded("abc\0\0 "s), "abc");
    // Code 0 inside the text stays (cipher text can hold it).
    EXPECT_EQ(StoredTextFromDecoded("a\0bc\0 "s), "a\0bc"s);
    EXPECT_EQ(StoredTextFromDecoded("\0\0\0 "s), "\0"s);
    EXPECT_EQ(StoredTextFromDecoded("\0 "s), "");
    // No trailer of the memo's engine: up to the first code 0.
    EXPECT_EQ(StoredTextFromDecoded("abc\0xy"s), "abc");
    EXPECT_EQ(StoredTextFromDecoded("abc"s), "abc");
}

// --- File layout ------------------------------------------------------------------

TEST_F(CrpFile, ThreeCharactersWithTheLowestKey4BecomeTableCodesAndTrailer)
{
    const fs::path file = dir_ / "three.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, "abc", keys(5, 7, 10, 1), 2, file));
    const std::string bytes = readFile(file);
    ASSERT_GT(bytes.size(), 506u + 3u);
    EXPECT_EQ(bytes.substr(bytes.size() - 3), std::string("\xFF\x00\x20", 3));
    const std::string decoded = referenceDecode(bytes);
    ASSERT_EQ(decoded.size(), 48u + 2u);
    EXPECT_EQ(decoded.substr(48), std::string("\0 ", 2));
    const std::string stored = decoded.substr(0, 48);
    EXPECT_TRUE(tq::IsCipherText(stored));
    tq::CipherKeys k{5, 7, 10};
    EXPECT_EQ(cipher_.DeCodeLinePasses(stored, k, 2), "abc");
    EXPECT_EQ(tq::crp::OpenMemo(engine_, cipher_, file, keys(5, 7, 10, 1)), "abc");
}

TEST_F(CrpFile, StoredTextIsTheLinesJoinedWithoutBreaksAndOddLengthsComeBack)
{
    const fs::path file = dir_ / "plain.crp";
    ASSERT_TRUE(tq::crp::SaveLines(engine_, {"one", "two", "x"}, 2, file));
    const std::string decoded = referenceDecode(readFile(file));
    EXPECT_EQ(decoded, std::string("onetwox\0\0 ", 10));
    EXPECT_EQ(tq::crp::LoadText(engine_, file), "onetwox");
}

TEST_F(CrpFile, ProgressFollowsTheStepsOfSaveAndOpen)
{
    const fs::path file = dir_ / "p.crp";
    std::vector<int> seen;
    tq::crp::SaveLines(engine_, {"abcabc"}, 2, file, [&](int p) { seen.push_back(p); });
    EXPECT_EQ(seen, (std::vector<int>{15, 30, 45, 60, 75, 90}));
    seen.clear();
    tq::crp::LoadText(engine_, file, [&](int p) { seen.push_back(p); });
    EXPECT_EQ(seen, (std::vector<int>{33, 66, 98}));
}

// --- Round trips --------------------------------------------------------------------

TEST_F(CrpFile, TypedTextComesBackForEveryPassCountWithAndWithoutFinalBreak)
{
    const std::string texts[] = {"Dear diary,\r\nsee you at 8.", "Dear diary,\r\nsee you at 8.\r\n",
                                 "caf\xE9 cr\xE8me\r\n\r\nna\xEFve", "x", "\r\n\r\nend"};
    for (int key4 = 1; key4 <= 4; ++key4) {
        for (const std::string& text : texts) {
            SCOPED_TRACE("key 4 = " + std::to_string(key4) + ", text of " + std::to_string(text.size()));
            const fs::path file = dir_ / "round.crp";
            const auto k = keys(13, 11, 100, key4);
            ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, text, k, 2, file));
            EXPECT_TRUE(tq::IsCipherText(tq::crp::LoadText(engine_, file)));
            EXPECT_EQ(tq::crp::OpenMemo(engine_, cipher_, file, k), text);
        }
    }
}

TEST_F(CrpFile, CipherTextHoldingCodeZeroOpensWhole)
{
    // Key 2 = 7 with key 1 of 33 or more writes a second code 0 for the shifted
    // codes 224..230; the text must not be cut there.
    const auto k = keys(40, 7, 10, 1);
    std::string text;
    for (int c = 200; c < 256; ++c) {
        text += static_cast<char>(c);
    }
    const fs::path file = dir_ / "zero.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, text, k, 2, file));
    const std::string stored = tq::crp::LoadText(engine_, file);
    EXPECT_NE(stored.find('\0'), std::string::npos);
    EXPECT_EQ(stored.size(), text.size() * 16);
    EXPECT_EQ(tq::crp::OpenMemo(engine_, cipher_, file, k), text);
}

TEST_F(CrpFile, PlainTextWithAccentsIsEncryptedAndCipherTextIsNotEncryptedTwice)
{
    const auto k = keys(5, 7, 10, 1);
    const fs::path file = dir_ / "e.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, "caf\xE9", k, 2, file));
    const std::string stored = tq::crp::LoadText(engine_, file);
    EXPECT_EQ(stored.size(), 4u * 16u);
    EXPECT_EQ(stored.find("caf"), std::string::npos);
    // A memo already holding that cipher text (with a final break, as Open
    // leaves lines) is stored exactly as it is.
    const fs::path again = dir_ / "again.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, stored + "\r\n", k, 2, again));
    EXPECT_EQ(tq::crp::LoadText(engine_, again), stored);
    EXPECT_EQ(readFile(again), readFile(file));
}

TEST_F(CrpFile, WrongKeysGiveOtherTextWithoutComplaint)
{
    const fs::path file = dir_ / "k.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, "secret", keys(5, 7, 10, 1), 2, file));
    EXPECT_NE(tq::crp::OpenMemo(engine_, cipher_, file, keys(6, 7, 10, 1)), "secret");
}

TEST_F(CrpFile, EmptyMemoIsStoredEmptyAndOpensEmpty)
{
    const fs::path file = dir_ / "empty.crp";
    ASSERT_TRUE(tq::crp::SaveMemo(engine_, cipher_, "\r\n\r\n", keys(5, 7, 10, 1), 2, file));
    EXPECT_EQ(tq::crp::LoadText(engine_, file), "");
    EXPECT_EQ(tq::crp::OpenMemo(engine_, cipher_, file, keys(5, 7, 10, 1)), "\r\n");
}

// --- Failures -----------------------------------------------------------------------

TEST_F(CrpFile, CancelWritesNothingAndAbortStillWritesACorrectFile)
{
    const fs::path file = dir_ / "c.crp";
    writeFile(file, "old");
    // The flags are set from the yield hook, as a click arrives during the work.
    struct Clicks {
        tq::TCompress* engine;
        int wanted;
        int done = 0;
    };
    Clicks clicks{&engine_, 2};
    auto click = [](void* context) {
        auto* c = static_cast<Clicks*>(context);
        if (c->done < c->wanted) {
            (c->done == 0 ? c->engine->Bytes.Abort : c->engine->Cancel) = true;
            ++c->done;
        }
    };
    engine_.Yield.set(click, &clicks, 1);
    const std::vector<std::string> lines(1, std::string(5000, 'q') + "xyz");
    EXPECT_FALSE(tq::crp::SaveLines(engine_, lines, 2, file));
    EXPECT_EQ(readFile(file), "old");

    clicks = Clicks{&engine_, 1};
    EXPECT_TRUE(tq::crp::SaveLines(engine_, lines, 2, file));
    EXPECT_EQ(tq::crp::LoadText(engine_, file), lines[0]);
    engine_.Yield.set(nullptr, nullptr);
}

TEST_F(CrpFile, FailedSaveKeepsTheOldFileAndNamesIt)
{
#ifdef _WIN32
    GTEST_SKIP() << "folders have no POSIX permission bits here";
#else
    const fs::path folder = dir_ / "ro";
    fs::create_directories(folder);
    const fs::path file = folder / "keep.crp";
    writeFile(file, "previous content");
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    if (::geteuid() == 0) {
        immutable_ = std::system(("chattr +i '" + folder.string() + "' 2>/dev/null").c_str()) == 0;
    }
    if (std::FILE* probe = std::fopen((folder / "probe").c_str(), "wb")) {
        std::fclose(probe);
        GTEST_SKIP() << "the folder cannot be made read-only here";
    }
    try {
        tq::crp::SaveLines(engine_, {"new"}, 2, file);
        FAIL() << "the save did not fail";
    } catch (const tq::CompressFileError& e) {
        EXPECT_NE(std::string(e.what()).find("keep.crp"), std::string::npos) << e.what();
    }
    EXPECT_EQ(readFile(file), "previous content");
#endif
}

TEST_F(CrpFile, MissingFileIsAnErrorNamingIt)
{
    try {
        tq::crp::LoadText(engine_, dir_ / "none.crp");
        FAIL() << "no error";
    } catch (const tq::CompressFileError& e) {
        EXPECT_NE(std::string(e.what()).find("none.crp"), std::string::npos);
    }
}

} // namespace
