// The frame container: exact bytes, entry bookkeeping, format limits, files,
// and damaged archives.
#include "archive/xfileframe.h"

#include "archive_test_support.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace tq {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::readBytes;
using testing::ScratchDir;
using testing::writeBytes;

struct ModelEntry {
    std::string name;
    std::uint8_t kind;
    Bytes payload;
};

void pushPair(Bytes& out, std::size_t value)
{
    out.push_back(static_cast<std::uint8_t>(value / 255));
    out.push_back(static_cast<std::uint8_t>(value % 255));
}

// The archive file the entries must give, built straight from the format.
Bytes referenceFile(const std::vector<ModelEntry>& entries)
{
    Bytes directory;
    pushPair(directory, entries.size());
    for (const ModelEntry& e : entries) {
        std::string field = std::to_string(e.payload.size());
        field.resize(11, ' ');
        directory.insert(directory.end(), field.begin(), field.end());
        directory.push_back(e.kind);
        pushPair(directory, e.name.size());
        directory.insert(directory.end(), e.name.begin(), e.name.end());
    }
    Bytes file;
    pushPair(file, directory.size());
    file.insert(file.end(), directory.begin(), directory.end());
    for (const ModelEntry& e : entries) {
        file.insert(file.end(), e.payload.begin(), e.payload.end());
    }
    return file;
}

// Directory walk over a file's bytes: the facts of record n, found by reading
// every record before it.
struct Walked {
    std::int64_t size;
    std::uint8_t kind;
    std::string name;
    std::int64_t offset;
};

Walked referenceWalk(const Bytes& file, int n)
{
    const std::size_t dirLength = file[0] * 255u + file[1];
    const std::uint8_t* dir = file.data() + 2;
    std::size_t at = 2;
    std::int64_t total = 0;
    for (int k = 1; at < dirLength; ++k) {
        std::string digits;
        for (int i = 0; i < 10; ++i) {
            if (dir[at + i] >= '0' && dir[at + i] <= '9') {
                digits.push_back(static_cast<char>(dir[at + i]));
            }
        }
        const std::int64_t size = std::stoll(digits);
        total += size;
        const std::size_t nameLength = dir[at + 12] * 255u + dir[at + 13];
        if (k == n) {
            return Walked{size, dir[at + 11],
                          std::string(reinterpret_cast<const char*>(dir + at + 14), nameLength), total - size};
        }
        at += 14 + nameLength;
    }
    ADD_FAILURE() << "record " << n << " not found";
    return Walked{};
}

void add(XFileFrame& frame, const ModelEntry& e)
{
    frame.AppendPayload(e.payload);
    frame.AddEntry(static_cast<std::int32_t>(e.payload.size()), e.name, e.kind);
}

