// The selection information (sizes and percentages) and the progress bar.
#include "tests/archive_window/fixture.h"

#include "archive/archive_ops.h"
#include "archive/xfileframe.h"

#include <QImage>
#include <QPainter>
#include <QTreeWidget>

#include <cmath>

namespace tqtest {
namespace {

// Reference for the size estimate of a compressed entry: two bytes for every
// code of the whole payload (escapes 253..255 take three payload bytes), less the
// 506 table bytes.
std::int64_t referenceEstimate(const std::uint8_t* payload, std::int32_t size)
{
    std::int64_t decoded = 0;
    for (std::int32_t i = 0; i < size;) {
        if (payload[i] >= 253) {
            const std::int32_t present = std::min<std::int32_t>(2, size - i - 1);
            decoded += present;
            i += 1 + present;
        } else {
            decoded += 2;
            i += 1;
        }
    }
    return decoded - 506;
}

QString sizeText(std::int64_t n)
{
    return tq::TfrmCompressie::SizeText(n);
}

} // namespace

TEST(ArchiveWindowTexts, SizeTextUnits)
{
    EXPECT_EQ(sizeText(1), QStringLiteral("1 Byte"));
    EXPECT_EQ(sizeText(2), QStringLiteral("2 Bytes"));
    EXPECT_EQ(sizeText(1023), QStringLiteral("1023 Bytes"));
    EXPECT_EQ(sizeText(1024), QStringLiteral("1 KByte"));
    EXPECT_EQ(sizeText(2047), QStringLiteral("1 KByte"));
    EXPECT_EQ(sizeText(2048), QStringLiteral("2 KBytes"));
    EXPECT_EQ(sizeText(1048575), QStringLiteral("1023 KBytes"));
    EXPECT_EQ(sizeText(1048576), QStringLiteral("1 MByte"));
    EXPECT_EQ(sizeText(2 * 1048576 - 1), QStringLiteral("1 MByte"));
    EXPECT_EQ(sizeText(5LL * 1048576 + 17), QStringLiteral("5 MBytes"));
    EXPECT_EQ(sizeText(0), QStringLiteral("0 Bytes"));
}

TEST_F(ArchiveWindowTest, SelectionInformationPerEntryAndInTotal)
{
    timeLimitOff();
    addFiles({makeFile("a.txt", textBytes(20001, 31)), makeFile("b.bin", noiseBytes(500, 32)),
              makeFile("c.dat", noiseBytes(300000, 33)), makeFile("d.txt", textBytes(5000, 34))});
    const tq::XFileFrame& f = window->frame();
    ASSERT_EQ(f.GetEntryKind(1), tq::kKindCompressed);
    // A compressed file of odd length (a.txt) decodes with one padding byte that
    // extraction drops: its estimate counts one byte less.
    const auto estimate = [&](std::int32_t n) {
        return f.GetEntryKind(n) == tq::kKindCompressed
                   ? referenceEstimate(f.GetEntryPayload(n), f.GetEntrySize(n)) - (n == 1 ? 1 : 0)
                   : std::int64_t{f.GetEntrySize(n)};
    };
    const auto percent = [](std::int64_t p, std::int64_t n) {
        return QString::number(p > 0 && n > 0 ? static_cast<int>(std::nearbyint(100.0 - (p + 506.0) / n * 100.0)) : 0) +
               QStringLiteral(" %");
    };
    const auto panel = [&](int i) { return window->statusBar()->panelText(i); };

    // One compressed entry.
    window->selectNodes({"a.txt"});
    EXPECT_EQ(panel(0), sizeText(estimate(1)));
    EXPECT_EQ(panel(1), percent(f.GetEntrySize(1), estimate(1)));
    EXPECT_GT(estimate(1), 19000) << "the estimate is near the file's size";

    // One small stored entry: its size and "0 %".
    window->selectNodes({"b.bin"});
    EXPECT_EQ(panel(0), QStringLiteral("500 Bytes"));
    EXPECT_EQ(panel(1), QStringLiteral("0 %"));

    // One large stored entry (selected in one step): its size; the percentage is
    // left as the previous selection set it.
    window->statusBar()->setPanelText(1, QStringLiteral("unchanged"));
    window->TreeView->setCurrentItem(window->TreeView->topLevelItem(2), 0, QItemSelectionModel::ClearAndSelect);
    ASSERT_EQ(window->TreeView->topLevelItem(2)->text(0), QStringLiteral("c.dat"));
    EXPECT_EQ(panel(0), QStringLiteral("292 KBytes"));
    EXPECT_EQ(panel(1), QStringLiteral("unchanged"));

    // Several selected: the sums over the selection.
    window->selectNodes({"a.txt", "d.txt", "b.bin"});
    std::int64_t p = f.GetEntrySize(1) + f.GetEntrySize(2) + f.GetEntrySize(4);
    std::int64_t n = estimate(1) + estimate(2) + estimate(4);
    EXPECT_EQ(panel(0), sizeText(n));
    EXPECT_EQ(panel(1), percent(p, n));

    // None selected: the sums over all entries.
    window->btnDeSelectClick();
    p += f.GetEntrySize(3);
    n += estimate(3);
    EXPECT_EQ(panel(0), sizeText(n));
    EXPECT_EQ(panel(1), percent(p, n));
}

TEST_F(ArchiveWindowTest, ProgressBarOnlyOnAWideEnoughWindow)
{
    const auto fillPixel = [&](int width) {
        window->resize(width, 279);
        window->show();
        window->Progress = 50;
        window->drawStatusbar();
        QImage image(window->statusBar()->size(), QImage::Format_ARGB32);
        window->statusBar()->render(&image);
        const int w = window->statusBar()->width();
        return std::make_pair(image.pixelColor(w - 114 + 10, 10), image.pixelColor(w - 114 + 80, 10));
    };
    const QColor highlight = window->palette().color(QPalette::Highlight);

    const auto [filled, empty] = fillPixel(439);
    EXPECT_TRUE(window->ProgressVisible);
    EXPECT_EQ(filled, highlight) << "the fill covers the first half";
    EXPECT_NE(empty, highlight) << "and only that";

    const auto [narrowFilled, narrowEmpty] = fillPixel(400);
    EXPECT_NE(narrowFilled, highlight) << "no bar below 420 pixels";
    (void)narrowEmpty;
    window->ProgressVisible = false;
    window->hide();
}

} // namespace tqtest
