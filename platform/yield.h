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

private:
    Callback callback_ = nullptr;
    void* context_ = nullptr;
    std::uint32_t interval_ = 256;
    std::uint32_t countdown_ = 256;
};

} // namespace tq
