// Benchmark: the memo (tq::MemoView) beside a plain QPlainTextEdit with one very
// long line of cipher-like text, as a 1 MB memo encrypted twice gives.
//
// For each widget: time to show the text (set it and paint the first screen),
// time of one keystroke in the middle of the line (key handled and the view
// repainted), CPU use while idle with the caret blinking, and the growth of the
// process's resident memory.
//
//   tarnquill-memo-bench [--mb N] [--plain-mb N] [--idle S] [--keys K]
//
// --mb: memo text size in MB (default 16); --plain-mb: QPlainTextEdit text size
// (default the same; use less when it takes too long); --idle: seconds of idle
// measurement (default 3); --keys: keystrokes to average (default 5).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include "app/memoview.h"

#include "platform/codepage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

struct Figures {
    double showMs = 0;
    double keyMs = 0;
    double idleCpuPercent = 0;
    double memoryMb = 0;
};

double residentMb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void trimHeap()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Cipher text: one line of codes 222..255 and 65..164, as the line cipher writes.
std::string cipherText(std::size_t size)
{
    std::mt19937 rng(12345);
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(i % 4 == 3 ? 65 + rng() % 100 : 222 + rng() % 34);
    }
    return s;
}

void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void sendKey(QWidget* target, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_X, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

struct Subject {
    std::function<QAbstractScrollArea*()> create;
    std::function<void()> setText;
    std::function<void()> placeCaretInMiddle;
};

Figures measure(const Subject& subject, int keys, int idleSeconds)
{
    Figures f;
    trimHeap();
    const double rss0 = residentMb();

    QElapsedTimer clock;
    clock.start();
    QAbstractScrollArea* view = subject.create();
    view->resize(700, 450);
    view->show();
    subject.setText();
    view->viewport()->repaint();
    QApplication::processEvents();
    f.showMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    f.memoryMb = residentMb() - rss0;

    view->activateWindow();
    view->setFocus();
    QApplication::processEvents();
    subject.placeCaretInMiddle();
    view->viewport()->repaint();
    QApplication::processEvents();

    double total = 0;
    for (int k = 0; k < keys; ++k) {
        clock.restart();
        sendKey(view, QStringLiteral("x"));
        view->viewport()->repaint();
        QApplication::processEvents();
        total += static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }
    f.keyMs = total / keys;

    runEvents(300); // let pending work settle
    const double cpu0 = cpuSeconds();
    clock.restart();
    runEvents(idleSeconds * 1000);
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    f.idleCpuPercent = 100.0 * (cpuSeconds() - cpu0) / wall;

    const double rssEnd = residentMb() - rss0;
    if (rssEnd > f.memoryMb) {
        f.memoryMb = rssEnd;
    }
    delete view;
    QApplication::processEvents();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    double mb = 16;
    double plainMb = -1;
    int idle = 3;
    int keys = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--mb") == 0) {
            mb = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--plain-mb") == 0) {
            plainMb = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--idle") == 0) {
            idle = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--keys") == 0) {
            keys = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    if (plainMb < 0) {
        plainMb = mb;
    }
    QApplication app(argc, argv);

    // Warm up (fonts, style, first window) so that neither subject pays for it.
    {
        QPlainTextEdit warmUp;
        warmUp.setPlainText(QStringLiteral("warm up"));
        warmUp.show();
        warmUp.viewport()->repaint();
        QApplication::processEvents();
    }

    const auto memoSize = static_cast<std::size_t>(mb * 1024 * 1024);
    const auto plainSize = static_cast<std::size_t>(plainMb * 1024 * 1024);

    // The memo.
    Figures memoFigures;
    {
        const std::string text = cipherText(memoSize);
        tq::MemoView* memo = nullptr;
        Subject s;
        s.create = [&] { return memo = new tq::MemoView; };
        s.setText = [&] { memo->setText(text); };
        s.placeCaretInMiddle = [&] { memo->setSelection(static_cast<int>(memoSize / 2), 0); };
        memoFigures = measure(s, keys, idle);
    }

    // A plain QPlainTextEdit, wrapping, with the same kind of text.
    Figures plainFigures;
    {
        const std::string bytes = cipherText(plainSize);
        QString text;
        text.reserve(static_cast<qsizetype>(bytes.size()));
        for (char b : bytes) {
            text.append(QChar(static_cast<char16_t>(tq::cp1252::toUnicode(static_cast<unsigned char>(b)))));
        }
        QPlainTextEdit* edit = nullptr;
        Subject s;
        s.create = [&] { return edit = new QPlainTextEdit; };
        s.setText = [&] { edit->setPlainText(text); };
        s.placeCaretInMiddle = [&] {
            QTextCursor c = edit->textCursor();
            c.setPosition(static_cast<int>(plainSize / 2));
            edit->setTextCursor(c);
        };
        plainFigures = measure(s, keys, idle);
    }

    std::printf("\nOne single line of cipher text; memo %.1f MB, QPlainTextEdit %.1f MB.\n", mb, plainMb);
    std::printf("%-34s %14s %16s\n", "", "MemoView", "QPlainTextEdit");
    std::printf("%-34s %14.1f %16.1f\n", "show the text (ms)", memoFigures.showMs, plainFigures.showMs);
    std::printf("%-34s %14.2f %16.2f\n", "one keystroke in the middle (ms)", memoFigures.keyMs, plainFigures.keyMs);
    std::printf("%-34s %14.1f %16.1f\n", "idle CPU, caret blinking (%)", memoFigures.idleCpuPercent,
                plainFigures.idleCpuPercent);
    std::printf("%-34s %14.1f %16.1f\n", "memory growth (MB)", memoFigures.memoryMb, plainFigures.memoryMb);
    std::printf("%-34s %14.2f %16.2f\n", "memory / text size", memoFigures.memoryMb / mb,
                plainFigures.memoryMb / plainMb);
    return 0;
}