// Everything the container reports must match the model and the format.
void expectMatches(const XFileFrame& frame, const std::vector<ModelEntry>& model)
{
    const Bytes expected = referenceFile(model);
    ASSERT_EQ(frame.ToBytes(), expected);
    ASSERT_EQ(frame.EntryCount(), static_cast<std::int32_t>(model.size()));
    ASSERT_EQ(frame.DirectoryLength(), expected[0] * 255 + expected[1]);
    ASSERT_EQ(static_cast<std::size_t>(frame.DataLength()),
              expected.size() - 2 - static_cast<std::size_t>(frame.DirectoryLength()));
    ASSERT_EQ(frame.Names().size(), model.size());
    for (std::size_t k = 0; k < model.size(); ++k) {
        const auto n = static_cast<std::int32_t>(k + 1);
        const Walked walked = referenceWalk(expected, n);
        EXPECT_EQ(frame.GetEntrySize(n), walked.size);
        EXPECT_EQ(frame.GetEntryKind(n), walked.kind);
        EXPECT_EQ(frame.GetEntryName(n), walked.name);
        EXPECT_EQ(frame.GetEntryOffset(n), walked.offset);
        EXPECT_EQ(frame.Names()[k], model[k].name);
        const std::uint8_t* payload = frame.GetEntryPayload(n);
        EXPECT_TRUE(std::equal(model[k].payload.begin(), model[k].payload.end(), payload));
        // Lookups find the first entry with an equal name, in any letter case.
        std::int32_t first = 0;
        for (std::size_t j = 0; j < model.size() && first == 0; ++j) {
            if (cp1252::equalsIgnoreCase(model[j].name, model[k].name)) {
                first = static_cast<std::int32_t>(j + 1);
            }
        }
        std::string upper = model[k].name;
        for (char& c : upper) {
            c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(frame.IndexOfName(model[k].name), first);
        EXPECT_EQ(frame.IndexOfName(upper), first);
    }
}

// ---------------------------------------------------------------------------

TEST(XFileFrameFormat, EmptyContainerIsFourBytesAndLoadsBackEmpty)
{
    XFileFrame frame;
    EXPECT_EQ(frame.ToBytes(), (Bytes{0x00, 0x02, 0x00, 0x00}));
    EXPECT_EQ(frame.DirectoryLength(), 2);
    EXPECT_EQ(frame.EntryCount(), 0);
    EXPECT_EQ(frame.DataLength(), 0);

    ScratchDir dir;
    frame.SaveToFile(dir / "empty.X");
    EXPECT_EQ(readBytes(dir / "empty.X"), (Bytes{0x00, 0x02, 0x00, 0x00}));

    XFileFrame loaded;
    loaded.LoadFromFile(dir / "empty.X");
    EXPECT_EQ(loaded.EntryCount(), 0);
    EXPECT_EQ(loaded.DirectoryLength(), 2);
    EXPECT_EQ(loaded.DataLength(), 0);
    EXPECT_TRUE(loaded.Names().empty());
}

TEST(XFileFrameFormat, OneEntryRecordHasTheDocumentedBytes)
{
    XFileFrame frame;
    frame.AppendPayload(bytesOf("1234567"));
    frame.AddEntry(7, "a.txt", 2);

    const Bytes expectedDirectory = {0x00, 0x01, '7', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                     0x02, 0x00, 0x05, 'a', '.', 't', 'x', 't'};
    EXPECT_EQ(frame.Directory(), expectedDirectory);
    EXPECT_EQ(frame.DirectoryLength(), 21);

    const Bytes file = frame.ToBytes();
    ASSERT_EQ(file.size(), 2u + 21u + 7u);
    EXPECT_EQ(file[0], 0x00);
    EXPECT_EQ(file[1], 0x15);
    EXPECT_EQ(Bytes(file.begin() + 23, file.end()), bytesOf("1234567"));
}

TEST(XFileFrameFormat, CountsAndLengthsAreBase255Pairs)
{
    for (std::int32_t v = 0; v <= XFileFrame::kMaxPairValue; ++v) {
        std::uint8_t pair[2];
        writePair(pair, v);
        ASSERT_EQ(readPair(pair), v);
    }
    std::uint8_t pair[2];
    writePair(pair, 255);
    EXPECT_EQ(pair[0], 0x01);
    EXPECT_EQ(pair[1], 0x00);
    writePair(pair, 254);
    EXPECT_EQ(pair[0], 0x00);
    EXPECT_EQ(pair[1], 0xFE);
    writePair(pair, 510);
    EXPECT_EQ(pair[0], 0x02);
    EXPECT_EQ(pair[1], 0x00);
    writePair(pair, 65279);
    EXPECT_EQ(pair[0], 0xFF);
    EXPECT_EQ(pair[1], 0xFE);

    // Name lengths in the record.
    for (const auto& [length, hi, lo] : std::vector<std::tuple<std::size_t, int, int>>{
             {254, 0x00, 0xFE}, {255, 0x01, 0x00}, {510, 0x02, 0x00}}) {
        XFileFrame frame;
        frame.AddEntry(0, std::string(length, 'n'), 2);
        EXPECT_EQ(frame.Directory()[2 + 12], hi) << length;
        EXPECT_EQ(frame.Directory()[2 + 13], lo) << length;
    }

    // A directory length of 255: one record with a 239-byte name.
    XFileFrame sized;
    sized.AddEntry(0, std::string(239, 'd'), 2);
    ASSERT_EQ(sized.DirectoryLength(), 255);
    EXPECT_EQ(sized.ToBytes()[0], 0x01);
    EXPECT_EQ(sized.ToBytes()[1], 0x00);

    // An entry count of 255.
    XFileFrame counted;
    for (int i = 0; i < 255; ++i) {
        counted.AddEntry(0, "e", 2);
    }
    EXPECT_EQ(counted.Directory()[0], 0x01);
    EXPECT_EQ(counted.Directory()[1], 0x00);
}

// ---------------------------------------------------------------------------

TEST(XFileFrameEntries, DeletingTheMiddleEntryMovesTheLastDown)
{
    XFileFrame frame;
    const std::vector<ModelEntry> all = {
        {"one", 2, bytesOf("AAA")}, {"two", 1, bytesOf("BBBBB")}, {"three", 3, bytesOf("CC")}};
    for (const auto& e : all) {
        add(frame, e);
    }
    EXPECT_EQ(frame.GetEntryOffset(3), 8);

    frame.DeleteEntry(2);
    EXPECT_EQ(frame.EntryCount(), 2);
    EXPECT_EQ(frame.GetEntryOffset(2), frame.GetEntrySize(1));
    EXPECT_EQ(frame.GetEntryName(2), "three");
    EXPECT_EQ(frame.DataArea(), bytesOf("AAACC"));
    EXPECT_EQ(frame.Names(), (std::vector<std::string>{"one", "three"}));
    expectMatches(frame, {all[0], all[2]});
}

TEST(XFileFrameEntries, LookupIgnoresLetterCaseAndFindsTheFirst)
{
    XFileFrame frame;
    frame.AddEntry(0, "A.TXT", 2);
    frame.AddEntry(0, "a.txt", 2);
    frame.AddEntry(0, "\xC9t\xE9.doc", 2); // Été.doc in Windows-1252
    frame.AddEntry(0, "stra\xDF" "e", 2);   // straße

    EXPECT_EQ(frame.IndexOfName("a.txt"), 1);
    EXPECT_EQ(frame.IndexOfName("A.TXT"), 1);
    EXPECT_EQ(frame.IndexOfName("A.txt"), 1);
    EXPECT_EQ(frame.IndexOfName("\xE9t\xC9.DOC"), 3); // étÉ.DOC
    EXPECT_EQ(frame.IndexOfName("STRA\xDF" "E"), 4);
    EXPECT_EQ(frame.IndexOfName("strasse"), 0);
    EXPECT_EQ(frame.IndexOfName("a.tx"), 0);
    EXPECT_EQ(frame.IndexOfName(""), 0);

    frame.DeleteEntry(1);
    EXPECT_EQ(frame.IndexOfName("A.TXT"), 1);
    EXPECT_EQ(frame.GetEntryName(1), "a.txt");
    frame.DeleteEntry(1);
    EXPECT_EQ(frame.IndexOfName("a.txt"), 0);
}

TEST(XFileFrameEntries, SizeIsReadFromTheDigitsOfTheFirstTenBytes)
{
    // "1 2" with the odd-size mark in the eleventh byte, which holds no digit: size 12.
    Bytes file = {0x00, 0x11, 0x00, 0x01, '1', ' ', '2', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 'o', 0x01, 0x00, 0x01, 'x'};
    const Bytes payload = bytesOf("0123456789AB");
    file.insert(file.end(), payload.begin(), payload.end());
    ScratchDir dir;
    writeBytes(dir / "odd.X", file);

    XFileFrame frame;
    frame.LoadFromFile(dir / "odd.X");
    EXPECT_EQ(frame.GetEntrySize(1), 12);
    EXPECT_EQ(frame.GetEntryName(1), "x");
    EXPECT_TRUE(frame.GetEntryOddMark(1));
    EXPECT_EQ(frame.DataLength(), 12);
    EXPECT_EQ(frame.ToBytes(), file);

    // The mark is written only when asked for.
    frame.AppendPayload(bytesOf("ab"));
    frame.AddEntry(2, "y", 1, true);
    frame.AppendPayload(bytesOf("cd"));
    frame.AddEntry(2, "z", 1);
    EXPECT_TRUE(frame.GetEntryOddMark(2));
    EXPECT_FALSE(frame.GetEntryOddMark(3));
    EXPECT_EQ(frame.Directory()[17 + 10], 'o');
    EXPECT_EQ(frame.Directory()[17 + 15 + 10], ' ');
}

TEST(XFileFrameEntries, RandomEditsMatchTheFormatExactly)
{
    std::mt19937 rng(20261208);
    const std::vector<std::string> names = {"a.txt", "A.TXT", "docs\\b.bin", "DOCS\\B.BIN", "\xE9t\xE9",
                                            "\xC9T\xC9", "c", ""};
    XFileFrame frame;
    std::vector<ModelEntry> model;
    for (int step = 0; step < 400; ++step) {
        const int action = std::uniform_int_distribution<int>(0, 9)(rng);
        if (action < 6 || model.empty()) {
            ModelEntry e{names[std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(rng)],
                         static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 3)(rng)),
                         testing::randomBytes(rng, std::uniform_int_distribution<std::size_t>(0, 300)(rng))};
            add(frame, e);
            model.push_back(e);
        } else if (action < 9) {
            const auto n = std::uniform_int_distribution<std::int32_t>(
                1, static_cast<std::int32_t>(model.size()))(rng);
            frame.DeleteEntry(n);
            model.erase(model.begin() + (n - 1));
        } else {
            // Several at once, in any order, with a repeat.
            std::vector<std::int32_t> doomed;
            const auto count = static_cast<std::int32_t>(model.size());
            for (int i = 0; i < 3; ++i) {
                doomed.push_back(std::uniform_int_distribution<std::int32_t>(1, count)(rng));
            }
            doomed.push_back(doomed.front());
            frame.DeleteEntries(doomed);
            std::sort(doomed.begin(), doomed.end());
            doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
            for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
                model.erase(model.begin() + (*it - 1));
            }
        }
        ASSERT_NO_FATAL_FAILURE(expectMatches(frame, model)) << "after step " << step;
    }
}

