// Loading and saving: the trailer, its stripping for .X names, Cancel, and the
// atomic replacement of the target file.
#include "tests/compress/helpers.h"
#include "tests/support/portable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace tqtest;
namespace fs = std::filesystem;

namespace {

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device seed;
        dir_ = fs::temp_directory_path() /
               ("tq-compress-" + std::to_string(seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }

    fs::path dir_;
};

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::size_t entriesIn(const fs::path& dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

Bytes withTrailer(Bytes stream, const char* name)
{
    stream.push_back(0xFF);
    stream.push_back(0x00);
    const Bytes n = bytesOf(name);
    stream.insert(stream.end(), n.begin(), n.end());
    return stream;
}

} // namespace

TEST_F(Files, CompressedSaveWritesStreamAndTrailer)
{
    const Bytes input = textBytes(1, 3000);
    tq::TCompress c;
    const Bytes stream = compressStream(c, input, 2);
    c.Name = "memo.txt";
    c.SaveToFile(dir_ / "memo.crp");
    EXPECT_EQ(readFile(dir_ / "memo.crp"), withTrailer(stream, "memo.txt"));
}

TEST_F(Files, NameBytesFFAreWrittenAsSpaces)
{
    tq::TCompress c;
    compressStream(c, bytesOf("abcd"), 2);
    c.Name = std::string("a\xFF" "b\xFF", 4);
    c.SaveToFile(dir_ / "n.X");
    const Bytes file = readFile(dir_ / "n.X");
    const Bytes tail(file.end() - 6, file.end());
    EXPECT_EQ(tail, (Bytes{0xFF, 0x00, 'a', ' ', 'b', ' '}));

    tq::TCompress d;
    d.LoadFromFile(dir_ / "n.X");
    EXPECT_EQ(d.Name, "a b ");
}

TEST_F(Files, UncompressedSaveWritesDataOnly)
{
    const Bytes input = textBytes(2, 777);
    tq::TCompress c;
    const Bytes stream = compressStream(c, input, 2);
    decompressStream(c, stream);
    c.SaveToFile(dir_ / "out.txt");
    EXPECT_EQ(readFile(dir_ / "out.txt"), padded(input));
}

TEST_F(Files, XNamesStripTheTrailerOtherNamesDoNot)
{
    const Bytes stream = compressStream(*std::make_unique<tq::TCompress>(), textBytes(5, 2000), 2);
    const Bytes file = withTrailer(stream, "report.doc");
    for (const char* name : {"a.x", "b.X"}) {
        writeFile(dir_ / name, file);
        tq::TCompress d;
        d.Name = "old";
        EXPECT_EQ(d.LoadFromFile(dir_ / name), static_cast<std::int32_t>(stream.size())) << name;
        EXPECT_EQ(dataOf(d), stream) << name;
        EXPECT_EQ(d.Name, "report.doc") << name;
    }
    for (const char* name : {"c.bin", "d.crp", "e.xx", "f"}) {
        writeFile(dir_ / name, file);
        tq::TCompress d;
        d.Name = "old";
        EXPECT_EQ(d.LoadFromFile(dir_ / name), static_cast<std::int32_t>(file.size())) << name;
        EXPECT_EQ(dataOf(d), file) << name;
        EXPECT_EQ(d.Name, "old") << name;
    }
}

TEST_F(Files, XNameWithoutMarkerKeepsDataAndEmptiesName)
{
    writeFile(dir_ / "plain.x", bytesOf("no marker here"));
    tq::TCompress d;
    EXPECT_EQ(d.LoadFromFile(dir_ / "plain.x"), 14);
    EXPECT_EQ(d.Name, "");

    // A marker as the very last byte: nothing after it for a name.
    writeFile(dir_ / "end.x", {'a', 'b', 0xFF});
    d.Name = "old";
    EXPECT_EQ(d.LoadFromFile(dir_ / "end.x"), 2);
    EXPECT_EQ(d.Name, "");
}

TEST_F(Files, SaveAndLoadThroughAnXFileRestoresTheInput)
{
    // Random bytes: escaped literals include 0xFF, before the trailer's marker.
    const Bytes input = randomBytes(9, 250001, 256);
    tq::TCompress c;
    const Bytes stream = compressStream(c, input, 6);
    ASSERT_NE(std::find(stream.begin() + 506, stream.end(), 0xFF), stream.end());
    c.Name = "data.bin";
    c.SaveToFile(dir_ / "archive.X");

    tq::TCompress d;
    d.Reset();
    d.LoadFromFile(dir_ / "archive.X");
    EXPECT_EQ(d.Name, "data.bin");
    d.Bytes.SplitTable();
    d.DecompressData();
    EXPECT_EQ(dataOf(d), padded(input));
}

TEST_F(Files, LoadGrowsForLargeFiles)
{
    const Bytes content = randomBytes(4, 3 * 1024 * 1024 + 5, 256);
    writeFile(dir_ / "big.bin", content);
    tq::TCompress d;
    d.Reset();
    EXPECT_EQ(d.LoadFromFile(dir_ / "big.bin"), static_cast<std::int32_t>(content.size()));
    EXPECT_EQ(dataOf(d), content);
}

TEST_F(Files, EmptyFileLoadsAsNoData)
{
    writeFile(dir_ / "empty.bin", {});
    tq::TCompress d;
    d.Reset();
    d.Bytes.AppendText("left over");
    EXPECT_EQ(d.LoadFromFile(dir_ / "empty.bin"), 0);
    EXPECT_EQ(d.Bytes.DataLength, 0);
}

TEST_F(Files, CancelCreatesNoFileAndKeepsAnExistingOne)
{
    tq::TCompress c;
    compressStream(c, textBytes(3, 1000), 2);
    c.Cancel = true;
    c.SaveToFile(dir_ / "new.crp");
    EXPECT_FALSE(fs::exists(dir_ / "new.crp"));

    writeFile(dir_ / "old.crp", bytesOf("previous"));
    c.SaveToFile(dir_ / "old.crp");
    EXPECT_EQ(readFile(dir_ / "old.crp"), bytesOf("previous"));
    EXPECT_EQ(entriesIn(dir_), 1u);
}

TEST_F(Files, CancelDuringTheWriteKeepsTheOldFileAndLeavesNothingBehind)
{
    tq::TCompress c;
    compressStream(c, randomBytes(3, 2000000, 256), 2);
    writeFile(dir_ / "old.crp", bytesOf("previous"));
    c.Yield.set([](void* p) { static_cast<tq::TCompress*>(p)->Cancel = true; }, &c, 1);
    c.SaveToFile(dir_ / "old.crp");
    EXPECT_EQ(readFile(dir_ / "old.crp"), bytesOf("previous"));
    EXPECT_EQ(entriesIn(dir_), 1u);
}

TEST_F(Files, SaveReplacesAnExistingFileKeepingItsPermissions)
{
    writeFile(dir_ / "memo.crp", Bytes(100000, 'z'));
    const fs::perms kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    if (tq::testing::kHasPosixPermissions) {
        fs::permissions(dir_ / "memo.crp", kept);
    }
    tq::TCompress c;
    const Bytes stream = compressStream(c, bytesOf("short"), 2);
    c.Name = "m";
    c.SaveToFile(dir_ / "memo.crp");
    EXPECT_EQ(readFile(dir_ / "memo.crp"), withTrailer(stream, "m"));
    if (tq::testing::kHasPosixPermissions) {
        EXPECT_EQ(fs::status(dir_ / "memo.crp").permissions() & fs::perms::all, kept);
    }
    EXPECT_EQ(entriesIn(dir_), 1u);
}

TEST_F(Files, SaveThroughASymbolicLinkUpdatesTheFileItNames)
{
    TQ_SKIP_WITHOUT_SYMLINKS(dir_);
    writeFile(dir_ / "real.crp", bytesOf("old"));
    fs::create_symlink("real.crp", dir_ / "link.crp");
    tq::TCompress c;
    const Bytes stream = compressStream(c, bytesOf("new"), 2);
    c.Name = "n";
    c.SaveToFile(dir_ / "link.crp");
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.crp"));
    EXPECT_EQ(readFile(dir_ / "real.crp"), withTrailer(stream, "n"));
    EXPECT_EQ(entriesIn(dir_), 2u);
}

TEST_F(Files, SaveOntoADirectoryFailsAndLeavesItAlone)
{
    fs::create_directory(dir_ / "folder.crp");
    writeFile(dir_ / "folder.crp" / "inside", bytesOf("x"));
    tq::TCompress c;
    compressStream(c, bytesOf("abc"), 2);
    try {
        c.SaveToFile(dir_ / "folder.crp");
        FAIL() << "no error";
    } catch (const tq::CompressFileError& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("\"" + (dir_ / "folder.crp").u8string() + "\""), std::string::npos) << message;
        EXPECT_NE(message.find("Is a directory"), std::string::npos) << message;
        EXPECT_EQ(e.path(), dir_ / "folder.crp");
    }
    EXPECT_TRUE(fs::is_directory(dir_ / "folder.crp"));
    EXPECT_EQ(readFile(dir_ / "folder.crp" / "inside"), bytesOf("x"));
    EXPECT_EQ(entriesIn(dir_), 1u);
}

