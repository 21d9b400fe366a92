// tarnquill-cli run as a process: exit codes, byte-exact outputs, archive commands.
#include "archive/xfileframe.h"
#include "compress/compress.h"
#include "crypto/crpfile.h"
#include "crypto/linecipher.h"

#include "tests/support/mail_check.h"
#include "tests/support/portable.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    // Runs the tool with `args`, feeding `input` to standard input.
    Result run(const std::vector<std::string>& args, const std::string& input = "")
    {
        const fs::path in = dir_ / "stdin";
        const fs::path out = dir_ / "stdout";
        const fs::path err = dir_ / "stderr";
        write(in, Bytes(input.begin(), input.end()));
        Result r;
        r.status = tq::testing::runProcess(TQ_CLI_PATH, args, in, out, err);
        const Bytes o = read(out);
        const Bytes e = read(err);
        r.out.assign(o.begin(), o.end());
        r.err.assign(e.begin(), e.end());
        return r;
    }

    static void write(const fs::path& p, const Bytes& bytes)
    {
        fs::create_directories(p.parent_path());
        std::ofstream f(p, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static void write(const fs::path& p, const std::string& text) { write(p, Bytes(text.begin(), text.end())); }
    static Bytes read(const fs::path& p)
    {
        std::ifstream f(p, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    std::string path(const std::string& name) const { return (dir_ / fs::u8path(name)).u8string(); }

    tq::testing::TempFolder scratch_{"tq-cli-"};
    const fs::path& dir_ = scratch_.path();
};

Bytes randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<unsigned char>(rng());
    }
    return b;
}

Bytes textBytes(std::size_t n)
{
    const std::string words = "the quick brown fox jumps over the lazy dog, and the memo stays safe. ";
    Bytes b;
    while (b.size() < n) {
        b.insert(b.end(), words.begin(), words.end());
    }
    b.resize(n);
    return b;
}

TEST_F(CliTest, CompressWritesTheStreamAndTrailerByteForByte)
{
    write(dir_ / "in", std::string("abababcd"));
    const Result r = run({"compress", path("in"), path("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    Bytes expected(506, 0);
    expected[2] = 'a';
    expected[3] = 'b';
    for (int c : std::initializer_list<int>{0x01, 0x01, 0x01, 0xFE, 0x63, 0x64, 0xFF, 0x00, 0x20}) {
        expected.push_back(static_cast<unsigned char>(c));
    }
    EXPECT_EQ(read(dir_ / "out"), expected);

    ASSERT_EQ(run({"decompress", path("out"), path("back")}).status, 0);
    EXPECT_EQ(read(dir_ / "back"), Bytes({'a', 'b', 'a', 'b', 'a', 'b', 'c', 'd'}));
}

TEST_F(CliTest, CompressRoundTripsWithEverySkipAndPadsOddLengths)
{
    const Bytes text = textBytes(40001);
    write(dir_ / "in", text);
    for (const char* skip : {"2", "3", "254", "255", "300"}) {
        ASSERT_EQ(run({"compress", "--skip", skip, path("in"), path("out")}).status, 0) << skip;
        ASSERT_EQ(run({"decompress", path("out"), path("back")}).status, 0) << skip;
        Bytes expected = text;
        expected.push_back(0);
        EXPECT_EQ(read(dir_ / "back"), expected) << "skip " << skip;
    }
}

TEST_F(CliTest, DecompressStripsFromTheLastFFByte)
{
    // A stream of the zero table and the codes 00 01, then a trailer holding 0xFF
    // in what would be the name: everything from the last 0xFF on is removed.
    Bytes stream(506, 0);
    stream[2] = 'x';
    stream[3] = 'y';
    stream.push_back(0x00);
    stream.push_back(0x01);
    write(dir_ / "s", stream);
    ASSERT_EQ(run({"decompress", path("s"), path("a")}).status, 0);
    EXPECT_EQ(read(dir_ / "a"), Bytes({0, 0, 'x', 'y'}));

    Bytes trailed = stream;
    for (int c : std::initializer_list<int>{0xFF, 0x00, 'n', 0xFF, 0x00, 'm'}) {
        trailed.push_back(static_cast<unsigned char>(c));
    }
    write(dir_ / "t", trailed);
    ASSERT_EQ(run({"decompress", path("t"), path("b")}).status, 0);
    // Cut at the last 0xFF: the codes 00 01 FF 00 6E remain; FF is an escape of (00, 6E).
    EXPECT_EQ(read(dir_ / "b"), Bytes({0, 0, 'x', 'y', 0, 'n'}));
}

TEST_F(CliTest, CipherRoundTripsAndChecksKeyRanges)
{
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    const Result enc = run({"encrypt", "--keys", "5,7,92,1"}, all);
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_EQ(enc.out.size(), all.size() * 16); // two passes, four codes a character each
    EXPECT_EQ(enc.out.find('\n'), std::string::npos);
    const Result dec = run({"decrypt", "--keys", "5,7,92,1"}, enc.out);
    ASSERT_EQ(dec.status, 0);
    EXPECT_EQ(dec.out, all);

    // Standard input and output carry every byte: 0x1A does not end the input, CR LF stays.
    const std::string raw = "before\x1A" "after\r\nline\n";
    const Result rawEnc = run({"encrypt", "--keys", "5,7,92,1"}, raw);
    ASSERT_EQ(rawEnc.status, 0) << rawEnc.err;
    EXPECT_EQ(rawEnc.out.size(), raw.size() * 16);
    EXPECT_EQ(run({"decrypt", "--keys", "5,7,92,1"}, rawEnc.out).out, raw);

    const Result once = run({"encrypt", "--keys", "127,31,254,1000", "--passes", "1"}, "abc");
    ASSERT_EQ(once.status, 0);
    EXPECT_EQ(once.out.size(), 12u);
    EXPECT_EQ(run({"decrypt", "--keys", "127,31,254,1000", "--passes", "1"}, once.out).out, "abc");

    for (const char* bad : {"4,7,10,1", "128,7,10,1", "5,6,10,1", "5,32,10,1", "5,7,9,1", "5,7,255,1",
                            "5,7,10,0", "5,7,10,1001", "5,7,10", "5,x,10,1"}) {
        const Result r = run({"encrypt", "--keys", bad}, "abc");
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_TRUE(r.out.empty()) << bad;
    }
    EXPECT_EQ(run({"encrypt"}, "abc").status, 2);
    EXPECT_EQ(run({"decrypt", "--keys", "5,7,92,1", "--passes", "0"}, "abc").status, 2);
}

TEST_F(CliTest, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(run({"frobnicate"}).status, 2);
    EXPECT_EQ(run({"compress", path("only-one")}).status, 2);
    EXPECT_EQ(run({"x"}).status, 2);
    EXPECT_EQ(run({"x", "add", path("a.X")}).status, 2);
    EXPECT_EQ(run({"x", "add", "--keys", "1,256", path("a.X"), path("f")}).status, 2);
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"compress", "decompress", "x add", "x list", "x extract", "x delete", "encrypt",
                                "decrypt", "crp save", "crp open"}) {
        EXPECT_NE(help.out.find(command), std::string::npos) << command;
    }
}

TEST_F(CliTest, FailuresExitWithOneAndAMessage)
{
    const Result missing = run({"compress", path("nope"), path("out")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("nope"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "out"));

    write(dir_ / "bad.X", Bytes({0x00, 0x30, 0x00, 0x01, 'x'}));
    const Result corrupt = run({"x", "list", path("bad.X")});
    EXPECT_EQ(corrupt.status, 1);
    EXPECT_FALSE(corrupt.err.empty());

    // An add past the archive's directory limit is refused whole; the archive
    // stays as it was. (21 + 3000 * 27 bytes of records for big\f0000.txt ...)
    write(dir_ / "a.txt", std::string("kept"));
    ASSERT_EQ(run({"x", "add", path("arc.X"), path("a.txt")}).status, 0);
    const Bytes before = read(dir_ / "arc.X");
    for (int i = 0; i < 3000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d.txt", i);
        write(dir_ / "big" / name, std::string("x"));
    }
    const Result full = run({"x", "add", path("arc.X"), path("big")});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("limited to 65279 bytes"), std::string::npos) << full.err;
    EXPECT_NE(full.err.find("only 2416 of the 3000 chosen files would fit"), std::string::npos) << full.err;
    EXPECT_EQ(read(dir_ / "arc.X"), before);
}

TEST_F(CliTest, ArchiveAddListExtractDelete)
{
    const Bytes small = textBytes(500);
    const Bytes medium = textBytes(5001);
    const Bytes large = randomBytes(200000, 3);
    write(dir_ / "data/docs/a.txt", small);
    write(dir_ / "data/docs/sub/B.txt", medium);
    write(dir_ / "data/docs/sub/c.bin", large);
    write(dir_ / "data/docs/Z.txt", std::string("zz"));
    write(dir_ / "single.log", std::string("one"));

    const Result add = run({"x", "add", path("arc.X"), path("data/docs"), path("single.log")});
    ASSERT_EQ(add.status, 0) << add.err;
    const Result list = run({"x", "list", path("arc.X")});
    ASSERT_EQ(list.status, 0);
    // Breadth-first: the folder's own files (sorted without regard to case) before
    // those of its sub-folder; the payload size of the compressed entry is its stream.
    const std::string lines = list.out;
    EXPECT_EQ(lines.find("2\t500\tdocs\\a.txt\n"), 0u) << lines;
    EXPECT_NE(lines.find("2\t2\tdocs\\Z.txt\n1\t"), std::string::npos) << lines;
    EXPECT_NE(lines.find("\tdocs\\sub\\B.txt\n3\t200000\tdocs\\sub\\c.bin\n2\t3\tsingle.log\n"), std::string::npos)
        << lines;

    ASSERT_EQ(run({"x", "extract", path("arc.X"), path("out")}).status, 0);
    EXPECT_EQ(read(dir_ / "out/docs/a.txt"), small);
    EXPECT_EQ(read(dir_ / "out/docs/sub/B.txt"), medium); // compressed, odd length
    EXPECT_EQ(read(dir_ / "out/docs/sub/c.bin"), large);
    EXPECT_EQ(read(dir_ / "out/single.log"), Bytes({'o', 'n', 'e'}));

    // Named extraction finds entries without regard to case.
    ASSERT_EQ(run({"x", "extract", path("arc.X"), path("named"), "DOCS\\SUB\\b.TXT"}).status, 0);
    EXPECT_TRUE(fs::exists(dir_ / "named/docs/sub/B.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "named/docs/a.txt"));

    EXPECT_EQ(run({"x", "extract", path("arc.X"), path("none"), "missing.txt"}).status, 1);
    EXPECT_EQ(run({"x", "delete", path("arc.X"), "missing.txt"}).status, 1);
    ASSERT_EQ(run({"x", "delete", path("arc.X"), "DOCS\\A.TXT"}).status, 0);
    const std::string after = run({"x", "list", path("arc.X")}).out;
    EXPECT_EQ(after.find("docs\\a.txt"), std::string::npos);
    EXPECT_EQ(after.find("2\t2\tdocs\\Z.txt\n"), 0u) << after;
}

TEST_F(CliTest, NonAsciiFileAndFolderNamesWork)
{
    const Bytes medium = textBytes(3000);
    write(dir_ / fs::u8path("caf\xC3\xA9.txt"), medium);
    write(dir_ / fs::u8path("d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC.log"), std::string("euro"));
    const Result add =
        run({"x", "add", path("arc.X"), path("caf\xC3\xA9.txt"), path("d\xC3\xA9j\xC3\xA0")});
    ASSERT_EQ(add.status, 0) << add.err;
    const Result list = run({"x", "list", path("arc.X")});
    EXPECT_EQ(list.out.rfind("1\t", 0), 0u) << list.out;
    EXPECT_NE(list.out.find("\tcaf\xC3\xA9.txt\n2\t4\td\xC3\xA9j\xC3\xA0\\\xE2\x82\xAC.log\n"), std::string::npos)
        << list.out;
    const Result extract = run({"x", "extract", path("arc.X"), path("outd\xC3\xA9")});
    ASSERT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(read(dir_ / fs::u8path("outd\xC3\xA9/caf\xC3\xA9.txt")), medium);
    EXPECT_EQ(read(dir_ / fs::u8path("outd\xC3\xA9/d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC.log")),
              Bytes({'e', 'u', 'r', 'o'}));
    ASSERT_EQ(run({"x", "delete", path("arc.X"), "CAF\xC3\x89.TXT"}).status, 0);
    EXPECT_EQ(run({"x", "list", path("arc.X")}).out, "2\t4\td\xC3\xA9j\xC3\xA0\\\xE2\x82\xAC.log\n");
}

TEST_F(CliTest, ArchiveKeysChangeOnlyCompressedEntries)
{
    const Bytes medium = textBytes(3000);
    write(dir_ / "m.txt", medium);
    write(dir_ / "s.txt", std::string("short"));
    ASSERT_EQ(run({"x", "add", "--keys", "12,200", path("k.X"), path("m.txt"), path("s.txt")}).status, 0);

    ASSERT_EQ(run({"x", "extract", "--keys", "12,200", path("k.X"), path("right")}).status, 0);
    EXPECT_EQ(read(dir_ / "right/m.txt"), medium);
    // Wrong keys give other bytes and no error; stored entries do not depend on keys.
    ASSERT_EQ(run({"x", "extract", path("k.X"), path("wrong")}).status, 0);
    EXPECT_NE(read(dir_ / "wrong/m.txt"), medium);
    EXPECT_EQ(read(dir_ / "wrong/s.txt"), Bytes({'s', 'h', 'o', 'r', 't'}));
}

TEST_F(CliTest, ArchiveStoresXFilesUnchanged)
{
    Bytes trailed = textBytes(900);
    for (int c : std::initializer_list<int>{0xFF, 0x00, 'n', 'a', 'm', 'e'}) {
        trailed.push_back(static_cast<unsigned char>(c));
    }
    write(dir_ / "inner.X", trailed);
    ASSERT_EQ(run({"x", "add", path("outer.X"), path("inner.X")}).status, 0);
    ASSERT_EQ(run({"x", "extract", path("outer.X"), path("out")}).status, 0);
    EXPECT_EQ(read(dir_ / "out/inner.X"), trailed);
}

TEST_F(CliTest, ExtractRefusesUnsafeNamesAndExtractsTheRest)
{
    tq::XFileFrame frame;
    const std::string payload = "data";
    for (const char* name : {"..\\evil.txt", "ok.txt", "C:\\win.txt", "a\\..\\..\\x.txt", "NUL", "con.txt",
                             "dir\\PRN.log", "COM1", "trail.", "space "}) {
        frame.AppendPayload(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
        frame.AddEntry(static_cast<std::int32_t>(payload.size()), name, 2);
    }
    frame.SaveToFile(path("unsafe.X"));
    const Result r = run({"x", "extract", path("unsafe.X"), path("target/inside")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("evil.txt"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("win.txt"), std::string::npos) << r.err;
    for (const char* refused : {"\"NUL\"", "\"con.txt\"", "\"dir\\PRN.log\"", "\"COM1\"", "\"trail.\"", "\"space \""}) {
        EXPECT_NE(r.err.find(refused), std::string::npos) << refused << " in " << r.err;
    }
    // Only the safe entry was written: no file took a device's or a shortened name.
    std::vector<std::string> written;
    for (const auto& entry : fs::recursive_directory_iterator(dir_ / "target")) {
        if (!entry.is_directory()) {
            written.push_back(entry.path().filename().u8string());
        }
    }
    EXPECT_EQ(written, std::vector<std::string>({"ok.txt"}));
    EXPECT_TRUE(fs::exists(dir_ / "target/inside/ok.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "target/evil.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "target/x.txt"));
    EXPECT_FALSE(fs::exists(dir_ / "x.txt"));
}

// --- crp save / crp open ---------------------------------------------------------

std::string asString(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

// `text` with every LF written as the platform's line ending, as crp open prints lines.
std::string platformLines(const std::string& text)
{
#ifdef _WIN32
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
#else
    return text;
#endif
}

TEST_F(CliTest, CrpSaveThenOpenGivesTheLinesBackForSeveralPassCounts)
{
    const std::string inputs[] = {"first line\nsecond caf\xE9 line\n", "no final break\r\nsecond", "\n\nafter blanks"};
    const std::string outputs[] = {"first line\nsecond caf\xE9 line\n", "no final break\nsecond\n",
                                   "\n\nafter blanks\n"};
    for (int key4 = 1; key4 <= 3; ++key4) {
        for (std::size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE("key 4 = " + std::to_string(key4) + ", input " + std::to_string(i));
            const std::string keys = "40,7,33," + std::to_string(key4);
            write(dir_ / "memo.txt", inputs[i]);
            Result r = run({"crp", "save", "--keys", keys, path("memo.txt"), path("memo.crp")});
            ASSERT_EQ(r.status, 0) << r.err;
            const Bytes file = read(dir_ / "memo.crp");
            ASSERT_GT(file.size(), 509u);
            EXPECT_EQ(asString(Bytes(file.end() - 3, file.end())), std::string("\xFF\x00\x20", 3));
            r = run({"crp", "open", "--keys", keys, path("memo.crp")});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, platformLines(outputs[i]));
        }
    }
}

TEST_F(CliTest, CrpSaveStoresCipherTextAsItIsAndMatchesTheEngineByteForByte)
{
    tq::LineCipher cipher;
    const std::string text = cipher.CodeLinePasses("stored as given", tq::CipherKeys{5, 7, 10}, 2);
    write(dir_ / "cipher.txt", text + "\r\n");
    ASSERT_EQ(run({"crp", "save", "--keys", "5,7,10,1", path("cipher.txt"), path("a.crp")}).status, 0);
    ASSERT_EQ(run({"crp", "save", "--keys", "9,9,99,9", path("cipher.txt"), path("b.crp")}).status, 0);
    EXPECT_EQ(read(dir_ / "a.crp"), read(dir_ / "b.crp"));
    tq::TCompress engine;
    tq::crp::SaveLines(engine, {text}, 2, dir_ / "engine.crp");
    EXPECT_EQ(read(dir_ / "a.crp"), read(dir_ / "engine.crp"));
    EXPECT_EQ(tq::crp::LoadText(engine, dir_ / "a.crp"), text);
    const Result r = run({"crp", "open", "--keys", "5,7,10,1", path("a.crp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, platformLines("stored as given\n"));
}

TEST_F(CliTest, CrpFilesOfTheWindowStepsAndOfTheToolOpenAlike)
{
    tq::TCompress engine;
    tq::LineCipher cipher;
    tq::crp::KeySet keys;
    keys.cipher = tq::CipherKeys{77, 12, 201};
    keys.key4 = 2;
    const std::string memo = "line one\r\nline \xE9\xE8n twee\r\n";
    tq::crp::SaveMemo(engine, cipher, memo, keys, 2, dir_ / "window.crp");
    Result r = run({"crp", "open", "--keys", "77,12,201,2", path("window.crp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, platformLines("line one\nline \xE9\xE8n twee\n"));

    write(dir_ / "memo.txt", memo);
    ASSERT_EQ(run({"crp", "save", "--keys", "77,12,201,2", path("memo.txt"), path("tool.crp")}).status, 0);
    EXPECT_EQ(tq::crp::OpenMemo(engine, cipher, dir_ / "tool.crp", keys), memo);
}

TEST_F(CliTest, CrpCommandsCheckTheirArguments)
{
    write(dir_ / "memo.txt", std::string("x"));
    EXPECT_EQ(run({"crp", "save", path("memo.txt"), path("m.crp")}).status, 2);
    EXPECT_EQ(run({"crp", "save", "--keys", "5,7,10", path("memo.txt"), path("m.crp")}).status, 2);
    EXPECT_EQ(run({"crp", "save", "--keys", "4,7,10,1", path("memo.txt"), path("m.crp")}).status, 2);
    EXPECT_EQ(run({"crp", "save", "--keys", "5,7,10,1001", path("memo.txt"), path("m.crp")}).status, 2);
    EXPECT_EQ(run({"crp", "open", "--keys", "5,7,10,1"}).status, 2);
    EXPECT_EQ(run({"crp", "copy"}).status, 2);
    EXPECT_FALSE(fs::exists(dir_ / "m.crp"));
    const Result r = run({"crp", "open", "--keys", "5,7,10,1", path("missing.crp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.crp"), std::string::npos) << r.err;
    const Result s = run({"crp", "save", "--keys", "5,7,10,1", path("memo.txt"), path("no/such/dir/m.crp")});
    EXPECT_EQ(s.status, 1);
    EXPECT_NE(s.err.find("m.crp"), std::string::npos) << s.err;
}

// mail read: the reply address of hostile From values (a display name that
// decodes to another address never wins), the decoded subject, the
// attachment names, and the text Open puts into the memo without preamble
// and epilogue; attachment files only with --attachments.
TEST_F(CliTest, MailReadShowsWhatTheReceiveWindowTakes)
{
    const std::vector<std::pair<std::string, std::string>> senders = {
        {"=?utf-8?q?=3Cevil=40x=2Etest=3E?= <jan@quill.test>", "jan@quill.test"},
        {"\"<evil@x.test>\" <jan@quill.test>", "jan@quill.test"},
        {"jan@quill.test (<evil@x.test>)", "jan@quill.test"},
        {"Team: jan@quill.test, evil@x.test;", "jan@quill.test"},
        {"=?utf-8?b?PGV2aWxAeC50ZXN0Pg==?=", ""},
    };
    for (const auto& [from, address] : senders) {
        SCOPED_TRACE(from);
        write(dir_ / "message.eml",
              "From: " + from + "\r\nSubject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\n"
              "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
              "This is a multi-part message in MIME format.\r\n--B\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
              "Hallo K\xC3\xB6ln\r\nsecond\r\n--B\r\nContent-Type: application/octet-stream; name=\"a.bin\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--B--\r\nepilogue\r\n");
        const std::string expected = platformLines("Reply-To-Address: " + address +
                                                   "\nSubject: Gr\xC3\xBC\xC3\x9F" "e\nAttachment: a.bin\n\n"
                                                   "Hallo K\xC3\xB6ln\nsecond\n\nFile \"a.bin\" extracted\n");
        const Result plain = run({"mail", "read", path("message.eml")});
        EXPECT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(plain.out, expected);
        EXPECT_FALSE(fs::exists(dir_ / "files"));
        const Result saving = run({"mail", "read", "--attachments", path("files"), path("message.eml")});
        EXPECT_EQ(saving.out, expected);
        EXPECT_EQ(read(dir_ / "files" / "a.bin"), (Bytes{0, 1, 2}));
        fs::remove_all(dir_ / "files");
    }
    EXPECT_EQ(run({"mail", "read"}).status, 2);
    EXPECT_EQ(run({"mail", "read", path("missing.eml")}).status, 1);
}

// A 50 KB memo mailed encrypted: the message other programs read without a
// defect, no line over the wire's limit, and its text decrypts to the memo.
// Wrong keys and a missing memo file are refused.
TEST_F(CliTest, MailComposeOfAnEncryptedMemoDecryptsToTheMemo)
{
    if (!tqtest::havePython()) {
        GTEST_SKIP() << "python3 is not available";
    }
    std::string memo;
    std::mt19937 rng(3);
    while (memo.size() < 50 * 1024) {
        const std::size_t length = rng() % 120;
        for (std::size_t i = 0; i < length; ++i) {
            memo += static_cast<char>(32 + rng() % 224);
        }
        memo += "\r\n";
    }
    write(dir_ / "memo.txt", memo);
    const Result r = run({"mail", "compose", "--keys", "5,7,10,1", "--to", "piet@quill.test", "--from",
                          "jan@quill.test", "--name", "Vries, Jan", "--subject", "Geheim", path("memo.txt")});
    ASSERT_EQ(r.status, 0) << r.err;
    write(dir_ / "message.eml", r.out);
    EXPECT_LE(tqtest::longestMailLine(r.out), 998u);
    auto seen = tqtest::pythonMailFields(TQ_TEST_DATA_DIR "/../mail_windows/mail_messages.py", path("message.eml"));
    EXPECT_EQ(seen["defects"], "");
    EXPECT_EQ(seen["text_cte"], "quoted-printable");
    EXPECT_EQ(seen["from_name"], "Vries, Jan");
    EXPECT_EQ(seen["subject"], "Geheim\xC2\xA0");
    const Result plain = run({"decrypt", "--keys", "5,7,10,1"}, seen["text_lines"]);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, memo);

    EXPECT_EQ(run({"mail", "compose", "--keys", "5,7,10", path("memo.txt")}).status, 2);
    EXPECT_EQ(run({"mail", "compose", "--bcc", "x", path("memo.txt")}).status, 2);
    EXPECT_EQ(run({"mail", "send", path("memo.txt")}).status, 2);
    EXPECT_EQ(run({"mail", "compose", path("missing.txt")}).status, 1);
}

} // namespace

namespace {

unsigned modeOf(const fs::path& p)
{
    return static_cast<unsigned>(fs::status(p).permissions() & fs::perms::all);
}

} // namespace

#ifndef _WIN32
TEST_F(CliTest, FilesHoldingMemoTextAreOwnerOnlyAndExtractedFilesFollowTheUmask)
{
    const mode_t oldMask = ::umask(022);
    write(dir_ / "memo.txt", std::string("The memo.\nSecond lines.\n"));
    write(dir_ / "pass", std::string("correct horse\n"));
    write(dir_ / "keys.ky", std::string("11\r\n13\r\n20\r\n1\r\n"));
    struct Case {
        std::vector<std::string> args;
        const char* output; // nullptr: the command must fail
        unsigned mode;
    };
    const Case cases[] = {
        {{"compress", path("memo.txt"), path("memo.tqc")}, "memo.tqc", 0600},
        {{"decompress", path("memo.tqc"), path("memo.out")}, "memo.out", 0600},
        {{"crp", "save", "--keys-file", path("keys.ky"), path("memo.txt"), path("memo.crp")}, "memo.crp", 0600},
        {{"seal", "--passphrase-file", path("pass"), "--ops", "1", "--mem", "64", path("memo.txt"),
          path("weak.tqs")},
         nullptr, 0},
        {{"seal", "--passphrase-file", path("pass"), "--ops", "1", "--mem", "64", "--weak", path("memo.txt"),
          path("memo.tqs")},
         "memo.tqs", 0600},
        {{"unseal", "--passphrase-file", path("pass"), path("memo.tqs"), path("memo.plain")}, "memo.plain", 0600},
        {{"x", "add", path("a.X"), path("memo.txt")}, "a.X", 0644},
        {{"x", "extract", path("a.X"), path("out")}, "out/memo.txt", 0644},
    };
    for (const Case& c : cases) {
        const Result r = run(c.args);
        if (c.output == nullptr) {
            EXPECT_EQ(r.status, 2) << c.args[0] << ": " << r.err;
            EXPECT_NE(r.err.find("--weak"), std::string::npos) << r.err;
            continue;
        }
        ASSERT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        EXPECT_EQ(modeOf(dir_ / c.output), c.mode) << c.output;
    }
    ::umask(oldMask);
    EXPECT_EQ(read(dir_ / "memo.out"), read(dir_ / "memo.txt"));
    EXPECT_EQ(read(dir_ / "memo.plain"), read(dir_ / "memo.txt"));
    const Result opened = run({"crp", "open", "--keys", "11,13,20,1", path("memo.crp")});
    EXPECT_EQ(opened.status, 0) << opened.err;
    EXPECT_EQ(opened.out, "The memo.\nSecond lines.\n");
}
#endif

TEST_F(CliTest, ExtractKeepsExistingFilesUnlessOverwriteAndNamesHiddenOnes)
{
    write(dir_ / "in/a.txt", std::string("new a"));
    write(dir_ / "in/.profile", std::string("hidden"));
    write(dir_ / "in/b.txt", std::string("new b"));
    ASSERT_EQ(run({"x", "add", path("a.X"), path("in/a.txt"), path("in/.profile"), path("in/b.txt")}).status, 0);
    write(dir_ / "out/a.txt", std::string("old a"));

    const Result kept = run({"x", "extract", path("a.X"), path("out")});
    EXPECT_EQ(kept.status, 1);
    // The paths as the system spells them ("\" between folders on Windows).
    const std::string out = path("out") + static_cast<char>(fs::path::preferred_separator);
    EXPECT_NE(kept.err.find(out + "a.txt\" exists"), std::string::npos) << kept.err;
    EXPECT_NE(kept.err.find("hidden file \"" + out + ".profile\""), std::string::npos) << kept.err;
    EXPECT_EQ(read(dir_ / "out/a.txt"), Bytes({'o', 'l', 'd', ' ', 'a'}));
    EXPECT_EQ(read(dir_ / "out/b.txt"), Bytes({'n', 'e', 'w', ' ', 'b'}));
    EXPECT_EQ(read(dir_ / "out/.profile").size(), 6u);

    const Result replaced = run({"x", "extract", "--overwrite", path("a.X"), path("out")});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(read(dir_ / "out/a.txt"), Bytes({'n', 'e', 'w', ' ', 'a'}));
}

TEST_F(CliTest, FilesTooShortForTheirFormatAreRefused)
{
    write(dir_ / "six", Bytes({1, 2, 3, 4, 5, 6}));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"crp", "open", "--keys", "11,13,20,1", path("six")},
          std::vector<std::string>{"decompress", path("six"), path("six.out")}}) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find("too short"), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_FALSE(fs::exists(dir_ / "six.out"));
}

#if TQ_HAVE_SEALED
// A sealed archive: every x command takes the passphrase file, the archive stays
// sealed when changed, nothing of it (names included) is readable in the file,
// and a wrong passphrase or a changed byte gives nothing at all.
TEST_F(CliTest, SealedArchiveRoundTripsHidesItsNamesAndGivesNothingWithoutThePassphrase)
{
    const Bytes small = textBytes(700);
    const Bytes compressed = textBytes(40001);
    const Bytes large = randomBytes(300000, 8);
    write(dir_ / "data/Geheimmap/notulen.txt", small);
    write(dir_ / "data/Geheimmap/diep/begroting.csv", compressed);
    write(dir_ / "data/Geheimmap/diep/foto.raw", large);
    write(dir_ / "losbrief.log", std::string("one line"));
    write(dir_ / "pass", std::string("correct horse battery\r\n"));
    write(dir_ / "wrong", std::string("correct horse battery \n"));
    const std::vector<std::string> sources = {path("data/Geheimmap"), path("losbrief.log")};
    auto withArgs = [](std::vector<std::string> head, const std::vector<std::string>& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };

    const Result add = run(withArgs({"x", "add", "--passphrase-file", path("pass"), path("s.X")}, sources));
    ASSERT_EQ(add.status, 0) << add.err;
    ASSERT_EQ(run(withArgs({"x", "add", path("plain.X")}, sources)).status, 0);
    const Bytes sealedBytes = read(dir_ / "s.X");
    ASSERT_GT(sealedBytes.size(), 8u);
    EXPECT_EQ(std::string(sealedBytes.begin(), sealedBytes.begin() + 8), "\x89TQSEAL\n");
    const std::string raw(sealedBytes.begin(), sealedBytes.end());
    for (const char* name : {"Geheimmap", "notulen", "begroting", "foto.raw", "losbrief", "diep\\", "quick brown"}) {
        EXPECT_EQ(raw.find(name), std::string::npos) << name << " is readable in the sealed file";
    }

    // The same entries as the archive in the clear, every byte back.
    const Result list = run({"x", "list", "--passphrase-file", path("pass"), path("s.X")});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, run({"x", "list", path("plain.X")}).out);
    EXPECT_NE(list.out.find("Geheimmap\\diep\\foto.raw"), std::string::npos) << list.out;
    ASSERT_EQ(run({"x", "extract", "--passphrase-file", path("pass"), path("s.X"), path("out")}).status, 0);
    EXPECT_EQ(read(dir_ / "out/Geheimmap/notulen.txt"), small);
    EXPECT_EQ(read(dir_ / "out/Geheimmap/diep/begroting.csv"), compressed);
    EXPECT_EQ(read(dir_ / "out/Geheimmap/diep/foto.raw"), large);
    EXPECT_EQ(read(dir_ / "out/losbrief.log"), Bytes({'o', 'n', 'e', ' ', 'l', 'i', 'n', 'e'}));

    // Without the option, with it on an archive in the clear, on a sealed memo,
    // with the wrong passphrase and with one changed byte: refused, nothing
    // listed, nothing extracted, the archive untouched.
    Bytes damaged = sealedBytes;
    damaged[damaged.size() / 2] ^= 0x20;
    write(dir_ / "damaged.X", damaged);
    write(dir_ / "memo.txt", std::string("a memo"));
    ASSERT_EQ(run({"seal", "--passphrase-file", path("pass"), "--ops", "1", "--mem", "64", "--weak", path("memo.txt"),
                   path("memo.tqs")})
                  .status,
              0);
    struct Refusal {
        std::vector<std::string> args; // the command, the archive, the passphrase option last
        const char* message;
    };
    const Refusal refusals[] = {
        {{"s.X"}, "s.X\" is sealed; give --passphrase-file FILE"},
        {{"plain.X", "--passphrase-file", path("pass")}, "is not sealed; leave out --passphrase-file"},
        {{"memo.tqs", "--passphrase-file", path("pass")}, "holds a sealed memo, not an archive"},
        {{"s.X", "--passphrase-file", path("wrong")}, "Wrong passphrase, or the file is damaged."},
        {{"damaged.X", "--passphrase-file", path("pass")}, "Wrong passphrase, or the file is damaged."},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> option(r.args.begin() + 1, r.args.end());
        const std::string archive = path(r.args[0]);
        const Bytes before = read(archive);
        for (const std::vector<std::string>& command :
             {withArgs(withArgs({"x", "list"}, option), {archive}),
              withArgs(withArgs({"x", "extract"}, option), {archive, path("refused")}),
              withArgs(withArgs({"x", "add"}, option), {archive, path("losbrief.log")}),
              withArgs(withArgs({"x", "delete"}, option), {archive, "losbrief.log"})}) {
            SCOPED_TRACE(command[1] + " " + r.args[0] + (option.empty() ? "" : " " + option[1]));
            const Result result = run(command);
            EXPECT_EQ(result.status, 1);
            EXPECT_TRUE(result.out.empty()) << result.out;
            EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
            EXPECT_FALSE(fs::exists(dir_ / "refused"));
            EXPECT_EQ(read(archive), before);
        }
    }

    // Changed with the passphrase, it stays sealed and keeps its other entries.
    ASSERT_EQ(run({"x", "delete", "--passphrase-file", path("pass"), path("s.X"), "losbrief.log"}).status, 0);
    write(dir_ / "later.txt", std::string("added later"));
    ASSERT_EQ(run({"x", "add", "--passphrase-file", path("pass"), path("s.X"), path("later.txt")}).status, 0);
    const Bytes changed = read(dir_ / "s.X");
    EXPECT_EQ(std::string(changed.begin(), changed.begin() + 8), "\x89TQSEAL\n");
    EXPECT_EQ(std::string(changed.begin(), changed.end()).find("later.txt"), std::string::npos);
    const std::string after = run({"x", "list", "--passphrase-file", path("pass"), path("s.X")}).out;
    EXPECT_EQ(after.find("losbrief.log"), std::string::npos) << after;
    EXPECT_NE(after.find("2\t11\tlater.txt\n"), std::string::npos) << after;
    EXPECT_NE(after.find("Geheimmap\\notulen.txt"), std::string::npos) << after;
}
#endif