TEST(XFileFrameEntries, ClearAndReleaseSpareKeepWhatIsInUse)
{
    std::mt19937 rng(7);
    XFileFrame frame;
    const Bytes big = testing::randomBytes(rng, XFileFrame::kInitialDataCapacity + 5000);
    frame.AppendPayload(big);
    frame.AddEntry(static_cast<std::int32_t>(big.size()), "big", 3);
    const Bytes before = frame.ToBytes();

    frame.ReleaseSpare();
    EXPECT_EQ(frame.ToBytes(), before);

    frame.Clear();
    EXPECT_EQ(frame.ToBytes(), (Bytes{0, 2, 0, 0}));
    EXPECT_TRUE(frame.Names().empty());
    EXPECT_EQ(frame.IndexOfName("big"), 0);
    frame.ReleaseSpare();
    EXPECT_LE(frame.DataArea().capacity(), XFileFrame::kInitialDataCapacity);

    // Still usable after both.
    add(frame, {"again", 2, bytesOf("xyz")});
    expectMatches(frame, {{"again", 2, bytesOf("xyz")}});
}

// ---------------------------------------------------------------------------

TEST(XFileFrameLimits, TooLongNameIsRefusedWithoutChange)
{
    XFileFrame frame;
    add(frame, {"keep", 2, bytesOf("kept")});
    const Bytes before = frame.ToBytes();

    frame.AppendPayload(bytesOf("abc"));
    EXPECT_THROW(frame.AddEntry(3, std::string(65280, 'n'), 2), ArchiveError);
    EXPECT_EQ(frame.ToBytes(), before);
    EXPECT_EQ(frame.Names(), std::vector<std::string>{"keep"});
    EXPECT_THROW(frame.CheckNewEntry(std::string(65280, 'n')), ArchiveError);

    // The container goes on normally afterwards.
    add(frame, {"next", 2, bytesOf("nx")});
    expectMatches(frame, {{"keep", 2, bytesOf("kept")}, {"next", 2, bytesOf("nx")}});
}

