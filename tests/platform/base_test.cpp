// The plain C++ platform pieces: the Windows-1252 code page, whole-file reads and
// atomic file writes.
#include "platform/atomicfile.h"
#include "platform/codepage.h"
#include "platform/fileio.h"

#include "tests/support/portable.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

TEST(CodePage, EveryCodeSurvivesTheRoundTripThroughUtf8)
{
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    std::string back;
    ASSERT_TRUE(tq::cp1252::fromUtf8(tq::cp1252::toUtf8(all), back));
    EXPECT_EQ(back, all);
    // The euro sign and the five undefined codes, which map to C1 controls.
    EXPECT_EQ(tq::cp1252::toUnicode(0x80), U'\u20AC');
    for (unsigned char c : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        EXPECT_EQ(tq::cp1252::toUnicode(c), static_cast<char32_t>(c));
    }
}

TEST(CodePage, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    std::string out;
    char32_t bad = 0;
    EXPECT_FALSE(tq::cp1252::fromUtf8("a\xCE\xB1z", out, &bad)); // Greek alpha
    EXPECT_EQ(out, "a?z");
    EXPECT_EQ(bad, U'\u03B1');
    EXPECT_FALSE(tq::cp1252::fromUtf8("x\xC3", out)); // cut-off sequence
    EXPECT_EQ(out, "x?");
    EXPECT_EQ(tq::cp1252::fromUtf8Lossy("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xE9 ?");
}

TEST(CodePage, NamesCompareWithoutCaseAsWindowsDoes)
{
    EXPECT_TRUE(tq::cp1252::equalsIgnoreCase("A.TXT", "a.txt"));
    EXPECT_TRUE(tq::cp1252::equalsIgnoreCase("\xC9T\xC9", "\xE9t\xE9"));   // ÉTÉ / été
    EXPECT_TRUE(tq::cp1252::equalsIgnoreCase("\x8A\x9F", "\x9A\xFF"));     // Š Ÿ / š ÿ
    EXPECT_FALSE(tq::cp1252::equalsIgnoreCase("\xD7", "\xF7"));            // × and ÷ differ
    EXPECT_FALSE(tq::cp1252::equalsIgnoreCase("a", "ab"));
}

class AtomicFileTest : public ::testing::Test {
protected:
    tq::testing::TempFolder scratch_{"tq-atomic-"};

    static std::string read(const fs::path& p)
    {
        std::ifstream f(p, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    static void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    const fs::path& dir_ = scratch_.path();
};

TEST_F(AtomicFileTest, TargetChangesOnlyOnCommit)
{
    const fs::path target = dir_ / "doc.txt";
    put(target, "old");
    {
        tq::AtomicFile file(target);
        file.write("new content", 11);
        EXPECT_EQ(read(target), "old");
        file.commit();
    }
    EXPECT_EQ(read(target), "new content");
    EXPECT_EQ(entries(), 1u); // no temporary file left behind
}

TEST_F(AtomicFileTest, AbandonedWriteKeepsTheOldFileAndLeavesNothing)
{
    const fs::path target = dir_ / "doc.txt";
    put(target, "old");
    {
        tq::AtomicFile file(target);
        file.write("partial", 7);
    }
    EXPECT_EQ(read(target), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, RefusesAFolderAndAMissingFolderWithTheirNames)
{
    fs::create_directories(dir_ / "folder");
    try {
        tq::AtomicFile file(dir_ / "folder");
        FAIL() << "a folder was accepted as target";
    } catch (const tq::FileError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos) << e.what();
    }
    EXPECT_THROW(tq::AtomicFile(dir_ / "missing" / "a.txt"), tq::FileError);
}

TEST_F(AtomicFileTest, LinksAreFollowedOrReplacedAsAsked)
{
    TQ_SKIP_WITHOUT_SYMLINKS(dir_);
    const fs::path real = dir_ / "real.txt";
    put(real, "real");
    fs::create_symlink(real, dir_ / "follow.lnk");
    fs::create_symlink(real, dir_ / "replace.lnk");
    {
        tq::AtomicFile file(dir_ / "follow.lnk", tq::AtomicFile::Links::Follow);
        file.write("through", 7);
        file.commit();
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "follow.lnk"));
    EXPECT_EQ(read(real), "through");
    {
        tq::AtomicFile file(dir_ / "replace.lnk", tq::AtomicFile::Links::Replace);
        file.write("plain", 5);
        file.commit();
    }
    EXPECT_FALSE(fs::is_symlink(dir_ / "replace.lnk"));
    EXPECT_EQ(read(dir_ / "replace.lnk"), "plain");
    EXPECT_EQ(read(real), "through");
}

TEST_F(AtomicFileTest, WholeFileReadsGiveTheBytesOrTheReason)
{
    put(dir_ / "plain.bin", std::string("a\0\xFF\r\n", 5));
    fs::create_directories(dir_ / "folder");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
#endif
    struct Case {
        const char* name;
        std::string error; // empty: read succeeds
    };
    const Case cases[] = {
        {"plain.bin", ""},
        {"missing.bin", "Cannot open \"NAME\": No such file or directory"},
        {"folder", "Cannot open \"NAME\": It is a folder, not a file"},
#ifndef _WIN32
        {"pipe", "Cannot open \"NAME\": It is not a regular file"}, // must not wait for a writer
#endif
    };
    for (const Case& c : cases) {
        const fs::path path = dir_ / c.name;
        std::string expected = c.error;
        if (const auto at = expected.find("NAME"); at != std::string::npos) {
            expected.replace(at, 4, path.u8string());
        }
        try {
            const std::vector<std::uint8_t> bytes = tq::readWholeFile(path);
            EXPECT_EQ(expected, "") << c.name;
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), read(path)) << c.name;
        } catch (const tq::FileError& e) {
            EXPECT_EQ(e.what(), expected) << c.name;
            EXPECT_EQ(e.path(), path) << c.name;
        }
    }
}

