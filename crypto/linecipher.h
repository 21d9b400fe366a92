// The line cipher: Tarnquill's text cipher for the memo and the stored mail
// account values.
//
// This is a light character cipher that keeps text from casual eyes. It is NOT
// strong cryptography: the key space is tiny, every plain character becomes its
// own group of four codes, and equal characters give equal groups (apart from
// the noise codes). Do not rely on it against a determined reader.
//
// How it works. Every plain code c (0..255) is shifted, s = (c + key3 / 2) mod 256,
// and split by two divisions into three small values
//     u = (s / key2) / key1,  v = (s / key2) mod key1,  w = s mod key2,
// so that s = (u * key1 + v) * key2 + w. The values are written offset by -32
// (mod 256) as the first three codes of the group; a value 0 is written as 255
// and a value 13 as 254 first, so neither a zero nor a carriage return can appear.
// The fourth code is noise from the clock: 97 + (millisecond part of the time of
// day) / 10, offset by -32. The shifted code 32 is written as the "space group":
// two random filler codes around the pair 222, 222. Decryption ignores the noise
// and undoes the divisions.
//
// With key 2 from 7 to 31 (the key fields' range) every value lies in 0..36, so
// cipher text only holds the codes 0..4, 65..164 and 222..255: never a line break.
// Any text, line breaks included, encrypts to a single line four times as long.
//
// Encryption writes two kinds of group differently from the cipher's first
// version, which lost two plain codes per key set (both decrypted as a space):
//  - the shifted code 13 is split by the divisions like any other code (the first
//    version wrote a fixed "line-break group" 237, 222, 222, 222);
//  - when v and w are both 13 (only possible with key 2 of 14..18 and key 1 of 14
//    or more, for s = 13 * key2 + 13) the group carries v = 12, w = 13 + key2,
//    which decrypts to the same number without looking like a space group.
// Decryption is unchanged, so cipher text written by the first version still
// decrypts exactly as before, and every code now survives any number of passes.
//
// The key triple is three 8-bit numbers; key 1 and key 2 must be at least 1.
// Every code round-trips for every key 1 and every key 2 from 2 to 254; the
// cipher alphabet above (and so IsCipherText) holds for key 2 from 7 to 37.
//
// Long work: the cipher ticks a tq::YieldHook after every character (encrypting)
// or group (decrypting), reads the caller's abort flag before each one, and keeps
// a progress percentage the host can draw when its hook fires.
#pragma once

#include "platform/yield.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tq {

// A failure of the cipher: bad keys, a pass count below 1, or a text that would
// grow beyond kMaxCipherTextBytes. what() is a message for the user.
class CipherError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The key triple. key1 and key2 are divisors (at least 1); key3 acts only
// through its half, the shift, so an even key 3 and the odd number above it are
// the same key.
struct CipherKeys {
    std::uint8_t key1 = 0;
    std::uint8_t key2 = 0;
    std::uint8_t key3 = 0;

    std::uint8_t shift() const { return static_cast<std::uint8_t>(key3 / 2); }
};

// Largest text one encryption pass may produce: 256 MiB. A pass holds its input
// and its output (five quarters of this) and the memo window holds the result
// once more as UTF-16 text, so the bound keeps a run under about a gigabyte;
// beyond it a text window is unusable anyway. It still allows a 1 MiB memo with
// four passes, or a 16 KiB memo with seven.
constexpr std::size_t kMaxCipherTextBytes = std::size_t{256} * 1024 * 1024;

// The cipher's noise: the clock and the filler generator of the space group.
// Tests inject a scripted source; the program uses SystemCipherNoise.
class CipherNoise {
public:
    virtual ~CipherNoise() = default;
    // The time of day in milliseconds (0..86,399,999). The fourth code of an
    // ordinary group uses its millisecond part (value mod 1000).
    virtual std::uint32_t timeOfDayMs() = 0;
    // Re-seeds the filler generator; called with timeOfDayMs() before the two
    // fillers of every space group.
    virtual void reseed(std::uint32_t seed) = 0;
    // A uniform filler value in 0..89.
    virtual unsigned filler() = 0;
};

// The real clock and a small, fast pseudo-random generator. Re-seeding mixes the
// clock reading into the running state instead of replacing it, so two space
// groups written within the same millisecond still get different fillers.
class SystemCipherNoise : public CipherNoise {
public:
    SystemCipherNoise();
    std::uint32_t timeOfDayMs() override;
    void reseed(std::uint32_t seed) override;
    unsigned filler() override;

private:
    static constexpr unsigned kClockReuse = 64;
    std::uint64_t state_;
    std::uint32_t clockMs_ = 0;
    unsigned clockReuse_ = 0;
};

// The four codes of one plain code under `keys`: the exact transform that
// CodeLine applies to each character. `clockMs` is the time-of-day reading of an
// ordinary group (only its millisecond part counts); `fill1` and `fill2` (0..89)
// are the space group's fillers and are ignored otherwise.
// Throws CipherError when key 1 or key 2 is 0.
std::array<std::uint8_t, 4> EncodeCode(std::uint8_t code, const CipherKeys& keys,
                                       std::uint32_t clockMs, unsigned fill1,
                                       unsigned fill2);