TEST(XFileFrameLimits, DirectoryMayReachButNotPass65279Bytes)
{
    XFileFrame frame;
    const std::string longName(65279 - 2 - 14, 'L');
    frame.AppendPayload(bytesOf("p"));
    frame.AddEntry(1, longName, 2);
    ASSERT_EQ(frame.DirectoryLength(), 65279);
    EXPECT_EQ(frame.ToBytes()[0], 0xFF);
    EXPECT_EQ(frame.ToBytes()[1], 0xFE);

    const Bytes before = frame.ToBytes();
    EXPECT_THROW(frame.CheckNewEntry(""), ArchiveError);
    frame.AppendPayload(bytesOf("q"));
    try {
        frame.AddEntry(1, "", 2);
        FAIL() << "a record beyond the directory limit was accepted";
    } catch (const ArchiveError& e) {
        EXPECT_NE(std::string(e.what()).find("65279"), std::string::npos) << e.what();
    }
    EXPECT_EQ(frame.ToBytes(), before);

    ScratchDir dir;
    frame.SaveToFile(dir / "full.X");
    XFileFrame loaded;
    loaded.LoadFromFile(dir / "full.X");
    EXPECT_EQ(loaded.ToBytes(), before);
    EXPECT_EQ(loaded.GetEntryName(1), longName);
}

