// tarnquill-bench: speed of the engines beside a baseline measured in the same run
// on the same data: zlib level 1, and for decryption the encryption pass of the
// same text. Prints one table; every figure is the best of several runs.
//
//   tarnquill-bench [--quick]
//
// --quick uses 8 MB instead of 64 MB for the large cases and leaves out the idle
// and start-up rows (desktop_figures.h), which take a few minutes under Xvfb.
#include "archive/archive_ops.h"
#include "archive/archive_paths.h"
#include "archive/fileio.h"
#include "archive/xfileframe.h"
#include "bench/desktop_figures.h"
#include "compress/compress.h"
#include "crypto/linecipher.h"
#include "platform/yield.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Best time per call in seconds: runs `fn` until at least `minSeconds` have passed
// and at least `minRuns` runs were made.
double bestSeconds(const std::function<void()>& fn, double minSeconds = 0.3, int minRuns = 3)
{
    double best = 1e30;
    double total = 0;
    int runs = 0;
    while (runs < minRuns || total < minSeconds) {
        const auto t0 = Clock::now();
        fn();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        best = std::min(best, s);
        total += s;
        ++runs;
    }
    return best;
}

Bytes textLike(std::size_t size, std::uint32_t seed)
{
    static const char* const kWords[] = {
        "the", "memo", "of", "and", "a", "to", "in", "is", "you", "that", "it", "he", "was", "for", "on",
        "are", "as", "with", "his", "they", "I", "at", "be", "this", "have", "from", "or", "one", "had",
        "by", "word", "but", "not", "what", "all", "were", "we", "when", "your", "can", "said", "there",
        "use", "an", "each", "which", "she", "do", "how", "their", "if", "will", "up", "other", "about",
        "out", "many", "then", "them", "these", "so", "some", "her", "would", "make", "like", "him",
        "into", "time", "has", "look", "two", "more", "write", "go", "see", "number", "no", "way",
        "could", "people", "my", "than", "first", "water", "been", "call", "who", "oil", "its", "now",
        "find", "long", "down", "day", "did", "get", "come", "made", "may", "part", "archive", "key"};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kWords / sizeof kWords[0] - 1);
    Bytes out;
    out.reserve(size + 16);
    std::size_t lineLength = 0;
    while (out.size() < size) {
        const char* w = kWords[pick(rng)];
        out.insert(out.end(), w, w + std::strlen(w));
        lineLength += std::strlen(w) + 1;
        if (lineLength > 70) {
            out.push_back('\r');
            out.push_back('\n');
            lineLength = 0;
        } else {
            out.push_back(rng() % 11 == 0 ? ',' : ' ');
        }
    }
    out.resize(size);
    return out;
}

Bytes randomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

void noYield(void*) {}

Bytes compressWith(tq::TCompress& c, const Bytes& input)
{
    c.Reset();
    c.Bytes.TimeLimitOn = false;
    c.Bytes.AppendBytes(input.data(), input.size());
    c.Bytes.BuildTable(2);
    c.Bytes.SortTable();
    c.CompressData();
    c.Bytes.PrependTable();
    return Bytes(c.Bytes.data(), c.Bytes.data() + c.Bytes.size());
}

void decompressWith(tq::TCompress& c, const Bytes& stream)
{
    c.Reset();
    c.DecompressStream(stream.data(), stream.size());
}

Bytes zlibDeflate(const Bytes& input)
{
    uLongf size = compressBound(static_cast<uLong>(input.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, input.data(), static_cast<uLong>(input.size()), 1) != Z_OK) {
        throw std::runtime_error("zlib compress2 failed");
    }
    out.resize(size);
    return out;
}

void zlibInflate(const Bytes& packed, Bytes& out)
{
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, packed.data(), static_cast<uLong>(packed.size())) != Z_OK) {
        throw std::runtime_error("zlib uncompress failed");
    }
}

double mbps(std::size_t bytes, double seconds)
{
    return static_cast<double>(bytes) / 1e6 / seconds;
}

void printHeader()
{
    std::printf("%-26s %10s %10s %10s %9s\n", "case", "engine", "baseline", "ratio", "size %");
    std::printf("%-26s %10s %10s %10s %9s\n", "", "MB/s", "MB/s", "eng/base", "eng/zlib");
}

// Rows whose engine figure stays below the baseline, for the closing line.
std::vector<std::string> rowsBelowBaseline;

void printRow(const std::string& name, double engine, double zlib, double sizeEngine, double sizeZlib)
{
    if (engine < zlib) {
        char ratio[32];
        std::snprintf(ratio, sizeof ratio, " (%.2fx)", engine / zlib);
        rowsBelowBaseline.push_back(name + ratio);
    }
    if (sizeEngine > 0) {
        std::printf("%-26s %10.1f %10.1f %10.2f %4.0f/%-4.0f\n", name.c_str(), engine, zlib, engine / zlib,
                    sizeEngine, sizeZlib);
    } else {
        std::printf("%-26s %10.1f %10.1f %10.2f\n", name.c_str(), engine, zlib, engine / zlib);
    }
}

