#include "app/uiyield.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(UiYield, PumpsPendingEventsAndRedrawsFirst)
{
    tq::UiYield pump(0);
    std::vector<std::string> order;
    pump.setRedraw([&] { order.push_back("redraw"); });
    QTimer::singleShot(0, [&] { order.push_back("event"); });
    tq::YieldHook hook;
    pump.attach(hook, 4);
    for (int i = 0; i < 3; ++i) {
        hook.tick();
    }
    EXPECT_TRUE(order.empty()); // the countdown has not run out yet
    hook.tick();
    EXPECT_EQ(order, (std::vector<std::string>{"redraw", "event"}));
    EXPECT_EQ(pump.pumps(), 1u);
}

TEST(UiYield, DoesNotPumpBeforeItsTimeSliceHasPassed)
{
    tq::UiYield pump(1000000); // a slice no test run reaches
    bool event = false;
    int redraws = 0;
    pump.setRedraw([&] { ++redraws; });
    QTimer::singleShot(0, [&] { event = true; });
    tq::YieldHook& hook = pump.hook();
    for (int i = 0; i < 100000; ++i) {
        hook.tick();
    }
    EXPECT_FALSE(event);
    EXPECT_EQ(redraws, 0);
    EXPECT_EQ(pump.pumps(), 0u);
    pump.pumpNow();
    EXPECT_TRUE(event);
    EXPECT_EQ(redraws, 1);
}

} // namespace