TEST(XFileFrameLimits, EntrySizeMustMatchTheAppendedPayload)
{
    XFileFrame frame;
    add(frame, {"first", 2, bytesOf("12")});
    const Bytes before = frame.ToBytes();

    frame.AppendPayload(bytesOf("12345"));
    EXPECT_THROW(frame.AddEntry(4, "short", 2), ArchiveError);
    EXPECT_EQ(frame.ToBytes(), before);
    EXPECT_THROW(frame.AddEntry(-1, "negative", 2), ArchiveError);
    EXPECT_THROW(frame.AddEntry(3, "nothing appended", 2), ArchiveError);
    EXPECT_EQ(frame.ToBytes(), before);
}

TEST(XFileFrameLimits, EntryNumbersOutsideTheListAreRefused)
{
    XFileFrame frame;
    add(frame, {"only", 2, bytesOf("x")});
    EXPECT_THROW(frame.GetEntrySize(0), ArchiveError);
    EXPECT_THROW(frame.GetEntryKind(2), ArchiveError);
    EXPECT_THROW(frame.GetEntryName(-1), ArchiveError);
    EXPECT_THROW(frame.GetEntryOffset(2), ArchiveError);
    EXPECT_THROW(frame.DeleteEntry(2), ArchiveError);
    EXPECT_THROW(frame.DeleteEntries({1, 2}), ArchiveError);
    EXPECT_EQ(frame.EntryCount(), 1); // the valid number of the batch was not deleted either
}

// ---------------------------------------------------------------------------

TEST(XFileFrameFiles, SaveAndLoadRoundTripManyEntries)
{
    std::mt19937 rng(99);
    XFileFrame frame;
    std::vector<ModelEntry> model;
    for (int i = 0; i < 1200; ++i) {
        ModelEntry e{"folder\\file" + std::to_string(i) + ".dat", static_cast<std::uint8_t>(1 + i % 3),
                     testing::randomBytes(rng, static_cast<std::size_t>(i % 97))};
        add(frame, e);
        model.push_back(e);
    }
    ScratchDir dir;
    frame.SaveToFile(dir / "many.X");
    EXPECT_EQ(readBytes(dir / "many.X"), referenceFile(model));

    XFileFrame loaded;
    loaded.LoadFromFile(dir / "many.X");
    expectMatches(loaded, model);
}

TEST(XFileFrameFiles, FilesShorterThanFourBytesLoadAsEmpty)
{
    ScratchDir dir;
    for (std::size_t size = 0; size < 4; ++size) {
        writeBytes(dir / "short.X", Bytes(size, 0x07));
        XFileFrame frame;
        add(frame, {"gone", 2, bytesOf("x")});
        frame.LoadFromFile(dir / "short.X");
        EXPECT_EQ(frame.ToBytes(), (Bytes{0, 2, 0, 0})) << size;
        EXPECT_TRUE(frame.Names().empty());
    }
}

