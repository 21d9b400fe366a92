// Sealed memo files: round trips, refusal of wrong passphrases and of every kind
// of damage, stored parameters, stopping. Small derivation parameters keep the
// hundreds of derivations fast.
#include "crypto/sealed.h"

#include <gtest/gtest.h>

#include <chrono>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using tq::sealed::Params;
using tq::sealed::SealedError;
using tq::sealed::SecretBytes;

constexpr Params kFast{1, 8};

std::string sealText(std::string_view plain, std::string_view pass, const Params& params = kFast)
{
    return *tq::sealed::Seal(plain, SecretBytes::copyOf(pass), params);
}

// The kind of error Unseal throws for `file`, or "opened" when it opens (as a
// memo or an archive).
std::string outcome(std::string_view file, std::string_view pass)
{
    try {
        tq::sealed::Content holds = tq::sealed::Content::Memo;
        tq::sealed::Unseal(file, SecretBytes::copyOf(pass), {}, nullptr, &holds);
        return "opened";
    } catch (const SealedError& e) {
        if (e.kind() == SealedError::Kind::Refused) {
            return e.what() == std::string(tq::sealed::kRefusedText) ? "refused" : "refused, wrong text";
        }
        return e.kind() == SealedError::Kind::NewerVersion ? "newer" : std::string("failed: ") + e.what();
    }
}

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

TEST(Sealed, MemosOfEveryByteValueAndChunkBoundaryComeBackExactlyAlsoWithAHeldKey)
{
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    const std::size_t chunk = tq::sealed::kChunkSize;
    const std::vector<std::string> memos = {
        "",  "a", all, std::string(chunk - 1, '\0'), randomBytes(chunk, 1), randomBytes(chunk + 1, 2),
        randomBytes(3 * chunk, 3), randomBytes(3 * chunk + 255, 4)};
    for (const std::string& memo : memos) {
        SCOPED_TRACE("memo of " + std::to_string(memo.size()) + " bytes");
        const std::string file = sealText(memo, "p\xC3\xA4ss phrase");
        const std::size_t chunks = memo.empty() ? 1 : (memo.size() + chunk - 1) / chunk;
        EXPECT_EQ(file.size(), tq::sealed::kHeaderSize + memo.size() + chunks * tq::sealed::kChunkOverhead);
        EXPECT_TRUE(tq::sealed::IsSealed(file));
        if (memo.size() >= 16) {
            EXPECT_EQ(file.find(memo.substr(0, 16)), std::string::npos);
        }
        tq::sealed::SealKey opened;
        const auto back = tq::sealed::Unseal(file, SecretBytes::copyOf("p\xC3\xA4ss phrase"), {}, &opened);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == memo);
        // The key that opened the file seals again without a derivation, and
        // what it seals opens with the passphrase alone.
        ASSERT_FALSE(opened.empty());
        EXPECT_EQ(opened.params(), kFast);
        const auto again = tq::sealed::SealWithKey(memo, opened);
        ASSERT_TRUE(again.has_value());
        EXPECT_NE(*again, file); // a fresh stream header
        EXPECT_EQ(again->size(), file.size());
        const auto reopened = tq::sealed::Unseal(*again, SecretBytes::copyOf("p\xC3\xA4ss phrase"));
        ASSERT_TRUE(reopened.has_value());
        EXPECT_TRUE(*reopened == memo);
        EXPECT_EQ(outcome(*again, "p\xC3\xA4ss phrasf"), "refused");
    }
    // A key derived on its own seals memos that open with its passphrase.
    const auto held = tq::sealed::DeriveKey(SecretBytes::copyOf("held"), Params{2, 16});
    ASSERT_TRUE(held.has_value());
    const std::string withHeld = *tq::sealed::SealWithKey(all, *held);
    EXPECT_EQ(tq::sealed::StoredParams(withHeld), (Params{2, 16}));
    EXPECT_TRUE(*tq::sealed::Unseal(withHeld, SecretBytes::copyOf("held")) == all);
    EXPECT_THROW(tq::sealed::SealWithKey(all, tq::sealed::SealKey{}), SealedError);
    // A fresh salt and stream header every time: the same memo never seals the same.
    EXPECT_NE(sealText(all, "x"), sealText(all, "x"));
}