void benchCompressor(const std::string& label, const Bytes& input)
{
    tq::TCompress c;
    Bytes stream = compressWith(c, input);
    const Bytes packed = zlibDeflate(input);
    const double tc = bestSeconds([&] { compressWith(c, input); });
    const double tz = bestSeconds([&] { zlibDeflate(input); });
    printRow("compress " + label, mbps(input.size(), tc), mbps(input.size(), tz),
             100.0 * static_cast<double>(stream.size()) / static_cast<double>(input.size()),
             100.0 * static_cast<double>(packed.size()) / static_cast<double>(input.size()));

    // Both sides produce their output in freshly obtained memory, as a program does.
    const double td = bestSeconds([&] { decompressWith(c, stream); });
    const double ti = bestSeconds([&] {
        Bytes inflated(input.size());
        zlibInflate(packed, inflated);
    });
    printRow("decompress " + label, mbps(input.size(), td), mbps(input.size(), ti), 0, 0);
}

void benchCipher(const std::string& label, const Bytes& input)
{
    const std::string text(input.begin(), input.end());
    tq::LineCipher cipher;
    const tq::CipherKeys keys{17, 23, 101};
    std::string coded = cipher.CodeLine(text, keys);
    const Bytes packed = zlibDeflate(input);
    const double te = bestSeconds([&] { coded = cipher.CodeLine(text, keys); });
    const double tz = bestSeconds([&] { zlibDeflate(input); });
    printRow("encrypt " + label, mbps(input.size(), te), mbps(input.size(), tz), 0, 0);
    // Decryption is held to the encryption pass of the same text in the same run:
    // undoing a pass must not be slower than making it.
    const double tdc = bestSeconds([&] { cipher.DeCodeLine(coded, keys); });
    printRow("decrypt " + label, mbps(input.size(), tdc), mbps(input.size(), te), 0, 0);
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

// A folder of files of mixed sizes (text, some random) adding up to `total` bytes.
std::vector<Bytes> makeFolder(const std::filesystem::path& folder, std::size_t total)
{
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "sub");
    std::vector<Bytes> files;
    std::mt19937 rng(7);
    std::size_t sum = 0;
    for (int i = 0; sum < total; ++i) {
        const std::size_t size = 20000 + rng() % 130000;
        Bytes bytes = (i % 5 == 4) ? randomBytes(size, static_cast<std::uint32_t>(i))
                                   : textLike(size, static_cast<std::uint32_t>(i));
        writeFile(folder / (i % 2 ? "sub" : "") / ("file" + std::to_string(i) + ".txt"), bytes);
        sum += size;
        files.push_back(std::move(bytes));
    }
    return files;
}

void benchContainer(std::size_t total)
{
    const auto root = std::filesystem::temp_directory_path() / ("tarnquill-bench-" + std::to_string(::getpid()));
    const auto folder = root / "docs";
    const std::vector<Bytes> files = makeFolder(folder, total);
    std::size_t bytes = 0;
    for (const auto& f : files) {
        bytes += f.size();
    }
    const std::string archive = (root / "bench.X").string();
    tq::AddOptions options;
    options.applyTimeLimit = true;
    options.timeLimitOn = false;

    const double tAdd = bestSeconds(
        [&] {
            tq::XFileFrame frame;
            tq::TCompress c;
            tq::addFilesToArchive(frame, c, tq::folderFilesToAdd(folder.string()), options);
            frame.SaveToFile(archive);
        },
        0.5, 2);
    const double tZip = bestSeconds(
        [&] {
            for (const auto& f : files) {
                zlibDeflate(f);
            }
        },
        0.5, 2);
    printRow("container add " + std::to_string(files.size()) + " files", mbps(bytes, tAdd), mbps(bytes, tZip), 0,
             0);

    std::vector<Bytes> packed;
    for (const auto& f : files) {
        packed.push_back(zlibDeflate(f));
    }
    const auto out = root / "out";
    std::filesystem::create_directories(out);
    // Extraction writes files, so its baseline does too: zlib-1's inflate of every
    // file followed by the same atomic write of the file. Every run unpacks into a
    // new, empty folder, as a user unpacks an archive, so every entry is decoded and
    // written as a new file (into the folder of the previous run every file would
    // be a replacement, flushed to disk before its rename: a measure of the disk).
    // The two sides alternate, so that both meet the disk in the same state, and
    // the folders are removed between runs, outside the timing.
    tq::XFileFrame loaded;
    loaded.LoadFromFile(archive);
    double best[2] = {1e30, 1e30};
    double spent = 0;
    for (int run = 0; run < 4 || spent < 1.0; ++run) {
        for (int side = 0; side < 2; ++side) {
            const auto target = out / ("run" + std::to_string(run) + "-" + std::to_string(side));
            std::filesystem::create_directories(target);
            const auto t0 = Clock::now();
            if (side == 0) {
                tq::XFileFrame frame;
                frame.LoadFromFile(archive);
                tq::TCompress c;
                for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
                    tq::extractEntryAt(frame, c, n, target.string(), tq::ArchiveKeys{}, nullptr, 0, 1, nullptr);
                }
            } else {
                for (std::size_t i = 0; i < files.size(); ++i) {
                    Bytes o(files[i].size());
                    zlibInflate(packed[i], o);
                    tq::archive_io::writeFileAtomically((target / ("file" + std::to_string(i))).string(),
                                                        {{o.data(), o.size()}}, nullptr,
                                                        tq::AtomicFile::Links::Replace, false);
                }
            }
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            best[side] = std::min(best[side], s);
            spent += s;
            std::filesystem::remove_all(target);
        }
    }
    printRow("container extract", mbps(bytes, best[0]), mbps(bytes, best[1]), 0, 0);

    // The same without the files: every entry decoded in memory beside zlib-1's
    // inflate of every file.
    const double tDecode = bestSeconds(
        [&] {
            tq::TCompress c;
            for (std::int32_t n = 1; n <= loaded.EntryCount(); ++n) {
                tq::decodeEntry(loaded, c, n, tq::ArchiveKeys{});
            }
        },
        0.5, 2);
    const double tInflate = bestSeconds(
        [&] {
            for (std::size_t i = 0; i < files.size(); ++i) {
                Bytes o(files[i].size());
                zlibInflate(packed[i], o);
            }
        },
        0.5, 2);
    printRow("container decode", mbps(bytes, tDecode), mbps(bytes, tInflate), 0, 0);
    std::printf("  (extract baseline: inflate and the same atomic write of each file; add and decode:\n"
                "   deflate/inflate of each file in memory, no file I/O)\n");
    std::filesystem::remove_all(root);
}

