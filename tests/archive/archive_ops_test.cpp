// Adding files to an archive and extracting them again.
#include "archive/archive_ops.h"

#include "archive/archive_paths.h"
#include "archive/archive_plan.h"
#include "archive_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace tq {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::bytesOf;
using testing::readBytes;
using testing::ScratchDir;
using testing::writeBytes;

// Options that make table building reproducible: no sort time limit.
AddOptions untimed(ArchiveKeys keys = {})
{
    AddOptions options;
    options.keys = keys;
    options.applyTimeLimit = true;
    options.timeLimitOn = false;
    return options;
}

// The compressed stream of `bytes` made directly with the compressor, table unshifted.
Bytes plainStream(const Bytes& bytes, std::int32_t skip)
{
    TCompress c;
    c.Reset();
    c.Bytes.TimeLimitOn = false;
    c.Bytes.SetData(bytes.data(), bytes.size());
    c.Bytes.BuildTable(skip);
    c.Bytes.SortTable();
    c.CompressData();
    c.Bytes.PrependTable();
    return Bytes(c.Bytes.data(), c.Bytes.data() + c.Bytes.size());
}

Bytes payloadOf(const XFileFrame& frame, std::int32_t n)
{
    const std::uint8_t* p = frame.GetEntryPayload(n);
    return Bytes(p, p + frame.GetEntrySize(n));
}

TEST(ArchiveAdd, KindFollowsTheFileSizeAlone)
{
    EXPECT_EQ(kindForFileSize(0), kKindSmallStored);
    EXPECT_EQ(kindForFileSize(1024), kKindSmallStored);
    EXPECT_EQ(kindForFileSize(1025), kKindCompressed);
    EXPECT_EQ(kindForFileSize(154754), kKindCompressed);
    EXPECT_EQ(kindForFileSize(154755), kKindLargeStored);

    std::mt19937 rng(1);
    ScratchDir dir;
    XFileFrame frame;
    TCompress compressor;
    const std::vector<std::pair<std::size_t, std::uint8_t>> sizes = {
        {1024, 2}, {1025, 1}, {154754, 1}, {154755, 3}, {0, 2}};
    std::vector<Bytes> originals;
    for (const auto& [size, kind] : sizes) {
        const Bytes content = testing::textBytes(rng, size);
        const std::string path = dir / ("f" + std::to_string(size));
        writeBytes(path, content);
        const AddResult r = addFileToArchive(frame, compressor, {path, "f" + std::to_string(size)}, untimed());
        EXPECT_EQ(r.kind, kind) << size;
        EXPECT_EQ(r.payloadSize, frame.GetEntrySize(frame.EntryCount()));
        if (kind != kKindCompressed) {
            EXPECT_EQ(r.ratio, 0);
            EXPECT_EQ(payloadOf(frame, frame.EntryCount()), content) << size;
        }
        originals.push_back(content);
    }
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i + 1);
        const ExtractResult x = extractEntryAt(frame, compressor, n, dir / "out", {});
        EXPECT_EQ(readBytes(x.outputPath), originals[i]) << sizes[i].first;
    }
}

// Byte 10 of the size field of every record of an archive file, in entry order.
std::vector<std::uint8_t> sizeMarks(const Bytes& file)
{
    std::vector<std::uint8_t> marks;
    const std::size_t end = 2 + file[0] * 255u + file[1];
    for (std::size_t at = 4; at < end; at += 14 + file[at + 12] * 255u + file[at + 13]) {
        marks.push_back(file[at + 10]);
    }
    return marks;
}

