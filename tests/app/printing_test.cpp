#include "app/printing.h"

#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Row {
    int page;
    double top;
    QString text;
};

std::vector<Row> printRows(QPdfWriter& writer, const std::vector<std::string>& lines, int copies, int* pages)
{
    std::vector<Row> rows;
    *pages = tq::printPlainText(writer, lines, copies,
                                [&](int page, double top, const QString& text) { rows.push_back({page, top, text}); });
    return rows;
}

int pdfPageCount(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray pdf = f.readAll();
    int count = 0;
    for (int at = pdf.indexOf("/Type /Page\n"); at >= 0; at = pdf.indexOf("/Type /Page\n", at + 1)) {
        ++count;
    }
    return count;
}

class PlainTextPrinting : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QTemporaryDir dir;
};

TEST_F(PlainTextPrinting, ThreeCopiesOfATwoLineMemoPrintTheLinesThreeTimes)
{
    const QString path = dir.filePath("memo.pdf");
    int pages = 0;
    std::vector<Row> rows;
    {
        QPdfWriter writer(path);
        rows = printRows(writer, {"first line", "second line"}, 3, &pages);
    }
    ASSERT_EQ(rows.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rows[i].text, i % 2 == 0 ? QStringLiteral("first line") : QStringLiteral("second line"));
        EXPECT_EQ(rows[i].page, 0);
        if (i > 0) {
            EXPECT_GT(rows[i].top, rows[i - 1].top);
        }
    }
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(pdfPageCount(path), 1);
}

TEST_F(PlainTextPrinting, FullPagesStartNewPagesAndNoRowLeavesThePage)
{
    const QString path = dir.filePath("long.pdf");
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i) {
        lines.push_back("line " + std::to_string(i));
    }
    int pages = 0;
    std::vector<Row> rows;
    double pageHeight = 0;
    double rowHeight = 0;
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::A5));
        pageHeight = writer.height();
        rows = printRows(writer, lines, 1, &pages);
        rowHeight = rows.size() > 1 ? rows[1].top - rows[0].top : 0;
    }
    ASSERT_EQ(rows.size(), lines.size());
    ASSERT_GT(pages, 1);
    EXPECT_EQ(pdfPageCount(path), pages);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].text.toStdString(), lines[i]);
        EXPECT_LE(rows[i].top + rowHeight, pageHeight + 0.5);
        if (i > 0 && rows[i].page != rows[i - 1].page) {
            EXPECT_EQ(rows[i].page, rows[i - 1].page + 1);
            EXPECT_EQ(rows[i].top, 0.0); // a new page starts at its top
            // The previous page was full: one more row would not have fitted.
            EXPECT_GT(rows[i - 1].top + 2 * rowHeight, pageHeight);
        }
    }
}

TEST_F(PlainTextPrinting, LongLinesWrapWithinThePrintableWidth)
{
    QFont font;
    const QFontMetricsF metrics(font);
    std::string words;
    for (int i = 0; i < 60; ++i) {
        words += "word" + std::to_string(i) + " ";
    }
    const std::string unbroken(500, 'x');
    for (const std::string& line : {words, unbroken}) {
        const QString printable = tq::printableLine(line);
        const double width = 200;
        const auto rows = tq::wrapRow(printable, metrics, width);
        ASSERT_GT(rows.size(), 1u);
        QString joined;
        for (const QString& row : rows) {
            EXPECT_LE(metrics.horizontalAdvance(row), width);
            EXPECT_FALSE(row.isEmpty());
            joined += row;
        }
        EXPECT_EQ(joined, printable); // nothing lost or repeated
    }
    // Word wrapping breaks after a blank, not inside a word.
    const auto rows = tq::wrapRow(tq::printableLine(words), metrics, 200);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        EXPECT_TRUE(rows[i].endsWith(u' ')) << rows[i].toStdString();
    }
    EXPECT_EQ(tq::wrapRow(QString(), metrics, 200).size(), 1u);
}

TEST_F(PlainTextPrinting, ALongLineIsPrintedWholeWhileEventsFlowAndStopsOnAbort)
{
    // Cipher-like text without blanks: the rows cover the line exactly once.
    std::string line;
    for (int i = 0; i < 300000; ++i) {
        line.push_back(static_cast<char>(i % 3 == 0 ? 0xE9 : 65 + i % 90));
    }
    struct Host {
        int calls = 0;
        int abortAtCall = 0;
        bool abort = false;
    };
    const auto printWith = [&](Host& host, int* pages) {
        tq::YieldHook hook(
            [](void* context) {
                auto* h = static_cast<Host*>(context);
                h->abort = ++h->calls == h->abortAtCall;
            },
            &host, 16);
        tq::PrintControl control;
        control.yield = &hook;
        control.abort = &host.abort;
        QPdfWriter writer(dir.filePath("cipher.pdf"));
        std::vector<QString> rows;
        *pages = tq::printPlainText(writer, {line}, 1, [&](int, double, const QString& row) { rows.push_back(row); },
                                    control);
        return rows;
    };

    Host whole;
    int pages = 0;
    const std::vector<QString> rows = printWith(whole, &pages);
    QString joined;
    for (const QString& row : rows) {
        joined += row;
    }
    EXPECT_EQ(joined, tq::printableLine(line));
    EXPECT_GT(pages, 10);
    EXPECT_EQ(whole.calls, static_cast<int>(rows.size()) / 16) << "the host is called every 16 rows";

    // Abort set by the host's third call: no row after it.
    Host stopped;
    stopped.abortAtCall = 3;
    EXPECT_EQ(printWith(stopped, &pages).size(), 48u);
}

TEST_F(PlainTextPrinting, TabsAdvanceToColumnsOfEightAndControlCodesShow)
{
    EXPECT_EQ(tq::printableLine("a\tb"), QStringLiteral("a       b"));
    EXPECT_EQ(tq::printableLine("abcdefgh\tc"), QStringLiteral("abcdefgh        c"));
    EXPECT_EQ(tq::printableLine(std::string("\x01\x80\xA0", 3)), QString::fromUtf16(u"\u2401\u20AC\u00A0"));
}

} // namespace