TEST(Sealed, WrongPassphrasesAreRefusedWithTheOneMessage)
{
    const std::string file = sealText("meet at noon", "Correct horse");
    EXPECT_EQ(outcome(file, "Correct horse"), "opened");
    for (const char* wrong : {"", "correct horse", "Correct hors", "Correct horse ", "Correct horsf"}) {
        EXPECT_EQ(outcome(file, wrong), "refused") << '"' << wrong << '"';
    }
}

// Archives are sealed in the version-2 header with the content byte; memos keep
// version 1. The content byte is authenticated, and a memo caller never gets
// archive bytes.
TEST(Sealed, ArchivesAreRecordedAsArchivesAndNeverOpenAsMemos)
{
    using tq::sealed::Content;
    const auto key = tq::sealed::DeriveKey(SecretBytes::copyOf("pw"), kFast);
    ASSERT_TRUE(key.has_value());
    const std::string bytes = randomBytes(tq::sealed::kChunkSize + 7, 11);
    const std::string archive = *tq::sealed::SealWithKey(bytes, *key, Content::Archive);
    const std::string memo = *tq::sealed::SealWithKey(bytes, *key, Content::Memo);
    EXPECT_EQ(static_cast<unsigned char>(archive[tq::sealed::kMagicSize]), tq::sealed::kContentVersion);
    EXPECT_EQ(static_cast<unsigned char>(memo[tq::sealed::kMagicSize]), tq::sealed::kMemoVersion);
    EXPECT_EQ(archive.size(), memo.size() + 1);
    EXPECT_EQ(tq::sealed::StoredContent(archive), Content::Archive);
    EXPECT_EQ(tq::sealed::StoredContent(memo), Content::Memo);
    EXPECT_EQ(tq::sealed::StoredParams(archive), kFast);
    for (const auto& [file, expected] : {std::pair{archive, Content::Archive}, std::pair{memo, Content::Memo}}) {
        Content holds = expected == Content::Memo ? Content::Archive : Content::Memo;
        tq::sealed::SealKey opened;
        const auto back = tq::sealed::Unseal(file, SecretBytes::copyOf("pw"), {}, &opened, &holds);
        ASSERT_TRUE(back.has_value());
        EXPECT_TRUE(*back == bytes);
        EXPECT_EQ(holds, expected);
        EXPECT_FALSE(opened.empty());
    }
    // Where only a memo is taken, an archive is refused with its own message,
    // before anything is derived.
    int reports = 0;
    tq::sealed::Work work;
    work.progress = [&](int) { ++reports; };
    try {
        tq::sealed::Unseal(archive, SecretBytes::copyOf("pw"), work);
        ADD_FAILURE() << "an archive opened as a memo";
    } catch (const SealedError& e) {
        EXPECT_EQ(e.kind(), SealedError::Kind::OtherContent);
        EXPECT_NE(std::string(e.what()).find("archive"), std::string::npos) << e.what();
    }
    EXPECT_EQ(reports, 0);
    // The content byte changed to "memo" fails authentication; unknown bytes are damage.
    for (unsigned char content : {tq::sealed::kContentMemo, std::uint8_t{2}, std::uint8_t{0xFF}}) {
        std::string changed = archive;
        changed[tq::sealed::kHeaderSize] = static_cast<char>(content);
        EXPECT_EQ(outcome(changed, "pw"), "refused") << int(content);
    }
}

TEST(Sealed, EveryByteChangeEveryTruncationAndAppendedBytesAreRefused)
{
    const std::string pass = "pw";
    const auto key = tq::sealed::DeriveKey(SecretBytes::copyOf(pass), kFast);
    ASSERT_TRUE(key.has_value());
    for (const std::string& file :
         {sealText("A small memo of forty bytes, exactly..", pass),
          *tq::sealed::SealWithKey("A small archive of forty bytes..", *key, tq::sealed::Content::Archive)}) {
    SCOPED_TRACE(file[tq::sealed::kMagicSize] == 1 ? "memo" : "archive");
    ASSERT_EQ(outcome(file, pass), "opened");
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (int flip : {0x01, 0x80, 0xFF}) {
            std::string damaged = file;
            damaged[at] = static_cast<char>(damaged[at] ^ flip);
            const std::string result = outcome(damaged, pass);
            // The version byte raised reads as a newer format; everything else as damage.
            EXPECT_TRUE(result == "refused" || (at == tq::sealed::kMagicSize && result == "newer"))
                << "byte " << at << " ^ " << flip << ": " << result;
        }
    }
    for (std::size_t size = 0; size < file.size(); ++size) {
        EXPECT_EQ(outcome(file.substr(0, size), pass), "refused") << "cut to " << size;
    }
    for (int extra : {0x00, 0x41, 0xFF}) {
        EXPECT_EQ(outcome(file + static_cast<char>(extra), pass), "refused") << "appended " << extra;
    }
    }
}