// Files of every size around the compression limits go through an archive file
// and come back byte for byte; the odd-size mark stands exactly on the compressed
// entries of odd size. Without the marks (another program's archive) those come
// back with their padding byte, as before.
TEST(ArchiveRoundTrip, EveryFileComesBackExactlyAndOddCompressedOnesAreMarked)
{
    std::vector<std::size_t> sizes;
    for (std::size_t size = 1020; size <= 1040; ++size) {
        sizes.push_back(size);
    }
    sizes.push_back(154753);
    sizes.push_back(154754);
    std::mt19937 rng(10);
    ScratchDir dir;
    std::vector<Bytes> originals;
    std::vector<std::string> paths;
    for (std::size_t size : sizes) {
        originals.push_back(size % 3 == 0 ? testing::randomBytes(rng, size) : testing::textBytes(rng, size));
        paths.push_back(dir / ("in/f" + std::to_string(size)));
        writeBytes(paths.back(), originals.back());
    }
    XFileFrame frame;
    TCompress compressor;
    addFilesToArchive(frame, compressor, filesToAdd(paths), untimed());
    frame.SaveToFile(dir / "marked.X");

    const Bytes file = readBytes(dir / "marked.X");
    const std::vector<std::uint8_t> marks = sizeMarks(file);
    ASSERT_EQ(marks.size(), sizes.size());
    Bytes unmarked = file;
    for (std::size_t at = 4, i = 0; i < sizes.size(); ++i) {
        unmarked[at + 10] = ' ';
        at += 14 + file[at + 12] * 255u + file[at + 13];
    }
    writeBytes(dir / "unmarked.X", unmarked);

    // The size estimate of a marked entry counts one byte less.
    std::vector<std::int64_t> estimates;
    for (const char* archive : {"marked.X", "unmarked.X"}) {
        const bool markedArchive = std::string(archive) == "marked.X";
        XFileFrame loaded;
        loaded.LoadFromFile(dir / archive);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            SCOPED_TRACE(std::string(archive) + ", " + std::to_string(sizes[i]) + " bytes");
            const auto n = static_cast<std::int32_t>(i + 1);
            const bool odd = sizes[i] % 2 == 1;
            const bool compressed = kindForFileSize(static_cast<std::int64_t>(sizes[i])) == kKindCompressed;
            EXPECT_EQ(loaded.GetEntryKind(n), compressed ? kKindCompressed : kKindSmallStored);
            EXPECT_EQ(marks[i], compressed && odd ? 'o' : ' ');
            Bytes expected = originals[i];
            if (!markedArchive && compressed && odd) {
                expected.push_back(0x00);
            }
            const ExtractResult x = extractEntryAt(loaded, compressor, n, dir / ("out-" + std::string(archive)), {});
            EXPECT_EQ(readBytes(x.outputPath), expected);
            EXPECT_EQ(x.bytesWritten, static_cast<std::int64_t>(expected.size()));
            const std::int64_t estimate = entrySizes(loaded, compressor, n).estimate;
            if (markedArchive) {
                estimates.push_back(estimate);
            } else {
                EXPECT_EQ(estimate - estimates[i], compressed && odd ? 1 : 0);
            }
            if (!compressed) {
                EXPECT_EQ(estimate, static_cast<std::int64_t>(sizes[i]));
            }
        }
        // Whatever loads saves back to the same bytes.
        EXPECT_EQ(loaded.ToBytes(), markedArchive ? file : unmarked);
    }
}

TEST(ArchiveAdd, CompressedPayloadBelow1025BytesIsStillKindOne)
{
    ScratchDir dir;
    Bytes content;
    for (int i = 0; i < 515; ++i) {
        content.push_back('a');
        content.push_back('b');
    }
    writeBytes(dir / "ab.txt", content);
    XFileFrame frame;
    TCompress compressor;
    const AddResult r = addFileToArchive(frame, compressor, {dir / "ab.txt", "ab.txt"}, untimed());
    EXPECT_EQ(r.kind, kKindCompressed);
    EXPECT_EQ(r.payloadSize, 1021); // 506 table bytes and one code per pair
    EXPECT_GT(r.ratio, 0);
    extractEntry(frame, compressor, "AB.TXT", dir / "out", {});
    EXPECT_EQ(readBytes(dir / "out/ab.txt"), content);
}

TEST(ArchiveAdd, TableIsStoredShiftedByTheArchiveKeys)
{
    std::mt19937 rng(2);
    ScratchDir dir;
    const Bytes content = testing::textBytes(rng, 5000);
    writeBytes(dir / "t.txt", content);
    const Bytes plain = plainStream(content, 2);

    XFileFrame frame;
    TCompress compressor;
    addFileToArchive(frame, compressor, {dir / "t.txt", "zero"}, untimed({0, 0}));
    EXPECT_EQ(payloadOf(frame, 1), plain);
    extractEntry(frame, compressor, "zero", dir / "out", {0, 0});
    EXPECT_EQ(readBytes(dir / "out/zero"), content);

    addFileToArchive(frame, compressor, {dir / "t.txt", "keyed"}, untimed({97, 43}));
    const Bytes keyed = payloadOf(frame, 2);
    ASSERT_EQ(keyed.size(), plain.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        const int shift = i >= 506 ? 0 : (i % 2 == 0 ? 97 : 43);
        ASSERT_EQ(keyed[i], static_cast<std::uint8_t>(plain[i] + shift)) << "byte " << i;
    }
}