TEST_F(AtomicFileTest, CountedTemporaryNamesTakeTheFirstFreeNumber)
{
    put(dir_ / "Temp1.mme", "in use");
    tq::AtomicFile::TempName temp;
    temp.prefix = "Temp";
    temp.suffix = ".mme";
    temp.counted = true;
    tq::AtomicFile file(dir_ / "out.bin", tq::AtomicFile::Links::Replace, temp);
    EXPECT_TRUE(fs::exists(dir_ / "Temp2.mme"));
    file.write("x", 1);
    file.commit();
    EXPECT_FALSE(fs::exists(dir_ / "Temp2.mme"));
    EXPECT_EQ(read(dir_ / "Temp1.mme"), "in use");
    EXPECT_EQ(read(dir_ / "out.bin"), "x");
}

TEST_F(AtomicFileTest, NewFilesGetTheirKindsModeAndReplacedOnesKeepTheirs)
{
    TQ_SKIP_WITHOUT_POSIX_PERMISSIONS();
#ifndef _WIN32
    const mode_t oldMask = ::umask(022);
    using Mode = tq::AtomicFile::Mode;
    struct Case {
        const char* name;
        Mode mode;
        int oldMode; // -1: no file before
        bool replace;
        unsigned expected; // mode afterwards; the temporary file never had more
    };
    const Case cases[] = {
        {"new-private", Mode::Private, -1, true, 0600},
        {"new-shared", Mode::Shared, -1, true, 0644},
        {"replaced-private", Mode::Private, 0750, true, 0750},
        {"replaced-shared", Mode::Shared, 0604, true, 0604},
        {"kept", Mode::Shared, 0640, false, 0640},
        {"new-only", Mode::Private, -1, false, 0600},
    };
    for (const Case& c : cases) {
        const fs::path target = dir_ / c.name;
        if (c.oldMode >= 0) {
            put(target, "old");
            fs::permissions(target, static_cast<fs::perms>(c.oldMode));
        }
        tq::AtomicFile file(target, tq::AtomicFile::Links::Follow, c.mode);
        // The temporary file is the one other entry besides the old file.
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename().string().rfind(".tarnquill-", 0) == 0) {
                EXPECT_EQ(static_cast<unsigned>(entry.status().permissions() & fs::perms::all), c.expected)
                    << c.name;
            }
        }
        file.write("new", 3);
        if (c.replace) {
            file.commit();
            EXPECT_EQ(read(target), "new") << c.name;
        } else {
            try {
                file.commitNew();
                EXPECT_EQ(c.oldMode, -1) << c.name;
            } catch (const tq::FileError& e) {
                EXPECT_EQ(e.errorCode(), EEXIST) << c.name;
            }
            EXPECT_EQ(read(target), c.oldMode >= 0 ? "old" : "new") << c.name;
        }
        EXPECT_EQ(static_cast<unsigned>(fs::status(target).permissions() & fs::perms::all), c.expected) << c.name;
    }
    EXPECT_EQ(entries(), std::size(cases)); // no temporary file left
    ::umask(oldMask);
#endif
}

} // namespace
