// The busy protocol: DisableAll / EnableAll, the error guard, Abort and the
// progress bar.
#include "tests/support/window_fixture.h"

#include "compress/compress.h"

#include <QAction>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTest>

#include <stdexcept>

namespace tqtest {
namespace {

using MainWindowBusy = WindowTest;

std::vector<QAction*> allMainItems(tq::TfrmMemo& w)
{
    std::vector<QAction*> items;
    for (QMenu* menu : {w.Bestand1, w.Bewerken1, w.Mail1, w.Opties1, w.Info1}) {
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) {
                items.push_back(a);
            }
        }
    }
    return items;
}

TEST_F(MainWindowBusy, DisableAllLocksEveryMenuItemButCloseAndEveryControl)
{
    auto& w = start();
    w.DisableAll();
    EXPECT_FALSE(w.ControlsEnabled);
    const auto items = allMainItems(w);
    ASSERT_EQ(items.size(), 22u);
    for (QAction* a : items) {
        EXPECT_EQ(a->isEnabled(), a == w.Afsluiten1) << a->text().toStdString();
    }
    EXPECT_FALSE(w.Memo->isEnabled());
    EXPECT_FALSE(w.txtZoekWoord->isEnabled());
    EXPECT_FALSE(w.IOFunctions->isEnabled());
    for (QWidget* key : std::initializer_list<QWidget*>{w.CodeKey1, w.codeKey2, w.codeKey3, w.CodeKey4, w.Scale1,
                                                        w.scale2, w.Scale3, w.Scale4}) {
        EXPECT_FALSE(key->isEnabled()) << key->objectName().toStdString();
    }
    EXPECT_FALSE(w.imgBtnCoderen->isEnabled());
    EXPECT_FALSE(w.imgButtonDecoderen->isEnabled());
    // The Abort image shows in colour; New, Open, Save as and search in grey.
    EXPECT_TRUE(w.imgBtnStop->isVisible());
    EXPECT_FALSE(w.imgBtnStopBW->isVisible());
    EXPECT_TRUE(w.imgBtnLeegmakenBW->isVisible());
    EXPECT_FALSE(w.imgBtnLeegmaken->isVisible());
    EXPECT_TRUE(w.imgOpenenBW->isVisible());
    EXPECT_TRUE(w.imgOpslaanBw->isVisible());
    EXPECT_TRUE(w.imgBtnZoekenBW->isVisible());
    EXPECT_FALSE(w.imgBtnZoeken->isVisible());
    EXPECT_TRUE(w.imgCodeOpenenBW->isVisible());
    EXPECT_FALSE(w.imgCodeOpenenBW->isEnabled());
    EXPECT_FALSE(w.CursorTimer->isActive());

    w.EnableAll();
    EXPECT_TRUE(w.ControlsEnabled);
    for (QAction* a : items) {
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_TRUE(w.Memo->isEnabled());
    EXPECT_FALSE(w.imgBtnStop->isVisible());
    EXPECT_TRUE(w.imgBtnStopBW->isVisible());
    EXPECT_TRUE(w.imgBtnLeegmaken->isVisible());
    EXPECT_TRUE(w.CursorTimer->isActive());
}

TEST_F(MainWindowBusy, AResizeWhileBusyKeepsTheBusyState)
{
    auto& w = start();
    w.DisableAll();
    w.resize(800, 500);
    QApplication::processEvents();
    EXPECT_FALSE(w.ControlsEnabled);
    EXPECT_FALSE(w.Leegmaken1->isEnabled());
    EXPECT_TRUE(w.imgBtnZoekenBW->isVisible());
    EXPECT_FALSE(w.imgBtnZoeken->isVisible());
    EXPECT_TRUE(w.imgCodeOpslaanBW->isVisible());
}

TEST_F(MainWindowBusy, AnErrorInsideACommandReenablesEverythingAndIsShown)
{
    auto& w = start();
    w.runCommand([&] {
        w.beginBusy();
        w.startProgress();
        w.ProgressPercent = 40;
        throw std::runtime_error("Cannot open \"/x/memo.crp\": Permission denied");
    });
    EXPECT_TRUE(w.ControlsEnabled);
    for (QAction* a : allMainItems(w)) {
        EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_TRUE(w.Memo->isEnabled());
    EXPECT_FALSE(w.ProgressShown);
    EXPECT_TRUE(w.CursorTimer->isActive());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("Cannot open \"/x/memo.crp\": Permission denied"));
}

TEST_F(MainWindowBusy, AnErrorFromAMenuCommandGoesThroughTheGuard)
{
    auto& w = start();
    w.imgBtnCoderenClick = [&] {
        w.beginBusy();
        throw std::runtime_error("encryption failed");
    };
    w.Coderen1->trigger();
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_TRUE(w.Coderen1->isEnabled());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("encryption failed"));
}