TEST(ArchiveExtract, WrongKeysGiveOtherBytesWithoutAnError)
{
    std::mt19937 rng(3);
    ScratchDir dir;
    const Bytes content = testing::textBytes(rng, 20000);
    writeBytes(dir / "k.txt", content);
    XFileFrame frame;
    TCompress compressor;
    addFileToArchive(frame, compressor, {dir / "k.txt", "k.txt"}, untimed({11, 200}));

    extractEntry(frame, compressor, "k.txt", dir / "right", {11, 200});
    EXPECT_EQ(readBytes(dir / "right/k.txt"), content);

    ExtractResult wrong;
    EXPECT_NO_THROW(wrong = extractEntry(frame, compressor, "k.txt", dir / "wrong", {kDefaultArchiveKey1,
                                                                                     kDefaultArchiveKey2}));
    const Bytes garbled = readBytes(wrong.outputPath);
    EXPECT_NE(garbled, content);
    EXPECT_EQ(garbled.size(), content.size()); // the code stream itself is unchanged
}

TEST(ArchiveAdd, ArchiveFilesAreStoredWithTheirTrailer)
{
    std::mt19937 rng(4);
    ScratchDir dir;
    // Content ending in a compressed-stream trailer: 0xFF 0x00 and a name.
    Bytes small = testing::textBytes(rng, 600);
    Bytes large = testing::textBytes(rng, 8000);
    for (Bytes* b : {&small, &large}) {
        b->push_back(0xFF);
        b->push_back(0x00);
        for (char c : std::string("memo.crp")) {
            b->push_back(static_cast<std::uint8_t>(c));
        }
    }
    writeBytes(dir / "small.X", small);
    writeBytes(dir / "large.x", large);

    XFileFrame frame;
    TCompress compressor;
    const auto results = addFilesToArchive(frame, compressor, filesToAdd({dir / "small.X", dir / "large.x"}),
                                           untimed());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].kind, kKindSmallStored);
    EXPECT_EQ(payloadOf(frame, 1), small);
    EXPECT_EQ(results[1].kind, kKindCompressed);
    EXPECT_EQ(frame.Names(), (std::vector<std::string>{"small.X", "large.x"}));

    extractEntryAt(frame, compressor, 1, dir / "out", {});
    extractEntryAt(frame, compressor, 2, dir / "out", {});
    EXPECT_EQ(readBytes(dir / "out/small.X"), small);
    EXPECT_EQ(readBytes(dir / "out/large.x"), large);
}

struct StopContext {
    TCompress* compressor;
    bool* stop;
    int calls = 0;
};

TEST(ArchiveAdd, StopEndsTheTableEarlyAndStartsNoFurtherFile)
{
    std::mt19937 rng(5);
    ScratchDir dir;
    std::vector<Bytes> contents;
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {
        contents.push_back(testing::textBytes(rng, 60000));
        paths.push_back(dir / ("s" + std::to_string(i) + ".txt"));
        writeBytes(paths.back(), contents.back());
    }

    XFileFrame frame;
    TCompress compressor;
    bool stop = false;
    StopContext context{&compressor, &stop};
    // A stop click arriving while the first file is worked on.
    compressor.Yield.set(
        [](void* p) {
            auto* c = static_cast<StopContext*>(p);
            if (++c->calls == 3) {
                c->compressor->Bytes.Abort = true;
                *c->stop = true;
            }
        },
        &context, 1);

    const auto results = addFilesToArchive(frame, compressor, filesToAdd(paths), untimed(), nullptr, &stop);
    ASSERT_EQ(results.size(), 1u);
    ASSERT_EQ(frame.EntryCount(), 1);
    EXPECT_EQ(results[0].kind, kKindCompressed);
    // The table was cut short: it is not the table a full pass builds.
    const Bytes full = plainStream(contents[0], 2);
    Bytes table = payloadOf(frame, 1);
    table.resize(506);
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<std::uint8_t>(table[i] - (i % 2 == 0 ? kDefaultArchiveKey1 : kDefaultArchiveKey2));
    }
    EXPECT_NE(table, Bytes(full.begin(), full.begin() + 506));

    compressor.Yield.set(nullptr, nullptr);
    extractEntryAt(frame, compressor, 1, dir / "out", {});
    EXPECT_EQ(readBytes(dir / "out/s0.txt"), contents[0]);

    // A stop requested before the command starts adds nothing.
    XFileFrame untouched;
    stop = true;
    EXPECT_TRUE(addFilesToArchive(untouched, compressor, filesToAdd(paths), untimed(), nullptr, &stop).empty());
    EXPECT_EQ(untouched.EntryCount(), 0);
}

