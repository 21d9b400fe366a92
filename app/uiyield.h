// The Qt side of the engines' yield hook.
//
// An engine calls YieldHook::tick() after every unit of work; every `interval`
// ticks the hook calls UiYield::pump(), which lets Qt process pending events only
// when about 10 ms have passed since the last time. Before pumping it runs an
// optional redraw callback (the main window redraws its progress bar from
// ProgressPercent there), so the bar moves and Abort clicks arrive while the long
// work costs almost nothing extra.
#pragma once

#include "platform/yield.h"

#include <QElapsedTimer>

#include <cstdint>
#include <functional>

namespace tq {

class UiYield {
public:
    // `sliceMs`: minimum time between two event pumps.
    explicit UiYield(int sliceMs = 10);

    // Called before each pump (may be empty).
    void setRedraw(std::function<void()> redraw) { redraw_ = std::move(redraw); }

    // Connects `hook` to this object (the hook then calls back every `interval` ticks).
    void attach(YieldHook& hook, std::uint32_t interval = 256);

    // A hook already connected to this object.
    YieldHook& hook() { return hook_; }

    // Pumps when the time slice has passed; otherwise returns at once.
    void maybePump();

    // Redraws and pumps now, whatever the clock says.
    void pumpNow();

    // Number of event pumps done so far.
    std::uint64_t pumps() const { return pumps_; }

    // The callback installed into YieldHooks; `context` is the UiYield.
    static void callback(void* context);

private:
    QElapsedTimer clock_;
    std::function<void()> redraw_;
    YieldHook hook_;
    std::uint64_t pumps_ = 0;
    int sliceMs_;
};

} // namespace tq