TEST(Sealed, ChunksCutAtABoundarySwappedOrRepeatedAreRefused)
{
    const std::string pass = "pw";
    const std::size_t full = tq::sealed::kChunkSize + tq::sealed::kChunkOverhead;
    const std::size_t h = tq::sealed::kHeaderSize;
    const std::string file = sealText(randomBytes(2 * tq::sealed::kChunkSize + 100, 9), pass);
    ASSERT_EQ(outcome(file, pass), "opened");
    const std::string c1 = file.substr(h, full);
    const std::string c2 = file.substr(h + full, full);
    const std::string last = file.substr(h + 2 * full);
    const std::string head = file.substr(0, h);
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"last chunk dropped", head + c1 + c2},
        {"only the first chunk", head + c1},
        {"first two swapped", head + c2 + c1 + last},
        {"first chunk repeated", head + c1 + c1 + c2 + last},
        {"first chunk dropped", head + c2 + last},
        {"final chunk twice", file + last},
    };
    for (const auto& [name, damaged] : cases) {
        EXPECT_EQ(outcome(damaged, pass), "refused") << name;
    }
    // A chunk of another file sealed with the same passphrase does not fit either.
    const std::string other = sealText(randomBytes(2 * tq::sealed::kChunkSize + 100, 9), pass);
    EXPECT_EQ(outcome(head + c1 + other.substr(h + full, full) + last, pass), "refused");
}

TEST(Sealed, StoredParametersAreWrittenAndHonouredOnReading)
{
    for (const Params& params : {Params{1, 8}, Params{2, 16}, Params{4, 1024}}) {
        SCOPED_TRACE(std::to_string(params.opslimit) + " passes, " + std::to_string(params.memlimitKiB) + " KiB");
        const std::string file = sealText("memo", "pw", params);
        EXPECT_EQ(tq::sealed::StoredParams(file), params);
        // The reader derives with the stored parameters, not its defaults: the
        // file opens, and the same file claiming other parameters does not.
        EXPECT_EQ(outcome(file, "pw"), "opened");
        std::string other = file;
        other[tq::sealed::kMagicSize + 2] = static_cast<char>(params.opslimit + 1);
        EXPECT_EQ(outcome(other, "pw"), "refused");
    }
}

TEST(Sealed, ParametersOutOfBoundsAreRefusedWithoutDerivingAndNotWritten)
{
    const std::string file = sealText("memo", "pw");
    const std::size_t ops = tq::sealed::kMagicSize + 2;
    const std::size_t mem = ops + 4;
    auto patched = [&](std::size_t at, std::uint32_t value) {
        std::string f = file;
        for (int i = 0; i < 4; ++i) {
            f[at + i] = static_cast<char>(value >> (8 * i));
        }
        return f;
    };
    auto both = [&](std::uint32_t passes, std::uint32_t kib) {
        const std::string f = patched(ops, passes);
        std::string g = f;
        for (int i = 0; i < 4; ++i) {
            g[mem + i] = static_cast<char>(kib >> (8 * i));
        }
        return g;
    };
    // More than four times the default work, though each number alone is allowed:
    // 16 passes over 1 GiB, 13 over 256 MiB.
    const std::vector<std::string> hostile = {patched(ops, 0), patched(ops, tq::sealed::kMaxOpslimit + 1),
                                              patched(mem, tq::sealed::kMinMemlimitKiB - 1),
                                              patched(mem, tq::sealed::kMaxMemlimitKiB + 1), patched(mem, 0xFFFFFFFF),
                                              both(16, 1024 * 1024), both(13, 256 * 1024)};
    for (const std::string& f : hostile) {
        int reports = 0;
        tq::sealed::Work work;
        work.progress = [&](int) { ++reports; };
        EXPECT_THROW(tq::sealed::Unseal(f, SecretBytes::copyOf("pw"), work), SealedError);
        EXPECT_EQ(reports, 0) << "a derivation was started";
    }
    for (const Params& bad : {Params{0, 8}, Params{17, 8}, Params{1, 7}, Params{1, tq::sealed::kMaxMemlimitKiB + 1},
                              Params{16, 1024 * 1024}}) {
        try {
            tq::sealed::Seal("memo", SecretBytes::copyOf("pw"), bad);
            ADD_FAILURE() << "sealed with " << bad.opslimit << ", " << bad.memlimitKiB;
        } catch (const SealedError& e) {
            EXPECT_EQ(e.kind(), SealedError::Kind::Failed);
        }
    }
}