TEST(ArchiveAdd, ProgressNamesEveryStep)
{
    std::mt19937 rng(6);
    ScratchDir dir;
    writeBytes(dir / "c.txt", testing::textBytes(rng, 3000));
    writeBytes(dir / "s.txt", testing::textBytes(rng, 300));

    std::vector<std::string> texts;
    std::vector<std::string> steps;
    ArchiveProgress progress;
    progress.status = [&](const std::string& t) { texts.push_back(t); };
    progress.step = [&](std::size_t i, std::size_t n, int k) {
        steps.push_back(std::to_string(i) + "/" + std::to_string(n) + ":" + std::to_string(k));
    };

    XFileFrame frame;
    TCompress compressor;
    addFilesToArchive(frame, compressor, filesToAdd({dir / "c.txt", dir / "s.txt"}), untimed(), &progress);
    EXPECT_EQ(texts, (std::vector<std::string>{"Bestand openen", "Maken van tabel", "Tabel sorteren", "Comprimeren",
                                               "Tabel plaatsen", "In frame plaatsen", "", "Bestand openen",
                                               "In frame plaatsen", ""}));
    EXPECT_EQ(steps, (std::vector<std::string>{"0/2:1", "0/2:2", "0/2:3", "0/2:4", "1/2:3", "1/2:4"}));

    // Adding a folder announces the table for every file, before the size test.
    texts.clear();
    AddOptions folderOptions = untimed();
    folderOptions.tableStatusForEveryFile = true;
    addFileToArchive(frame, compressor, {dir / "s.txt", "again"}, folderOptions, &progress);
    EXPECT_EQ(texts, (std::vector<std::string>{"Bestand openen", "Maken van tabel", "In frame plaatsen", ""}));

    texts.clear();
    steps.clear();
    extractEntryAt(frame, compressor, 1, dir / "out", {}, &progress);
    EXPECT_EQ(texts, (std::vector<std::string>{"Lezen", "Tabel splitsen", "Decomprimeren", "Opslaan", ""}));
    EXPECT_EQ(steps, (std::vector<std::string>{"0/1:1", "0/1:2", "0/1:3", "0/1:4"}));
}

TEST(ArchiveAdd, RefusedFilesLeaveTheArchiveUnchanged)
{
    ScratchDir dir;
    writeBytes(dir / "ok.txt", bytesOf("fine"));
    XFileFrame frame;
    TCompress compressor;
    addFileToArchive(frame, compressor, {dir / "ok.txt", "ok.txt"}, untimed());
    const Bytes before = frame.ToBytes();

    try {
        addFileToArchive(frame, compressor, {dir / "gone.txt", "gone.txt"}, untimed());
        FAIL() << "a missing file was added";
    } catch (const ArchiveError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open \"" + (dir / "gone.txt") + "\": No such file or directory");
    }
    EXPECT_THROW(addFileToArchive(frame, compressor, {dir / "ok.txt", std::string(70000, 'n')}, untimed()),
                 ArchiveError);
    EXPECT_THROW(filesToAdd({dir / "\xE4\xB8\xAD.txt"}), ArchiveError);
    EXPECT_EQ(frame.ToBytes(), before);
}

