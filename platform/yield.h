// Cooperative yielding for long work on the user-interface thread.
//
// Engines (compressor, container, cipher, coders) are plain C++ and never pump
// window events themselves. After every unit of work they call YieldHook::tick().
// tick() is an inlined countdown; every `interval` ticks it calls the host's
// callback, which decides (typically by looking at a clock) whether enough time
// has passed to let the window system process pending events. A hook without a
// callback costs one predictable branch per unit.
//
// Stop flags (Abort, Cancel, AbortRequested) are plain booleans owned by the
// engines and tested at every unit; the callback is where a stop click arrives.
#pragma once

#include <cstdint>

namespace tq {

class YieldHook {
public:
    using Callback = void (*)(void* context);

    YieldHook() = default;
    YieldHook(Callback callback, void* context, std::uint32_t interval = 256)
    {
        set(callback, context, interval);
    }

    // Installs (or, with a null callback, removes) the host's callback.
    void set(Callback callback, void* context, std::uint32_t interval = 256)
    {
        callback_ = callback;
        context_ = context;
        interval_ = interval == 0 ? 1 : interval;
        countdown_ = interval_;
    }

    // Called by an engine after each unit of work.
    inline void tick()
    {
        if (callback_ != nullptr && --countdown_ == 0) {
            fire();
        }
    }

    // Calls the host's callback now (for example at the start and end of a pass).
    void fire()
    {
        countdown_ = interval_;
        if (callback_ != nullptr) {
            callback_(context_);
        }
    }

    bool active() const { return callback_ != nullptr; }

    // Counts `units` ticks at once, for an engine that does a larger piece of work
    // in one go: the host is called as often as single ticks would have called it,
    // but no more once `stop` is set (the remaining ticks are dropped). Returns
    // false when `stop` was set by one of the calls.
    bool ticks(std::uint32_t units, const bool& stop)
    {
        if (callback_ == nullptr) {
            return true;
        }
        while (units >= countdown_) {
            units -= countdown_;
            fire();
            if (stop) {
                return false;
            }
        }
        countdown_ -= units;
        return true;
    }

    // How many ticks may still come before one calls the host (at least 1). An
    // engine that does several units at once stays exact by never doing more.
    std::uint32_t ticksUntilCall() const { return callback_ != nullptr ? countdown_ : UINT32_MAX; }

    // A copy of the countdown for a hot loop. Byte loops write through byte
    // pointers, which may alias any object, so a countdown kept in the hook would be
    // reloaded and stored at every unit; a local one stays in a register. The
    // countdown goes back to the hook when the loop ends.
    class Local {
    public:
        explicit Local(YieldHook& hook) : hook_(hook), countdown_(hook.countdown_) {}
        Local(const Local&) = delete;
        Local& operator=(const Local&) = delete;
        ~Local() { hook_.countdown_ = countdown_; }

        inline void tick()
        {
            if (--countdown_ == 0) {
                hook_.fire();
                countdown_ = hook_.interval_;
            }
        }

        // Units that may still be done before the next tick calls the host (at
        // least 1). A loop may do that many units untimed and then count them
        // with ticks(), which calls the host exactly where single ticks would.
        std::uint32_t pending() const { return countdown_; }

        inline void ticks(std::uint32_t units)
        {
            countdown_ -= units;
            if (countdown_ == 0) {
                hook_.fire();
                countdown_ = hook_.interval_;
            }
        }

    private:
        YieldHook& hook_;
        std::uint32_t countdown_;
    };

private:
    Callback callback_ = nullptr;
    void* context_ = nullptr;
    std::uint32_t interval_ = 256;
    std::uint32_t countdown_ = 256;
};

} // namespace tq
