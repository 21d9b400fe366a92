// Helpers shared by the line cipher tests: a scripted noise source and a probe
// that records what the host would see from its yield callback.
#pragma once

#include "crypto/linecipher.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tq::test {

// Clock readings advance by `clockStep` ms per reading; fillers count up from
// `nextFiller` (mod 90); every re-seed is recorded.
class ScriptedNoise : public CipherNoise {
public:
    std::uint32_t clock = 0;
    std::uint32_t clockStep = 0;
    unsigned nextFiller = 0;
    int clockReads = 0;
    std::vector<std::uint32_t> seeds;

    std::uint32_t timeOfDayMs() override
    {
        ++clockReads;
        const std::uint32_t now = clock;
        clock = (clock + clockStep) % 86400000u;
        return now;
    }
    void reseed(std::uint32_t seed) override { seeds.push_back(seed); }
    unsigned filler() override
    {
        const unsigned value = nextFiller;
        nextFiller = (nextFiller + 1) % 90;
        return value;
    }
};

// What the host's callback sees each time the hook fires.
struct HookEvent {
    double percent;
    bool shown;
    int pass;
};

// A yield hook that fires on every tick, records the cipher's progress and can
// set the abort flag at a chosen firing (counting from 1).
struct Probe {
    LineCipher* cipher = nullptr;
    bool abortFlag = false;
    int abortAtFiring = 0; // 0: never
    int firings = 0;
    std::vector<HookEvent> events;
    YieldHook hook;

    Probe() { hook.set(&Probe::callback, this, 1); }

    static void callback(void* context)
    {
        auto* self = static_cast<Probe*>(context);
        ++self->firings;
        self->events.push_back({self->cipher->ProgressPercent(), self->cipher->ProgressShown(),
                                self->cipher->CurrentPass()});
        if (self->firings == self->abortAtFiring) {
            self->abortFlag = true;
        }
    }
};

inline std::string allCodes()
{
    std::string text(256, '\0');
    for (int c = 0; c < 256; ++c) {
        text[static_cast<std::size_t>(c)] = static_cast<char>(c);
    }
    return text;
}

inline unsigned byteAt(const std::string& s, std::size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

// The plain code whose shifted value is `shifted` under `keys`.
inline std::uint8_t plainFor(unsigned shifted, const CipherKeys& keys)
{
    return static_cast<std::uint8_t>(shifted - keys.shift());
}

} // namespace tq::test