TEST(ArchiveAdd, MeanPercentageOverTheChosenFiles)
{
    auto results = [](std::vector<std::int32_t> ratios) {
        std::vector<AddResult> r;
        for (auto v : ratios) {
            AddResult a;
            a.ratio = v;
            r.push_back(a);
        }
        return r;
    };
    EXPECT_EQ(meanRatio(results({37}), 1), 37);
    EXPECT_EQ(meanRatio(results({20, 30, 40}), 3), 30);
    EXPECT_EQ(meanRatio(results({0, 0}), 2), 0);
    EXPECT_EQ(meanRatio(results({10, -5}), 2), 2);   // 5 / 2, truncated
    EXPECT_EQ(meanRatio(results({-7, 0}), 2), -3);   // toward zero
    EXPECT_EQ(meanRatio(results({40}), 3), 13);      // stopped after one of three
    EXPECT_EQ(meanRatio({}, 0), 0);
}

TEST(ArchivePlan, RepeatedNamesTakeTheirEntriesInTurn)
{
    XFileFrame frame;
    for (const char* name : {"a.txt", "b.txt", "A.TXT", "a.txt"}) {
        frame.AppendPayload(bytesOf("x"));
        frame.AddEntry(1, name, kKindSmallStored);
    }
    using Numbers = std::vector<std::int32_t>;
    // The list as the window sorts it: every entry once.
    EXPECT_EQ(entriesForNames(frame, {"a.txt", "A.TXT", "a.txt", "b.txt"}), (Numbers{1, 3, 4, 2}));
    // Names beyond the entries of that name, and unknown names, give 0.
    EXPECT_EQ(entriesForNames(frame, {"B.TXT", "b.txt", "c", "a.txt"}), (Numbers{2, 0, 0, 1}));
    EXPECT_EQ(entriesForNames(frame, {}), Numbers{});
}