TEST_F(Files, SaveIntoAMissingFolderNamesTheFileAndTheReason)
{
    tq::TCompress c;
    compressStream(c, bytesOf("abc"), 2);
    const fs::path target = dir_ / "missing" / "m.crp";
    try {
        c.SaveToFile(target);
        FAIL() << "no error";
    } catch (const tq::CompressFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create \"" + target.u8string() + "\": No such file or directory");
    }
}

TEST_F(Files, LoadOfAMissingFileOrAFolderFailsClearly)
{
    tq::TCompress d;
    const fs::path missing = dir_ / "nothing.crp";
    try {
        d.LoadFromFile(missing);
        FAIL() << "no error";
    } catch (const tq::CompressFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + missing.u8string() + "\": No such file or directory");
        EXPECT_NE(e.errorCode(), 0);
    }
    EXPECT_THROW(d.LoadFromFile(dir_), tq::CompressFileError);
}

TEST_F(Files, FailedWriteKeepsTheOldFileAndLeavesNothingBehind)
{
#ifdef _WIN32
    GTEST_SKIP() << "the file size limit that makes the write fail is POSIX only";
#else
    // Limit the size of files this process may write, so that the write fails
    // part-way whoever runs the test.
    writeFile(dir_ / "memo.crp", bytesOf("previous"));
    tq::TCompress c;
    compressStream(c, randomBytes(6, 1500000, 256), 2);

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    std::string message;
    try {
        c.SaveToFile(dir_ / "memo.crp");
    } catch (const tq::CompressFileError& e) {
        threw = true;
        message = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_TRUE(threw);
    EXPECT_EQ(message.rfind("Cannot write \"" + (dir_ / "memo.crp").u8string() + "\": ", 0), 0u) << message;
    EXPECT_EQ(readFile(dir_ / "memo.crp"), bytesOf("previous"));
    EXPECT_EQ(entriesIn(dir_), 1u);
#endif
}

TEST_F(Files, UnwritableFolderKeepsTheOldFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "folders have no POSIX permission bits here";
#else
    if (geteuid() == 0) {
        GTEST_SKIP() << "folder permissions do not bind the superuser; covered by the failed-write test";
    }
    writeFile(dir_ / "memo.crp", bytesOf("previous"));
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    tq::TCompress c;
    compressStream(c, bytesOf("new content"), 2);
    EXPECT_THROW(c.SaveToFile(dir_ / "memo.crp"), tq::CompressFileError);
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(readFile(dir_ / "memo.crp"), bytesOf("previous"));
    EXPECT_EQ(entriesIn(dir_), 1u);
#endif
}