TEST_F(MainWindowBusy, AbortSetsTheEngineFlagsInTwoSteps)
{
    auto& w = start();
    w.beginBusy();
    QTest::mouseClick(w.imgBtnStop, Qt::LeftButton);
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_TRUE(w.MainEngine().Bytes.Abort);
    EXPECT_FALSE(w.MainEngine().Cancel);
    QTest::mouseClick(w.imgBtnStop, Qt::LeftButton);
    EXPECT_TRUE(w.MainEngine().Cancel);
    // The grey Abort image carries no command.
    w.MainEngine().Reset();
    w.AbortRequested = false;
    w.endBusy();
    QTest::mouseClick(w.imgBtnStopBW, Qt::LeftButton);
    EXPECT_FALSE(w.AbortRequested);
    EXPECT_FALSE(w.MainEngine().Bytes.Abort);
}

TEST_F(MainWindowBusy, AbortArrivesThroughTheEnginesEventPump)
{
    auto& w = start();
    w.beginBusy();
    w.startProgress();
    // A click queued while the command runs is delivered by the engine's pump.
    QMetaObject::invokeMethod(w.imgBtnStop, [&] { w.btnStopClick(); }, Qt::QueuedConnection);
    tq::YieldHook& hook = w.MainEngine().Yield;
    int units = 0;
    while (!w.AbortRequested && units < 100000000) {
        ++units;
        w.ProgressPercent += 0.000001;
        hook.tick();
    }
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_TRUE(w.MainEngine().Bytes.Abort);
    w.endBusy();
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_TRUE(w.panel(0).isEmpty());
}

TEST_F(MainWindowBusy, ACloseConfirmedDuringACommandStopsItAtItsNextTest)
{
    auto& w = start();
    answerYes = true;
    w.beginBusy();
    // File > Close stays available while busy; the click arrives through the pump.
    ASSERT_TRUE(w.Afsluiten1->isEnabled());
    QMetaObject::invokeMethod(w.Afsluiten1, [&] { w.Afsluiten1->trigger(); }, Qt::QueuedConnection);
    tq::YieldHook& hook = w.MainEngine().Yield;
    long long units = 0;
    while (!w.AbortRequested && units < 1000000000LL) {
        ++units;
        hook.tick();
    }
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_TRUE(w.ClosingConfirmed);
    EXPECT_TRUE(w.MainEngine().Cancel);
    EXPECT_TRUE(w.MainEngine().Bytes.Abort);
    EXPECT_EQ(w.panel(0), QStringLiteral("Closing..."));
    EXPECT_EQ(questions, 1);
}

QRgb pixel(tq::TfrmMemo& w, int x, int y)
{
    return w.StatusBar->grab().toImage().pixel(x, y);
}

TEST_F(MainWindowBusy, ProgressAbove98IsStoredAndDrawnAs98)
{
    auto& w = start();
    const QRgb highlight = w.palette().color(QPalette::Highlight).rgb();
    const QRgb frame = w.palette().color(QPalette::Shadow).rgb();
    w.startProgress();
    w.ProgressPercent = 99.5;
    w.drawStatusBar();
    EXPECT_EQ(w.ProgressPercent, 98.0);
    // The fill ends one pixel inside the frame: x 6..103 filled, 104 is the frame.
    EXPECT_EQ(pixel(w, 6, 10), highlight);
    EXPECT_EQ(pixel(w, 103, 10), highlight);
    EXPECT_EQ(pixel(w, 104, 10), frame);
    EXPECT_EQ(pixel(w, 50, 4), frame);
    EXPECT_NE(pixel(w, 105, 10), frame); // nothing beyond the frame

    w.ProgressPercent = 120;
    w.UpdateStatusBar();
    EXPECT_EQ(w.ProgressPercent, 98.0);
    w.ProgressPercent = 30.9;
    w.UpdateStatusBar();
    EXPECT_EQ(w.ProgressPercent, 30.9);
    EXPECT_EQ(pixel(w, 35, 10), highlight);  // 6 + 30 - 1
    EXPECT_NE(pixel(w, 36, 10), highlight);

    // Once the operation ends a repaint removes the bar.
    w.endBusy();
    EXPECT_NE(pixel(w, 20, 10), highlight);
    EXPECT_NE(pixel(w, 104, 10), frame);
}

} // namespace
} // namespace tqtest