TEST(ArchivePlan, AnAddPastALimitIsRefusedWholeNamingTheLimitAndHowManyWouldFit)
{
    // One entry "a.txt" already: the directory holds 2 + 14 + 5 = 21 bytes.
    XFileFrame frame;
    frame.AppendPayload(bytesOf("x"));
    frame.AddEntry(1, "a.txt", kKindSmallStored);
    auto named = [](std::size_t count, std::size_t length) {
        std::vector<FileToAdd> files(count);
        for (std::size_t i = 0; i < count; ++i) {
            files[i].entryName = std::string(length, 'n');
        }
        return files;
    };
    struct Case {
        const char* name;
        std::vector<FileToAdd> files;
        const char* refusal; // empty: it fits
    };
    // (65279 - 21) / (14 + 9) = 2837.3: 2837 records of a 9-byte name fit.
    const Case cases[] = {
        {"nothing", {}, ""},
        {"2837 names of 9 bytes", named(2837, 9), ""},
        {"3000 names of 9 bytes", named(3000, 9),
         "Nothing was added: the archive's directory is limited to 65279 bytes (each entry takes 14 bytes and "
         "its name), and only 2837 of the 3000 chosen files would fit."},
        // Up to exactly 65279 bytes: 21 + 14 + 65244.
        {"one name that fills the directory", named(1, 65244), ""},
        {"one byte more", named(1, 65245), "only 0 of the 1 chosen files would fit."},
        {"a name above the name limit", named(1, 65280), "at most 65279 bytes long, and file 1's name is 65280, and only 0 of"},
    };
    const Bytes before = frame.ToBytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string refusal = c.refusal;
        if (refusal.empty()) {
            EXPECT_NO_THROW(requireRoomForAll(frame, c.files));
            continue;
        }
        try {
            requireRoomForAll(frame, c.files);
            ADD_FAILURE() << "not refused";
        } catch (const ArchiveError& e) {
            EXPECT_NE(std::string(e.what()).find(refusal), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(frame.ToBytes(), before);
}

TEST(ArchivePlan, ProgressSharesAndPercentages)
{
    struct Share {
        double share;
        double expected;
    };
    const Share shares[] = {
        {addShare(1), 100},          {addShare(2), 50},           {addShare(0), 100},
        {addShare(400), 0.25},       {extractShare(1, true), 100}, {extractShare(1, false), 99.996875},
        {extractShare(4, false), 24.996875}, {extractShare(32000, false), 1}, // (1 - 1) / 320 is taken as 1
        {extractShare(100000, false), 1},
    };
    for (const Share& s : shares) {
        EXPECT_DOUBLE_EQ(s.share, s.expected);
    }
    EXPECT_DOUBLE_EQ(progressAt(25, 0, 1), 6.25);
    EXPECT_DOUBLE_EQ(progressAt(25, 2, 4), 75);

    // 100 - (390 + 506) / 1024 * 100 = 12.5 -> 12; 100 - (134 + 506) / 1024 * 100 = 37.5 -> 38.
    EXPECT_EQ(estimatePercent(390, 1024), 12);
    EXPECT_EQ(estimatePercent(134, 1024), 38);
    EXPECT_EQ(estimatePercent(494, 2000), 50);
    EXPECT_EQ(estimatePercent(1494, 1000), -100);
    // Without two positive sums there is nothing to compare.
    EXPECT_EQ(estimatePercent(0, 1000), 0);
    EXPECT_EQ(estimatePercent(100, 0), 0);
    EXPECT_EQ(estimatePercent(100, -5), 0);
}

// ---------------------------------------------------------------------------

TEST(ArchiveExtract, FindsTheFirstEqualNameAndCreatesItsFolders)
{
    XFileFrame frame;
    TCompress compressor;
    frame.AppendPayload(bytesOf("first"));
    frame.AddEntry(5, "docs\\sub\\a.txt", kKindSmallStored);
    frame.AppendPayload(bytesOf("second"));
    frame.AddEntry(6, "DOCS\\SUB\\A.TXT", kKindSmallStored);

    ScratchDir dir;
    const ExtractResult x = extractEntry(frame, compressor, "Docs\\Sub\\A.txt", dir / "out", {});
    EXPECT_EQ(x.outputPath, testing::preferred(dir.path() / "out/docs/sub/a.txt"));
    EXPECT_EQ(readBytes(x.outputPath), bytesOf("first"));
    EXPECT_EQ(x.bytesWritten, 5);
    EXPECT_THROW(extractEntry(frame, compressor, "docs\\b.txt", dir / "out", {}), ArchiveError);
}

TEST(ArchiveExtract, StoredEntryAfterCompressionReplacesTheFileExactly)
{
    std::mt19937 rng(8);
    ScratchDir dir;
    writeBytes(dir / "big.txt", testing::textBytes(rng, 4000));
    writeBytes(dir / "small.txt", bytesOf("just these bytes"));
    XFileFrame frame;
    TCompress compressor;
    addFilesToArchive(frame, compressor, filesToAdd({dir / "big.txt", dir / "small.txt"}), untimed());
    extractEntryAt(frame, compressor, 1, dir / "out", {}); // leaves the compressor after a compressed entry

    writeBytes(dir / "out/small.txt", Bytes(10000, 'z'));
    ExtractChoices replaceAll;
    replaceAll.replaceAll = true;
    extractEntry(frame, compressor, "small.txt", dir / "out", {}, nullptr, 0, 1, &replaceAll);
    EXPECT_EQ(readBytes(dir / "out/small.txt"), bytesOf("just these bytes"));
}

TEST(ArchiveExtract, UnsafeOrDamagedEntriesWriteNothing)
{
    XFileFrame frame;
    TCompress compressor;
    const std::vector<std::string> unsafe = {"..\\evil.txt", "\\evil.txt", "C:\\evil.txt", "ok\\..\\..\\evil.txt"};
    for (const std::string& name : unsafe) {
        frame.AppendPayload(bytesOf("evil"));
        frame.AddEntry(4, name, kKindSmallStored);
    }
    frame.AppendPayload(Bytes(100, 1));
    frame.AddEntry(100, "short.bin", kKindCompressed);
    frame.AppendPayload(bytesOf("?"));
    frame.AddEntry(1, "strange.bin", 9);

    ScratchDir dir;
    const fs::path target = dir.path() / "a/b";
    fs::create_directories(target);
    for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
        EXPECT_THROW(extractEntryAt(frame, compressor, n, target.u8string(), {}), ArchiveError) << n;
    }
    try {
        extractEntry(frame, compressor, "short.bin", target.u8string(), {});
    } catch (const ArchiveError& e) {
        EXPECT_NE(std::string(e.what()).find("damaged"), std::string::npos) << e.what();
    }
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 0u);
}