// The plain code of one group from its first three codes: the exact transform
// that DeCodeLine applies. For a final group of only two codes DeCodeLine passes
// 0 as `c3` (a missing code counts as 0, which reads as the value 32).
// Throws CipherError when key 1 or key 2 is 0.
std::uint8_t DecodeGroup(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3,
                         const CipherKeys& keys);

// The text without the line breaks (CR and LF codes) at its end. Cipher text
// never ends in one, so this takes away only the empty lines typed after it.
std::string_view WithoutTrailingBreaks(std::string_view text);

// Whether a text has the form of cipher text: apart from the line breaks at its
// end (empty lines typed after it) it is a single line whose length is a positive multiple of four,
// and every group of four codes is one the cipher writes (first, second and
// third code in 222..255 or 0..4, or the space group: first code 68..157 with
// second and third 222; fourth code in 65..164, or 222 as in the first version's
// line-break group). Ordinary text, accented letters included, does not match.
bool IsCipherText(std::string_view text);

// One cipher run with its host's hook, abort flag and noise source. The object
// keeps no text between calls; it only exposes the progress of the running call
// so the host can draw it from its yield callback.
class LineCipher {
public:
    // `hook`, `abortFlag` and `noise` may be null (no yielding, never aborted,
    // SystemCipherNoise). They are not owned and must outlive the calls.
    explicit LineCipher(YieldHook* hook = nullptr, const bool* abortFlag = nullptr,
                        CipherNoise* noise = nullptr);
    LineCipher(const LineCipher&) = delete;
    LineCipher& operator=(const LineCipher&) = delete;

    void setYieldHook(YieldHook* hook);
    void setAbortFlag(const bool* abortFlag);
    void setNoise(CipherNoise* noise);

    // Encrypts `text` into cipher text four times as long. The abort flag is read
    // before every character; when it is set at any point of the call (even
    // before it, or by the last tick) the result is `text` unchanged.
    // Throws CipherError for a zero key 1 or key 2 and, before allocating
    // anything, when the result would exceed kMaxCipherTextBytes.
    std::string CodeLine(std::string_view text, const CipherKeys& keys);

    // Decrypts `cipher`: one plain code per group of four codes, a final group of
    // two or three codes counting (a missing third code as 32), a final lone
    // code dropped. Abort as for CodeLine. Throws CipherError for a zero key 1 or
    // key 2.
    std::string DeCodeLine(std::string_view cipher, const CipherKeys& keys);

    // `passes` runs of CodeLine, each encrypting the previous output (the memo
    // commands run key 4 + 1 passes). Refuses, before doing any work, a run
    // whose last pass would exceed kMaxCipherTextBytes, and a pass count below 1.
    // An abort during any pass returns `text` unchanged.
    std::string CodeLinePasses(std::string_view text, const CipherKeys& keys, int passes);

    // `passes` runs of DeCodeLine (decryption never grows the text). Refuses a
    // pass count below 1. An abort during any pass returns `cipher` unchanged.
    std::string DeCodeLinePasses(std::string_view cipher, const CipherKeys& keys, int passes);

    // Progress of the running pass, from 0 upward: 100 / n per character when
    // encrypting n codes, 400 / n per group when decrypting n codes (a final
    // short group may carry it a little past 100; hosts clamp what they draw).
    double ProgressPercent() const { return progressPercent_; }
    // True while a call runs (the host shows its progress bar).
    bool ProgressShown() const { return progressShown_; }
    // The running pass (1-based) and the run's pass count; 1 and 1 for a single
    // CodeLine or DeCodeLine call.
    int CurrentPass() const { return currentPass_; }
    int PassCount() const { return passCount_; }
    // Whether the last call ended by abort.
    bool Aborted() const { return aborted_; }

private:
    bool abortRequested() const { return abortFlag_ != nullptr && *abortFlag_; }
    void tick()
    {
        if (hook_ != nullptr) {
            hook_->tick();
        }
    }
    void fire()
    {
        if (hook_ != nullptr) {
            hook_->fire();
        }
    }
    void begin(int passCount);
    void end(bool aborted);
    // One pass each; false when aborted (`out` is then unspecified).
    bool encodePass(std::string_view in, const CipherKeys& keys, std::string& out);
    bool decodePass(std::string_view in, const CipherKeys& keys, std::string& out);
    // Runs one pass; whatever escapes it ends the call (the progress bar goes
    // away) and a failed allocation becomes a CipherError with a readable text.
    template <typename Pass>
    bool guarded(Pass pass, const char* verb, std::size_t length);

    YieldHook* hook_ = nullptr;
    const bool* abortFlag_ = nullptr;
    SystemCipherNoise systemNoise_;
    CipherNoise* noise_ = &systemNoise_;
    double progressPercent_ = 0.0;
    bool progressShown_ = false;
    int currentPass_ = 0;
    int passCount_ = 0;
    bool aborted_ = false;
};

} // namespace tq
