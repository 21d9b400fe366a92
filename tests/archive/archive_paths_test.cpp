// Path routines: backslash paths, entry names of added files and folders, folder
// listing, and the safety of extraction paths.
#include "archive/archive_paths.h"

#include "archive_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tq {
namespace {

namespace fs = std::filesystem;
using testing::bytesOf;
using testing::ScratchDir;
using testing::writeBytes;

TEST(ArchivePathRoutines, DepthAndComponentsOfBackslashPaths)
{
    EXPECT_EQ(PathDepth("C:\\data\\docs"), 3);
    EXPECT_EQ(PathDepth("C:\\data\\docs\\"), 3);
    EXPECT_EQ(PathDepth("\\data\\docs"), 2);
    EXPECT_EQ(PathDepth("a"), 1);
    EXPECT_EQ(PathDepth(""), 0);

    EXPECT_EQ(PathComponent("C:\\data\\docs", 0), "");
    EXPECT_EQ(PathComponent("C:\\data\\docs", 1), "C:");
    EXPECT_EQ(PathComponent("C:\\data\\docs", 2), "data");
    EXPECT_EQ(PathComponent("C:\\data\\docs", 3), "docs");
    EXPECT_EQ(PathComponent("C:\\data\\docs", 4), "");
    EXPECT_EQ(PathComponent("C:\\data\\docs\\", 3), "docs");
    EXPECT_EQ(PathComponent("", 1), "");

    // The naming rule of an added folder, worked through with these routines:
    // drop the first d + L - 1 characters, L being the lengths of components 0..d-1.
    const std::string folder = "C:\\data\\docs";
    const std::string file = "C:\\data\\docs\\sub\\a.txt";
    const std::int32_t d = PathDepth(folder);
    std::size_t l = 0;
    for (std::int32_t k = 0; k < d; ++k) {
        l += PathComponent(folder, k).size();
    }
    EXPECT_EQ(file.substr(static_cast<std::size_t>(d) + l - 1), "docs\\sub\\a.txt");
}

TEST(ArchiveEntryNames, FilesAddedAloneUseTheirBareName)
{
    EXPECT_EQ(bareEntryName("/home/u/notes.txt"), "notes.txt");
    EXPECT_EQ(bareEntryName("rel/dir/x"), "x");
    // UTF-8 on disk, Windows-1252 in the archive: é = E9, € = 80.
    EXPECT_EQ(bareEntryName("/tmp/caf\xC3\xA9-\xE2\x82\xAC.txt"), "caf\xE9-\x80.txt");
}

TEST(ArchiveEntryNames, NamesWindows1252CannotHoldAreRefused)
{
    struct Bad {
        std::string path;
        std::string named; // what the message must show of it
    };
    std::vector<Bad> bad = {
        {"/tmp/\xE4\xB8\xAD.txt", "/tmp/\xE4\xB8\xAD.txt"}, // a CJK character
        {"/tmp/\xFF\xFEraw.bin", "raw.bin"},                // not UTF-8 at all
    };
#ifndef _WIN32
    // A backslash would become a folder separator (on Windows it is one already).
    bad.push_back({"/tmp/back\\slash.txt", "/tmp/back\\slash.txt"});
#endif
    for (const Bad& b : bad) {
        try {
            bareEntryName(b.path);
            ADD_FAILURE() << b.path << " was accepted";
        } catch (const ArchiveError& e) {
            EXPECT_NE(std::string(e.what()).find(b.named), std::string::npos) << e.what();
        }
    }
    try {
        bareEntryName("/tmp/\xE4\xB8\xAD.txt");
    } catch (const ArchiveError& e) {
        EXPECT_NE(std::string(e.what()).find("U+4E2D"), std::string::npos) << e.what();
    }
}

TEST(ArchiveEntryNames, FolderFilesAreNamedFromTheFoldersParent)
{
    EXPECT_EQ(folderEntryName("/data/docs", "/data/docs/sub/a.txt"), "docs\\sub\\a.txt");
    EXPECT_EQ(folderEntryName("/data/docs/", "/data/docs/a.txt"), "docs\\a.txt");
    EXPECT_EQ(folderEntryName("/data/docs", "/data/docs/\xC3\xA9t\xC3\xA9/x"), "docs\\\xE9t\xE9\\x");
    // A root folder names its files without the root.
    EXPECT_EQ(folderEntryName("/", "/a.txt"), "a.txt");
    EXPECT_EQ(folderEntryName("/", "/sub/b.txt"), "sub\\b.txt");
    // One-letter folder names.
    EXPECT_EQ(folderEntryName("/tmp/x/a", "/tmp/x/a/f"), "a\\f");

    EXPECT_THROW(folderEntryName("/data/docs", "/data/other/a.txt"), ArchiveError);
    EXPECT_THROW(folderEntryName("/data/docs", "/data/docs/\xE4\xB8\xAD"), ArchiveError);
}

// ---------------------------------------------------------------------------

std::vector<std::string> relativeTo(const fs::path& base, const std::vector<std::string>& files)
{
    std::vector<std::string> out;
    for (const std::string& f : files) {
        out.push_back(fs::u8path(f).lexically_relative(base).generic_u8string());
    }
    return out;
}

TEST(ArchiveFolderListing, BreadthFirstAndSortedWithoutRegardToCase)
{
    ScratchDir dir;
    const fs::path root = dir.path() / "docs";
    for (const char* f : {"b.txt", "A.txt", "c.txt", "Z/z1", "Z/deep/d1", "y/Y2", "y/y1", "y/inner/i1"}) {
        writeBytes(root / f, bytesOf(f));
    }
    fs::create_directories(root / "empty");

    const std::vector<std::string> files = ListFolderFiles(root.u8string());
    EXPECT_EQ(relativeTo(root, files),
              (std::vector<std::string>{"A.txt", "b.txt", "c.txt", "y/y1", "y/Y2", "Z/z1", "y/inner/i1",
                                        "Z/deep/d1"}));

    // The same with a trailing separator, and the entry names of the files.
    EXPECT_EQ(ListFolderFiles(root.u8string() + "/"), files);
    std::vector<std::string> names;
    for (const std::string& f : files) {
        names.push_back(folderEntryName(root.u8string(), f));
    }
    EXPECT_EQ(names[0], "docs\\A.txt");
    EXPECT_EQ(names[6], "docs\\y\\inner\\i1");
}

TEST(ArchiveFolderListing, OneLetterFolderListsOnlyItsOwnFiles)
{
    ScratchDir dir;
    writeBytes(dir.path() / "x/a/own.txt", bytesOf("own"));
    writeBytes(dir.path() / "x/a/sub/deeper.txt", bytesOf("deeper"));
    writeBytes(dir.path() / "x/abc/other.txt", bytesOf("other"));
    writeBytes(dir.path() / "x/a.txt", bytesOf("sibling"));

    const std::string folder = (dir.path() / "x/a").u8string();
    const auto files = ListFolderFiles(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(folderEntryName(folder, files[0]), "a\\own.txt");
    EXPECT_EQ(folderEntryName(folder, files[1]), "a\\sub\\deeper.txt");
}

TEST(ArchiveFolderListing, LinksToFoldersAreNotFollowedButLinksToFilesAre)
{
    ScratchDir dir;
    TQ_SKIP_WITHOUT_SYMLINKS(dir.path());
    const fs::path root = dir.path() / "r";
    writeBytes(root / "real.txt", bytesOf("real"));
    writeBytes(dir.path() / "outside.txt", bytesOf("outside"));
    fs::create_directory_symlink(root, root / "loop");             // would never end if followed
    fs::create_symlink(dir.path() / "outside.txt", root / "link.txt");
    fs::create_symlink(dir.path() / "nowhere", root / "dangling");

    EXPECT_EQ(relativeTo(root, ListFolderFiles(root.u8string())),
              (std::vector<std::string>{"link.txt", "real.txt"}));
}

TEST(ArchiveFolderListing, MissingFolderIsAnError)
{
    ScratchDir dir;
    try {
        ListFolderFiles(dir / "absent");
        FAIL() << "listing a missing folder succeeded";
    } catch (const ArchiveError& e) {
        EXPECT_NE(std::string(e.what()).find(dir / "absent"), std::string::npos) << e.what();
    }
    writeBytes(dir.path() / "plain", bytesOf("x"));
    EXPECT_THROW(ListFolderFiles(dir / "plain"), ArchiveError);
}

// ---------------------------------------------------------------------------

TEST(ArchiveExtractPaths, NamesThatStayInsideTheTargetAreJoined)
{
    using testing::preferred;
    EXPECT_EQ(safeExtractPath("/out", "a.txt"), preferred("/out/a.txt"));
    EXPECT_EQ(safeExtractPath("/out", "docs\\sub\\a.txt"), preferred("/out/docs/sub/a.txt"));
    EXPECT_EQ(safeExtractPath("/out/", "docs\\a.txt"), preferred("/out/docs/a.txt"));
    EXPECT_EQ(safeExtractPath("/out", "..a\\b..c\\.c"), preferred("/out/..a/b..c/.c"));
    EXPECT_EQ(safeExtractPath("/out", "caf\xE9"), preferred("/out/caf\xC3\xA9"));
    // Names that only resemble device names are files like any other.
    EXPECT_EQ(safeExtractPath("/out", "COM10\\console.txt\\nul_x\\LPT0\\auxiliary"),
              preferred("/out/COM10/console.txt/nul_x/LPT0/auxiliary"));
}

TEST(ArchiveExtractPaths, NamesThatCouldLeaveTheTargetAreRefused)
{
    const std::vector<std::string> unsafe = {
        "",
        "\\abs.txt",
        "/abs.txt",
        "C:\\Windows\\x.dll",
        "c:relative.txt",
        "..",
        ".",
        "..\\up.txt",
        "a\\..\\..\\up.txt",
        "a/../../up.txt",
        "a\\.\\b",
        "a\\\\b",
        "a\\",
        "dir/",
        ". .",
        "...",
        "a\\.. \\b",
        std::string("a\0b", 3),
        // Windows would drop the final dot or space ("trail." and "trail" would meet).
        "trail.",
        "space ",
        "dir.\\x.txt",
        // Windows device names, with any extension, in any component.
        "NUL",
        "con.txt",
        "AUX",
        "COM1",
        "lpt9.tar.gz",
        "dir\\PRN.log",
        "Con .txt",
        "com\xB9",
        "CONOUT$",
    };
    for (const std::string& name : unsafe) {
        try {
            safeExtractPath("/out", name);
            ADD_FAILURE() << "accepted \"" << name << "\"";
        } catch (const ArchiveError& e) {
            EXPECT_NE(std::string(e.what()).find("cannot be extracted"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(safeExtractPath("", "a.txt"), ArchiveError);
}

TEST(ArchiveExtractPaths, FoldersAreCreatedInsideTheTargetOnly)
{
    ScratchDir dir;
    const fs::path target = dir.path() / "target";
    fs::create_directory(target);

    const std::string out = prepareExtractPath(target.u8string(), "docs\\sub\\a.txt");
    EXPECT_EQ(out, testing::preferred(target / "docs/sub/a.txt"));
    EXPECT_TRUE(fs::is_directory(target / "docs/sub"));
    EXPECT_FALSE(fs::exists(out)); // only the folders are made
    // Existing folders are used as they are.
    EXPECT_EQ(prepareExtractPath(target.u8string(), "docs\\b.txt"), testing::preferred(target / "docs/b.txt"));

    // A link on the way could lead anywhere: refused, nothing made beyond it.
    if (testing::canMakeSymlinks(dir.path())) {
        fs::create_directory(dir.path() / "elsewhere");
        fs::create_directory_symlink(dir.path() / "elsewhere", target / "link");
        EXPECT_THROW(prepareExtractPath(target.u8string(), "link\\inner\\x.txt"), ArchiveError);
        EXPECT_FALSE(fs::exists(dir.path() / "elsewhere/inner"));
    }

    // A file where a folder is needed.
    writeBytes(target / "file", bytesOf("x"));
    EXPECT_THROW(prepareExtractPath(target.u8string(), "file\\x.txt"), ArchiveError);

    // Unsafe names create nothing at all.
    EXPECT_THROW(prepareExtractPath(target.u8string(), "new\\..\\..\\x"), ArchiveError);
    EXPECT_FALSE(fs::exists(target / "new"));
}

} // namespace
} // namespace tq
