// After locking, no copy of the memo is left in this process's readable
// memory: every readable region of /proc/self/maps is read through
// /proc/self/mem and searched for two long marker phrases, one opened from a
// sealed file and one typed through key events, in Windows-1252 and in UTF-16
// (Qt's strings). The phrases exist in the test only in locked memory that the
// search leaves out, so every hit is a copy the program made.
#include "tests/lock/lock_fixture.h"

#include "app/memoview.h"

#include <QAction>
#include <QLineEdit>

#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tqtest {
namespace {

struct Pattern {
    const char* name;
    tq::sealed::SecretBytes bytes;
};

struct Hit {
    std::string pattern;
    std::string region;
};

// A marker phrase of `words` random lower-case words, in locked memory.
tq::sealed::SecretBytes marker(const char* lead, int words)
{
    std::string text = lead;
    for (int i = 0; i < words; ++i) {
        text += ' ';
        for (int j = 0; j < 6; ++j) {
            text += static_cast<char>('a' + QRandomGenerator::global()->bounded(26));
        }
    }
    tq::sealed::SecretBytes out = tq::sealed::SecretBytes::copyOf(text);
    tq::sealed::Wipe(text);
    return out;
}

tq::sealed::SecretBytes utf16(const tq::sealed::SecretBytes& latin)
{
    tq::sealed::SecretBytes out(latin.size() * 2);
    for (std::size_t i = 0; i < latin.size(); ++i) {
        out.data()[2 * i] = latin.data()[i];
        out.data()[2 * i + 1] = 0;
    }
    return out;
}

// Every place in readable memory where a pattern occurs, outside the patterns
// themselves and the search's own buffers. The search allocates nothing on the
// heap until it has read everything (the maps and the regions go to buffers of
// their own), so it cannot itself reuse, and so overwrite, a freed copy.
std::vector<Hit> searchMemory(const std::vector<Pattern>& patterns)
{
    constexpr std::size_t kChunk = 1 << 20;
    constexpr std::size_t kOverlap = 4096;
    constexpr std::size_t kMapsSize = 1 << 20;
    constexpr std::size_t kMaxHits = 256;
    constexpr std::size_t kTotal = kChunk + kOverlap + kMapsSize;
    auto* area = static_cast<unsigned char*>(
        mmap(nullptr, kTotal, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(area, MAP_FAILED);
    unsigned char* buffer = area;
    char* maps = reinterpret_cast<char*>(area + kChunk + kOverlap);
    struct RawHit {
        std::size_t pattern;
        std::size_t lineStart;
    };
    RawHit raw[kMaxHits];
    std::size_t rawCount = 0;
    std::size_t mapsLength = 0;
    const int mapsFile = open("/proc/self/maps", O_RDONLY);
    for (ssize_t got = 1; got > 0 && mapsLength + 1 < kMapsSize; mapsLength += static_cast<std::size_t>(got)) {
        got = read(mapsFile, maps + mapsLength, kMapsSize - 1 - mapsLength);
        if (got <= 0) {
            break;
        }
    }
    close(mapsFile);
    maps[mapsLength] = 0;
    const auto self = reinterpret_cast<std::uintptr_t>(area);
    const int mem = open("/proc/self/mem", O_RDONLY);
    EXPECT_GE(mem, 0);
    for (std::size_t lineStart = 0; lineStart < mapsLength;) {
        char* lineEnd = std::strchr(maps + lineStart, '\n');
        const std::size_t next = lineEnd != nullptr ? static_cast<std::size_t>(lineEnd - maps) + 1 : mapsLength;
        unsigned long from = 0;
        unsigned long to = 0;
        char perms[5] = {};
        auto inLine = [&](const char* what) {
            const char* at = std::strstr(maps + lineStart, what);
            return at != nullptr && static_cast<std::size_t>(at - maps) < next;
        };
        if (std::sscanf(maps + lineStart, "%lx-%lx %4s", &from, &to, perms) != 3 || perms[0] != 'r' || inLine("[vvar]")
            || inLine("[vsyscall]") || from == self) {
            lineStart = next;
            continue;
        }
        std::size_t carried = 0;
        for (unsigned long pos = from; pos < to; pos += kChunk) {
            const std::size_t want = std::min<unsigned long>(kChunk, to - pos);
            const ssize_t got = pread(mem, buffer + carried, want, static_cast<off_t>(pos));
            if (got <= 0) {
                carried = 0;
                continue;
            }
            const std::size_t size = carried + static_cast<std::size_t>(got);
            const std::uintptr_t base = pos - carried;
            for (std::size_t k = 0; k < patterns.size(); ++k) {
                const std::size_t n = patterns[k].bytes.size();
                for (std::size_t i = 0; i + n <= size; ++i) {
                    const void* found = memmem(buffer + i, size - i, patterns[k].bytes.data(), n);
                    if (found == nullptr) {
                        break;
                    }
                    i = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - buffer);
                    const std::uintptr_t address = base + i;
                    bool skipped = false;
                    for (const Pattern& p : patterns) {
                        const auto at = reinterpret_cast<std::uintptr_t>(p.bytes.data());
                        skipped = skipped || (address >= at && address < at + p.bytes.size());
                    }
                    // A hit in the carried-over bytes was counted in the chunk before.
                    if (!skipped && i + n > carried && rawCount < kMaxHits) {
                        raw[rawCount++] = {k, lineStart};
                    }
                }
            }
            carried = std::min<std::size_t>(kOverlap, size);
            std::memmove(buffer, buffer + size - carried, carried);
        }
        lineStart = next;
    }
    close(mem);
    std::vector<Hit> hits;
    for (std::size_t i = 0; i < rawCount; ++i) {
        const char* line = maps + raw[i].lineStart;
        const char* end = std::strchr(line, '\n');
        hits.push_back({patterns[raw[i].pattern].name, end != nullptr ? std::string(line, end) : std::string(line)});
    }
    explicit_bzero(area, kTotal);
    munmap(area, kTotal);
    return hits;
}

std::string describe(const std::vector<Hit>& hits)
{
    std::ostringstream out;
    for (const Hit& h : hits) {
        out << "  " << h.pattern << " in " << h.region << "\n";
    }
    return out.str();
}

int count(const std::vector<Hit>& hits, const std::string& pattern)
{
    int n = 0;
    for (const Hit& h : hits) {
        n += h.pattern == pattern ? 1 : 0;
    }
    return n;
}

using LockedMemoryTest = LockTest;

TEST_F(LockedMemoryTest, NoCopyOfTheMemoLeftInReadableMemoryAfterLocking)
{
    std::vector<Pattern> patterns;
    patterns.push_back({"opened", marker("Opened marker", 5)});
    patterns.push_back({"typed", marker("Typed marker", 5)});
    patterns.push_back({"opened UTF-16", utf16(patterns[0].bytes)});
    patterns.push_back({"typed UTF-16", utf16(patterns[1].bytes)});
    // The allocator overwrites the first 16 bytes of a freed chunk with its own
    // pointers, so a freed copy of the text may have lost its start: the last
    // 24 characters are looked for too.
    for (int i = 0; i < 4; ++i) {
        const tq::sealed::SecretBytes& whole = patterns[static_cast<std::size_t>(i)].bytes;
        const std::size_t tail = i < 2 ? 24 : 48;
        tq::sealed::SecretBytes part(tail);
        std::memcpy(part.data(), whole.data() + whole.size() - tail, tail);
        patterns.push_back({i == 0 ? "end of opened" : i == 1 ? "end of typed" : i == 2 ? "end of opened UTF-16"
                                                                                     : "end of typed UTF-16",
                            std::move(part)});
    }

    // The file's memo: the first marker after 8 KB of other lines (copies of a
    // text this long go to the allocator's bins, not its small-chunk cache).
    const std::string filler = [] {
        std::string lines;
        while (lines.size() < 8192) {
            lines += "Another line of the memo, nothing secret in it.\r\n";
        }
        return lines;
    }();
    tq::sealed::SecretBytes memo(filler.size() + patterns[0].bytes.size() + 16);
    std::memcpy(memo.data(), filler.data(), filler.size());
    std::memcpy(memo.data() + filler.size(), patterns[0].bytes.data(), patterns[0].bytes.size());
    std::memcpy(memo.data() + filler.size() + patterns[0].bytes.size(), "\r\nlast line", 11);
    memo.shrink(filler.size() + patterns[0].bytes.size() + 11);
    tq::TfrmMemo& w = startWithSealedMemo(memo.view(), "the passphrase");
    memo = tq::sealed::SecretBytes();

    // The second marker typed at the end, key by key, and shown.
    w.activateWindow();
    w.Memo->setFocus();
    w.Memo->setSelection(w.Memo->textLength(), 0);
    for (std::size_t i = 0; i < patterns[1].bytes.size(); ++i) {
        QTest::keyClick(w.Memo, static_cast<char>(patterns[1].bytes.data()[i]));
    }
    // Painted, copied to the clipboard and searched: each makes copies of its own.
    w.Memo->selectAll();
    w.Memo->copy();
    w.txtZoekWoord->setText(QStringLiteral("nowhere"));
    w.imgBtnZoekenClick();
    // Last, the typed marker alone, as one copies a password line.
    w.Memo->setSelection(w.Memo->textLength() - static_cast<int>(patterns[1].bytes.size()),
                         static_cast<int>(patterns[1].bytes.size()));
    w.Memo->copy();
    w.Memo->setSelection(5, 30);
    w.Memo->repaint();
    QTest::qWait(100);
    const int length = w.Memo->textLength();

    const std::vector<Hit> before = searchMemory(patterns);
    EXPECT_GE(count(before, "opened"), 1) << "the search must see the memo before locking";
    EXPECT_GE(count(before, "typed"), 1) << "the search must see the memo before locking";
    std::printf("before locking: %zu copies\n%s", before.size(), describe(before).c_str());

    w.Lock->requestLock();
    ASSERT_TRUE(w.Lock->locked());
    w.repaint();
    QTest::qWait(100);

    const std::vector<Hit> after = searchMemory(patterns);
    EXPECT_TRUE(after.empty()) << "copies left after locking:\n" << describe(after);
    std::printf("after locking: %zu copies\n", after.size());

    // And it all comes back.
    clickUnlock(w, "the passphrase");
    ASSERT_FALSE(w.Lock->locked());
    EXPECT_EQ(w.Memo->textLength(), length);
    EXPECT_EQ(w.Memo->selStart(), 5);
    EXPECT_EQ(w.Memo->selLength(), 30);
}

} // namespace
} // namespace tqtest