// Best times of two variants measured in alternation, so that neither profits from
// running first or last (allocation state, frequency changes).
std::pair<double, double> bestOfAlternating(const std::function<void()>& first, const std::function<void()>& second)
{
    double best[2] = {1e30, 1e30};
    double total = 0;
    for (int runs = 0; runs < 6 || total < 0.6; ++runs) {
        for (int k = 0; k < 2; ++k) {
            const auto t0 = Clock::now();
            (k == 0 ? first : second)();
            const double s = std::chrono::duration<double>(Clock::now() - t0).count();
            best[k] = std::min(best[k], s);
            total += s;
        }
    }
    return {best[0], best[1]};
}

void benchYieldHook(const std::string& label, const Bytes& input)
{
    tq::TCompress plain;
    tq::TCompress hooked;
    hooked.Yield.set(&noYield, nullptr);
    const Bytes stream = compressWith(plain, input);
    const auto [c0, c1] = bestOfAlternating([&] { compressWith(plain, input); }, [&] { compressWith(hooked, input); });
    const auto [d0, d1] =
        bestOfAlternating([&] { decompressWith(plain, stream); }, [&] { decompressWith(hooked, stream); });
    std::printf("%-26s compress %+.1f %%, decompress %+.1f %%\n", ("yield hook " + label).c_str(),
                100.0 * (c1 / c0 - 1.0), 100.0 * (d1 / d0 - 1.0));
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::size_t large = (quick ? 8u : 64u) * 1024 * 1024;
    const std::string largeLabel = quick ? "8 MB" : "64 MB";
    try {
        printHeader();
        for (std::size_t size : {4096u, 32768u, 150000u}) {
            const std::string kb = std::to_string(size / 1000) + " KB";
            benchCompressor("text " + kb, textLike(size, 1));
            benchCompressor("random " + kb, randomBytes(size, 2));
        }
        benchCompressor("text " + largeLabel, textLike(large, 3));
        benchCompressor("random " + largeLabel, randomBytes(large, 4));
        for (std::size_t size : {4096u, 150000u}) {
            benchCipher("text " + std::to_string(size / 1000) + " KB", textLike(size, 5));
        }
        benchCipher("text " + largeLabel, textLike(large / 4, 6));
        std::printf("  (baseline: zlib level 1 on the same data; for decrypt, the encrypt pass of the same text)\n");
        benchContainer(large);
        benchYieldHook("text 150 KB", textLike(150000, 8));
        benchYieldHook("text " + largeLabel, textLike(large, 9));
        if (quick) {
            std::printf("\nidle and start-up rows skipped: --quick (they run without it)\n");
        } else {
            tqbench::printDesktopRows({TQ_BENCH_SCRIPTS, TQ_BENCH_BUILD}, rowsBelowBaseline);
        }
        std::string below;
        for (const std::string& row : rowsBelowBaseline) {
            below += (below.empty() ? "" : ", ") + row;
        }
        std::printf("below 1x: %s\n", below.empty() ? "none" : below.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnquill-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