TEST(XFileFrameFiles, FileErrorsNameTheFileAndLeaveTheContainer)
{
    ScratchDir dir;
    XFileFrame frame;
    add(frame, {"keep", 2, bytesOf("kept")});
    const Bytes before = frame.ToBytes();

    const std::string missing = dir / "missing.X";
    try {
        frame.LoadFromFile(missing);
        FAIL() << "loading a missing file succeeded";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + missing + "\": No such file or directory");
    }
    EXPECT_THROW(frame.LoadFromFile(dir.str()), ArchiveError); // a folder
    ASSERT_EQ(mkfifo((dir / "pipe.X").c_str(), 0600), 0);
    EXPECT_THROW(frame.LoadFromFile(dir / "pipe.X"), ArchiveError); // must not wait for a writer
    EXPECT_EQ(frame.ToBytes(), before);

    const std::string noFolder = dir / "no/such/folder/a.X";
    try {
        frame.SaveToFile(noFolder);
        FAIL() << "saving into a missing folder succeeded";
    } catch (const ArchiveError& e) {
        EXPECT_NE(std::string(e.what()).find(noFolder), std::string::npos) << e.what();
    }
}

TEST(XFileFrameFiles, SavingReplacesTheOldFileAndLeavesNoTemporaryFiles)
{
    ScratchDir dir;
    const std::string path = dir / "a.X";
    writeBytes(path, bytesOf("old content that is longer than the new"));
    XFileFrame frame;
    add(frame, {"n", 2, bytesOf("new")});
    frame.SaveToFile(path);
    EXPECT_EQ(readBytes(path), frame.ToBytes());

    // A save that cannot be renamed into place (a folder stands there) keeps it.
    std::filesystem::create_directory(dir / "b.X");
    EXPECT_THROW(frame.SaveToFile(dir / "b.X"), ArchiveError);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "b.X"));

    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.X", "b.X"}));

    // Saving onto a symbolic link replaces the file it names; the link stays.
    writeBytes(dir.path() / "real/target.X", bytesOf("old"));
    std::filesystem::create_symlink(dir.path() / "real/target.X", dir.path() / "link.X");
    frame.SaveToFile(dir / "link.X");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.X"));
    EXPECT_EQ(readBytes(dir.path() / "real/target.X"), frame.ToBytes());
}

// ---------------------------------------------------------------------------

Bytes validThreeEntryArchive()
{
    return referenceFile({{"first.txt", 2, bytesOf("first payload")},
                          {"sub\\second.bin", 3, bytesOf("2nd")},
                          {"third", 1, bytesOf("the third payload")}});
}

TEST(XFileFrameCorrupt, EachDefectIsRefusedWithItsReason)
{
    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    const Bytes record7 = {'7', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x02, 0x00, 0x01, 'a'};
    auto archive = [&](Bytes directory, const Bytes& data) {
        Bytes file;
        pushPair(file, directory.size());
        file.insert(file.end(), directory.begin(), directory.end());
        file.insert(file.end(), data.begin(), data.end());
        return file;
    };
    Bytes withRecord = {0x00, 0x01};
    withRecord.insert(withRecord.end(), record7.begin(), record7.end());
    Bytes noDigits = withRecord;
    noDigits[2] = ' ';
    Bytes hugeSize = withRecord;
    std::fill(hugeSize.begin() + 2, hugeSize.begin() + 12, '9');
    Bytes longName = withRecord;
    longName[15] = 0x09;
    Bytes countTwo = withRecord;
    countTwo[1] = 0x02;
    Bytes cutRecord = {0x00, 0x01, '7', ' ', ' '};
    Bytes badMark = withRecord;
    badMark[12] = '9';

    const std::vector<Case> cases = {
        {"directory past the end", {0x00, 0xFF, 0x00, 0x00, 0x01}, "runs past the end of the file"},
        {"directory too short", {0x00, 0x01, 0x00, 0x00}, "too small"},
        {"directory length beyond the format", {0xFF, 0xFF, 0x00, 0x00}, "beyond"},
        {"size without digits", archive(noDigits, bytesOf("1234567")), "no size"},
        {"size too large", archive(hugeSize, bytesOf("1234567")), "too large"},
        {"payload past the data", archive(withRecord, bytesOf("123456")), "runs past the end of the file"},
        {"name past the directory", archive(longName, bytesOf("1234567")), "name of entry 1"},
        {"count not matching", archive(countTwo, bytesOf("1234567")), "entry count says 2"},
        {"record cut off", archive(cutRecord, bytesOf("1234567")), "cut off"},
        {"bytes after the last payload", archive(withRecord, bytesOf("12345678")), "belong to no entry"},
        {"unknown byte after the size", archive(badMark, bytesOf("1234567")), "only a space or the odd-size mark"},
    };

    ScratchDir dir;
    for (const Case& c : cases) {
        const std::string path = dir / "bad.X";
        writeBytes(path, c.bytes);
        XFileFrame frame;
        add(frame, {"keep", 2, bytesOf("kept")});
        const Bytes before = frame.ToBytes();
        try {
            frame.LoadFromFile(path);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const ArchiveError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(path), std::string::npos) << c.what << ": " << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << c.what << ": " << message;
        }
        EXPECT_EQ(frame.ToBytes(), before) << c.what;
        EXPECT_EQ(frame.Names(), std::vector<std::string>{"keep"}) << c.what;
    }
}

