// Benchmark: printing one very long memo line, as an encrypted memo is, to PDF.
//
// An encrypted 100 KB memo is one line of 1.6 MB. The run prints that line
// (wrapped into rows at the page width), and as the baseline the same characters
// already cut into lines of one row each, so the ratio shows what wrapping costs
// beside drawing the rows. Both go to PDF files in the temporary folder.
//
//   tarnquill-print-bench [--mb N]     (default 1.6)
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "app/printing.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPageSize>
#include <QPdfWriter>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Run {
    double seconds = 0;
    // Processor time, which a busy machine does not inflate as it does the clock.
    double cpu = 0;
    // Until the last row was drawn; the rest is the PDF file being finished.
    double drawnSeconds = 0;
    int pages = 0;
    long rows = 0;
    std::vector<std::size_t> rowLengths;
};

Run print(const std::vector<std::string>& lines, const QString& file)
{
    Run run;
    QPdfWriter writer(file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(600);
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = cpuSeconds();
    run.pages = tq::printPlainText(writer, lines, 1, [&](int, double, const QString& row) {
        ++run.rows;
        run.rowLengths.push_back(static_cast<std::size_t>(row.size()));
        run.drawnSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    });
    run.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    run.cpu = cpuSeconds() - cpuStart;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    double mb = 1.6;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mb") == 0) {
            mb = std::atof(argv[i + 1]);
        }
    }
    QApplication app(argc, argv);

    // Cipher-like text: the codes the line cipher writes (222..255 and 65..164).
    const auto size = static_cast<std::size_t>(mb * 1e6);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 33 + 99);
    std::string line(size, ' ');
    for (char& c : line) {
        const int v = pick(rng);
        c = static_cast<char>(v <= 33 ? 222 + v : 65 + (v - 34));
    }

    // Warm up the fonts and the PDF engine.
    print({line.substr(0, 20000)}, QDir::temp().filePath(QStringLiteral("tq-print-warm.pdf")));

    const Run wrapped = print({line}, QDir::temp().filePath(QStringLiteral("tq-print-long.pdf")));
    std::vector<std::string> rows;
    rows.reserve(wrapped.rowLengths.size());
    std::size_t at = 0;
    for (std::size_t length : wrapped.rowLengths) {
        rows.push_back(line.substr(at, length));
        at += length;
    }
    const Run baseline = print(rows, QDir::temp().filePath(QStringLiteral("tq-print-rows.pdf")));

    std::printf("one line of %.2f MB: %.3f s (%.3f s processor; rows drawn after %.3f s), %ld rows, %d pages\n",
                static_cast<double>(size) / 1e6, wrapped.seconds, wrapped.cpu, wrapped.drawnSeconds, wrapped.rows,
                wrapped.pages);
    std::printf("baseline, the same rows as lines: %.3f s (%.3f s processor; rows drawn after %.3f s), %ld rows, "
                "%d pages\n",
                baseline.seconds, baseline.cpu, baseline.drawnSeconds, baseline.rows, baseline.pages);
    std::printf("ratio long line / rows: %.2f; goal under 2 s: %s\n",
                baseline.seconds > 0 ? wrapped.seconds / baseline.seconds : 0.0,
                wrapped.seconds < 2.0 ? "met" : "NOT met (see the processor time on a busy machine)");
    return 0;
}