TEST(ArchiveExtract, ALinkInPlaceOfTheOutputFileIsReplacedNotFollowed)
{
    XFileFrame frame;
    TCompress compressor;
    frame.AppendPayload(bytesOf("archived"));
    frame.AddEntry(8, "note.txt", kKindSmallStored);

    ScratchDir dir;
    TQ_SKIP_WITHOUT_SYMLINKS(dir.path());
    writeBytes(dir.path() / "outside.txt", bytesOf("must stay"));
    fs::create_directory(dir.path() / "target");
    fs::create_symlink(dir.path() / "outside.txt", dir.path() / "target/note.txt");

    ExtractChoices replaceAll;
    replaceAll.replaceAll = true;
    extractEntry(frame, compressor, "note.txt", dir / "target", {}, nullptr, 0, 1, &replaceAll);
    EXPECT_EQ(readBytes(dir.path() / "outside.txt"), bytesOf("must stay"));
    EXPECT_FALSE(fs::is_symlink(dir.path() / "target/note.txt"));
    EXPECT_EQ(readBytes(dir.path() / "target/note.txt"), bytesOf("archived"));
}

// ---------------------------------------------------------------------------

// Random folder trees go into an archive, through a file, and out again unchanged.
TEST(ArchiveRoundTrip, RandomFoldersSurviveAddSaveLoadExtract)
{
    const std::vector<std::string> parts = {"a", "B", "caf\xC3\xA9", "x y", "\xE2\x82\xAC", "deep", "stra\xC3\x9F" "e"};
    const std::vector<std::size_t> sizes = {0, 1, 2, 1023, 1024, 1025, 1026, 4097, 30001, 154754, 154755, 200000};
    for (unsigned seed : {11u, 12u, 13u}) {
        std::mt19937 rng(seed);
        ScratchDir dir;
        const fs::path root = dir.path() / "src" / "docs";
        std::map<std::string, Bytes> originals; // relative path -> content
        const int fileCount = 25;
        for (int i = 0; i < fileCount; ++i) {
            std::string relative;
            const int depth = std::uniform_int_distribution<int>(0, 3)(rng);
            for (int d = 0; d < depth; ++d) {
                relative += parts[std::uniform_int_distribution<std::size_t>(0, parts.size() - 1)(rng)] + "/";
            }
            relative += "f" + std::to_string(i) + (i % 3 == 0 ? ".X" : ".dat");
            const std::size_t size = sizes[std::uniform_int_distribution<std::size_t>(0, sizes.size() - 1)(rng)];
            Bytes content = i % 2 == 0 ? testing::textBytes(rng, size) : testing::randomBytes(rng, size);
            writeBytes(root / fs::u8path(relative), content);
            originals[relative] = std::move(content);
        }

        XFileFrame frame;
        TCompress compressor;
        const auto files = folderFilesToAdd(root.u8string());
        ASSERT_EQ(files.size(), originals.size());
        const auto results = addFilesToArchive(frame, compressor, files, untimed({static_cast<std::uint8_t>(seed),
                                                                                  static_cast<std::uint8_t>(seed * 7)}));
        ASSERT_EQ(results.size(), files.size());
        frame.SaveToFile(dir / "all.X");

        XFileFrame loaded;
        loaded.LoadFromFile(dir / "all.X");
        ASSERT_EQ(loaded.EntryCount(), static_cast<std::int32_t>(files.size()));
        const std::string target = dir / "out";
        for (std::int32_t n = 1; n <= loaded.EntryCount(); ++n) {
            EXPECT_EQ(loaded.GetEntryName(n).rfind("docs\\", 0), 0u) << loaded.GetEntryName(n);
            extractEntry(loaded, compressor, loaded.GetEntryName(n), target,
                         {static_cast<std::uint8_t>(seed), static_cast<std::uint8_t>(seed * 7)});
        }
        std::size_t checked = 0;
        for (std::size_t i = 0; i < results.size(); ++i) {
            const std::string relative = fs::u8path(files[i].path).lexically_relative(root).generic_u8string();
            const Bytes& original = originals.at(relative);
            EXPECT_EQ(results[i].kind, kindForFileSize(static_cast<std::int64_t>(original.size())));
            EXPECT_EQ(readBytes(fs::u8path(target) / "docs" / fs::u8path(relative)), original)
                << relative;
            ++checked;
        }
        EXPECT_EQ(checked, originals.size());
    }
}

} // namespace
} // namespace tq
