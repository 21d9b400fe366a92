// After locking, no copy of the memo is left in this process's readable
// memory: every readable region of /proc/self/maps is read through
// /proc/self/mem and searched for two long marker phrases, one opened from a
// sealed file and one typed through key events, in Windows-1252 and in UTF-16
// (Qt's strings). The phrases exist in the test only in locked memory that the
// search leaves out, so every hit is a copy the program made.
#include "tests/lock/lock_fixture.h"

#include "app/memoview.h"

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
// themselves and the search's own buffer.
std::vector<Hit> searchMemory(const std::vector<Pattern>& patterns)
{
    constexpr std::size_t kChunk = 1 << 20;
    constexpr std::size_t kOverlap = 4096;
    auto* buffer = static_cast<unsigned char*>(
        mmap(nullptr, kChunk + kOverlap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_NE(buffer, MAP_FAILED);
    std::vector<std::pair<std::uintptr_t, std::uintptr_t>> skip;
    skip.emplace_back(reinterpret_cast<std::uintptr_t>(buffer), reinterpret_cast<std::uintptr_t>(buffer) + kChunk + kOverlap);
    for (const Pattern& p : patterns) {
        const auto at = reinterpret_cast<std::uintptr_t>(p.bytes.data());
        skip.emplace_back(at, at + p.bytes.size());
    }
    std::vector<Hit> hits;
    std::ifstream maps("/proc/self/maps");
    std::vector<std::string> lines;
    for (std::string line; std::getline(maps, line);) {
        lines.push_back(line);
    }
    const int mem = open("/proc/self/mem", O_RDONLY);
    EXPECT_GE(mem, 0);
    for (const std::string& line : lines) {
        unsigned long from = 0;
        unsigned long to = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3 || perms[0] != 'r'
            || line.find("[vvar]") != std::string::npos || line.find("[vsyscall]") != std::string::npos) {
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
            for (const Pattern& p : patterns) {
                const std::size_t n = p.bytes.size();
                for (std::size_t i = 0; i + n <= size; ++i) {
                    const void* found = memmem(buffer + i, size - i, p.bytes.data(), n);
                    if (found == nullptr) {
                        break;
                    }
                    i = static_cast<std::size_t>(static_cast<const unsigned char*>(found) - buffer);
                    const std::uintptr_t address = base + i;
                    bool skipped = false;
                    for (const auto& s : skip) {
                        skipped = skipped || (address >= s.first && address < s.second);
                    }
                    if (!skipped) {
                        hits.push_back({p.name, line});
                    }
                }
            }
            carried = std::min<std::size_t>(kOverlap, size);
            std::memmove(buffer, buffer + size - carried, carried);
        }
    }
    close(mem);
    explicit_bzero(buffer, kChunk + kOverlap);
    munmap(buffer, kChunk + kOverlap);
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
    patterns.push_back({"opened", marker("Opened marker", 10)});
    patterns.push_back({"typed", marker("Typed marker", 10)});
    patterns.push_back({"opened UTF-16", utf16(patterns[0].bytes)});
    patterns.push_back({"typed UTF-16", utf16(patterns[1].bytes)});

    // The file's memo: the first marker between two lines.
    tq::sealed::SecretBytes memo(patterns[0].bytes.size() + 40);
    std::memcpy(memo.data(), "First line\r\n", 12);
    std::memcpy(memo.data() + 12, patterns[0].bytes.data(), patterns[0].bytes.size());
    std::memcpy(memo.data() + 12 + patterns[0].bytes.size(), "\r\nlast line", 11);
    memo.shrink(12 + patterns[0].bytes.size() + 11);
    tq::TfrmMemo& w = startWithSealedMemo(memo.view(), "the passphrase");
    memo = tq::sealed::SecretBytes();

    // The second marker typed at the end, key by key, and shown.
    w.activateWindow();
    w.Memo->setFocus();
    w.Memo->setSelection(w.Memo->textLength(), 0);
    for (std::size_t i = 0; i < patterns[1].bytes.size(); ++i) {
        QTest::keyClick(w.Memo, static_cast<char>(patterns[1].bytes.data()[i]));
    }
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