TEST(XFileFrameCorrupt, EveryTruncationIsRefused)
{
    const Bytes whole = validThreeEntryArchive();
    ScratchDir dir;
    const std::string path = dir / "cut.X";
    for (std::size_t length = 0; length < whole.size(); ++length) {
        writeBytes(path, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length)));
        XFileFrame frame;
        if (length < 4) {
            frame.LoadFromFile(path);
            EXPECT_EQ(frame.EntryCount(), 0);
        } else {
            EXPECT_THROW(frame.LoadFromFile(path), ArchiveError) << "length " << length;
            EXPECT_EQ(frame.ToBytes(), (Bytes{0, 2, 0, 0}));
        }
    }
    writeBytes(path, whole);
    XFileFrame frame;
    frame.LoadFromFile(path);
    EXPECT_EQ(frame.ToBytes(), whole);
}

TEST(XFileFrameCorrupt, RandomDamageIsRefusedOrLoadsConsistently)
{
    std::mt19937 rng(4242);
    const Bytes whole = validThreeEntryArchive();
    const std::size_t headerAndDirectory = 2 + static_cast<std::size_t>(whole[0] * 255 + whole[1]);
    ScratchDir dir;
    const std::string path = dir / "damaged.X";
    int accepted = 0;
    for (int round = 0; round < 600; ++round) {
        Bytes damaged = whole;
        const int flips = std::uniform_int_distribution<int>(1, 4)(rng);
        for (int f = 0; f < flips; ++f) {
            const auto at = std::uniform_int_distribution<std::size_t>(0, headerAndDirectory - 1)(rng);
            damaged[at] = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng));
        }
        if (round % 5 == 0) {
            damaged.resize(std::uniform_int_distribution<std::size_t>(0, damaged.size())(rng));
        }
        writeBytes(path, damaged);
        XFileFrame frame;
        try {
            frame.LoadFromFile(path);
        } catch (const ArchiveError&) {
            EXPECT_EQ(frame.ToBytes(), (Bytes{0, 2, 0, 0}));
            continue;
        }
        ++accepted;
        // What loads is self-consistent and saves back to an equal container.
        std::int64_t total = 0;
        for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
            ASSERT_EQ(frame.GetEntryOffset(n), total);
            total += frame.GetEntrySize(n);
        }
        ASSERT_EQ(total, frame.DataLength());
        frame.SaveToFile(path);
        XFileFrame again;
        again.LoadFromFile(path);
        ASSERT_EQ(again.EntryCount(), frame.EntryCount());
        EXPECT_EQ(again.Names(), frame.Names());
        EXPECT_EQ(again.DataArea(), frame.DataArea());
    }
    // Some damage (e.g. in name bytes) keeps a valid archive; most does not.
    EXPECT_GT(accepted, 0);
    EXPECT_LT(accepted, 600);
}

} // namespace
} // namespace tq