// A stop during a long derivation returns at once; the derivation goes on alone
// and its key is thrown away. A file above the size limit is refused unread.
TEST(Sealed, StopDuringTheDerivationReturnsAtOnceAndLargeFilesAreRefusedUnread)
{
    std::string file = sealText("memo", "pw");
    // 16 passes over 192 MiB: the most work a file may ask for, seconds of it.
    const std::uint32_t values[2] = {16, 192 * 1024};
    for (int field = 0; field < 2; ++field) {
        for (int i = 0; i < 4; ++i) {
            file[tq::sealed::kMagicSize + 2 + 4 * field + i] = static_cast<char>(values[field] >> (8 * i));
        }
    }
    bool stop = false;
    tq::YieldHook hook([](void* flag) { *static_cast<bool*>(flag) = true; }, &stop);
    tq::sealed::Work work;
    work.yield = &hook;
    work.stop = &stop;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tq::sealed::Unseal(file, SecretBytes::copyOf("pw"), work).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    const auto dir = std::filesystem::temp_directory_path() / ("tq-sealed-big-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto big = dir / "big.tqs";
    std::ofstream(big, std::ios::binary) << file;
    std::filesystem::resize_file(big, tq::sealed::kMaxFileSize + 1); // sparse: nothing to read
    try {
        tq::sealed::UnsealFile(big, SecretBytes::copyOf("pw"));
        ADD_FAILURE() << "a file above the limit was opened";
    } catch (const SealedError& e) {
        EXPECT_EQ(e.kind(), SealedError::Kind::Failed);
        EXPECT_NE(std::string(e.what()).find("256 MiB"), std::string::npos) << e.what();
    }
    std::filesystem::remove_all(dir);
}

// The yield hook fires while the derivation runs, the bar climbs to the end, and a
// stop request, during the derivation or between chunks, leaves nothing behind.
TEST(Sealed, DerivationFiresTheYieldHookAndAStopWritesNothing)
{
    enum class StopWhen { Never, FirstFire, FirstChunk };
    struct Host {
        StopWhen when = StopWhen::Never;
        int fires = 0;
        bool stop = false;
        std::vector<int> percents;
    } host;
    tq::YieldHook hook(
        [](void* c) {
            auto* h = static_cast<Host*>(c);
            ++h->fires;
            h->stop = h->stop || h->when == StopWhen::FirstFire;
        },
        &host);
    tq::sealed::Work work;
    work.yield = &hook;
    work.stop = &host.stop;
    work.progress = [&host](int p) {
        host.percents.push_back(p);
        host.stop = host.stop || (host.when == StopWhen::FirstChunk && p > 90);
    };
    const Params slow{1, 32 * 1024};
    const std::string memo = randomBytes(5 * tq::sealed::kChunkSize, 5);
    const auto file = tq::sealed::Seal(memo, SecretBytes::copyOf("pw"), slow, work);
    ASSERT_TRUE(file.has_value());
    EXPECT_GE(host.fires, 2 + 5);
    EXPECT_TRUE(std::is_sorted(host.percents.begin(), host.percents.end()));
    EXPECT_EQ(host.percents.back(), 98);

    const auto dir = std::filesystem::temp_directory_path() / ("tq-sealed-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "memo.tqs";
    std::ofstream(path, std::ios::binary) << "old";
    for (StopWhen when : {StopWhen::FirstFire, StopWhen::FirstChunk}) {
        host = Host{};
        host.when = when;
        EXPECT_FALSE(tq::sealed::SealToFile(path, memo, SecretBytes::copyOf("pw"), slow, work));
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
        host = Host{};
        host.when = when;
        EXPECT_FALSE(tq::sealed::Unseal(*file, SecretBytes::copyOf("pw"), work).has_value());
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    std::filesystem::remove_all(dir);
}

} // namespace
