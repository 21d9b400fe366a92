#include "crypto/linecipher.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>

namespace tq {

namespace {

constexpr std::uint32_t kMsPerDay = 24u * 60u * 60u * 1000u;

// Codes are written offset by -32 and read back offset by +32, modulo 256.
inline std::uint8_t toCode(unsigned value) { return static_cast<std::uint8_t>(value - 32u); }
inline unsigned fromCode(std::uint8_t code) { return (code + 32u) & 0xFFu; }

// A value 0 is written as 255 and a value 13 as 254, in this order, so that
// neither a zero code offset nor a carriage return shows up in a group.
inline unsigned avoidZeroAndCr(unsigned value)
{
    if (value == 0) {
        value = 255;
    }
    if (value == 13) {
        value = 254;
    }
    return value;
}

// Decryption's inverse of avoidZeroAndCr.
inline unsigned restoreZeroAndCr(unsigned value)
{
    if (value == 254) {
        return 13;
    }
    if (value == 255) {
        return 0;
    }
    return value;
}

void checkKeys(const CipherKeys& keys)
{
    if (keys.key1 == 0) {
        throw CipherError("Invalid key set: key 1 must be at least 1.");
    }
    if (keys.key2 == 0) {
        throw CipherError("Invalid key set: key 2 must be at least 1.");
    }
}

// The first three codes of an ordinary group (shifted code s other than 32).
std::array<std::uint8_t, 3> divisionCodes(unsigned s, unsigned key1, unsigned key2)
{
    const unsigned q = s / key2;
    unsigned u = q / key1;
    unsigned v = q % key1;
    unsigned w = s % key2;
    if (v == 13 && w == 13) {
        // Written as is, both would become 254 and the group would read as a space
        // group. 12 * key2 + (13 + key2) is the same number, and neither 12 nor
        // 13 + key2 (27..31: this case needs key 2 of 14..18) is 0, 13, 254 or 255.
        v = 12;
        w = 13 + key2;
    }
    return {toCode(avoidZeroAndCr(u)), toCode(avoidZeroAndCr(v)), toCode(avoidZeroAndCr(w))};
}

inline std::uint8_t clockCode(std::uint32_t clockMs)
{
    return toCode(97u + (clockMs % 1000u) / 10u);
}

inline std::uint8_t fillerCode(unsigned filler) { return toCode(100u + filler % 90u); }

constexpr std::uint8_t kSpacePairCode = 222; // the value 254, offset

inline std::uint8_t decodeUnchecked(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3,
                                    unsigned key1, unsigned key2, unsigned shift)
{
    unsigned x = fromCode(c1);
    unsigned y = fromCode(c2);
    unsigned z = fromCode(c3);
    unsigned r;
    if (y == 254 && z == 254) {
        r = 32;
    } else {
        x = restoreZeroAndCr(x);
        y = restoreZeroAndCr(y);
        z = restoreZeroAndCr(z);
        r = (x * key1 * key2 + y * key2 + z) & 0xFFu;
    }
    return static_cast<std::uint8_t>(r - shift);
}

inline std::uint64_t splitmix64(std::uint64_t& state)
{
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string tooLargeMessage(std::size_t length, int pass, int passes)
{
    std::string msg = "Cannot encrypt: the text of " + std::to_string(length) +
                      " characters would grow beyond 256 MiB";
    if (passes > 1) {
        msg += " in pass " + std::to_string(pass) + " of " + std::to_string(passes) +
               " (every pass makes it four times as long). Use fewer passes or a shorter text.";
    } else {
        msg += " (encryption makes it four times as long).";
    }
    return msg;
}

void checkPasses(int passes)
{
    if (passes < 1) {
        throw CipherError("Invalid pass count " + std::to_string(passes) +
                          ": at least one pass is needed.");
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Noise

SystemCipherNoise::SystemCipherNoise()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    state_ = static_cast<std::uint64_t>(now) ^ reinterpret_cast<std::uintptr_t>(this);
    splitmix64(state_);
}

std::uint32_t SystemCipherNoise::timeOfDayMs()
{
    // Reading the system clock costs more than encrypting a character, so it is
    // read once per kClockReuse calls; the reading is then at most a microsecond
    // or so old, far below the clock code's 10 ms resolution.
    if (clockReuse_ == 0) {
        // The millisecond part of the time of day is the same in every time zone,
        // so the system clock's time of day serves without a local-time conversion.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        clockMs_ = static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms) % kMsPerDay);
        clockReuse_ = kClockReuse;
    }
    --clockReuse_;
    return clockMs_;
}

void SystemCipherNoise::reseed(std::uint32_t seed)
{
    state_ ^= static_cast<std::uint64_t>(seed) * 0xD1B54A32D192ED03ull;
    splitmix64(state_);
}

unsigned SystemCipherNoise::filler()
{
    // Multiply-shift maps 32 random bits onto 0..89; the bias is below 2^-25.
    const std::uint64_t bits = splitmix64(state_) >> 32;
    return static_cast<unsigned>((bits * 90u) >> 32);
}

// ---------------------------------------------------------------------------
// Single groups

std::array<std::uint8_t, 4> EncodeCode(std::uint8_t code, const CipherKeys& keys,
                                       std::uint32_t clockMs, unsigned fill1, unsigned fill2)
{
    checkKeys(keys);
    const unsigned s = (code + keys.shift()) & 0xFFu;
    if (s == 32) {
        return {fillerCode(fill1), kSpacePairCode, kSpacePairCode, fillerCode(fill2)};
    }
    const auto codes = divisionCodes(s, keys.key1, keys.key2);
    return {codes[0], codes[1], codes[2], clockCode(clockMs)};
}

std::uint8_t DecodeGroup(std::uint8_t c1, std::uint8_t c2, std::uint8_t c3, const CipherKeys& keys)
{
    checkKeys(keys);
    return decodeUnchecked(c1, c2, c3, keys.key1, keys.key2, keys.shift());
}

std::string_view WithoutTrailingBreaks(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

bool IsCipherText(std::string_view text)
{
    text = WithoutTrailingBreaks(text);
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    auto valueCode = [](unsigned c) { return c >= 222 || c <= 4; };
    for (std::size_t p = 0; p < text.size(); p += 4) {
        const unsigned c1 = static_cast<unsigned char>(text[p]);
        const unsigned c2 = static_cast<unsigned char>(text[p + 1]);
        const unsigned c3 = static_cast<unsigned char>(text[p + 2]);
        const unsigned c4 = static_cast<unsigned char>(text[p + 3]);
        if (!valueCode(c2) || !valueCode(c3)) {
            return false;
        }
        const bool spacePair = c2 == kSpacePairCode && c3 == kSpacePairCode;
        if (!valueCode(c1) && !(spacePair && c1 >= 68 && c1 <= 157)) {
            return false;
        }
        if (!(c4 >= 65 && c4 <= 164) && c4 != 222) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// LineCipher

LineCipher::LineCipher(YieldHook* hook, const bool* abortFlag, CipherNoise* noise)
    : hook_(hook), abortFlag_(abortFlag), noise_(noise != nullptr ? noise : &systemNoise_)
{
}

void LineCipher::setYieldHook(YieldHook* hook) { hook_ = hook; }

void LineCipher::setAbortFlag(const bool* abortFlag) { abortFlag_ = abortFlag; }

void LineCipher::setNoise(CipherNoise* noise)
{
    noise_ = noise != nullptr ? noise : &systemNoise_;
}

void LineCipher::begin(int passCount)
{
    passCount_ = passCount;
    currentPass_ = 0;
    progressPercent_ = 0.0;
    progressShown_ = true;
    aborted_ = false;
}

void LineCipher::end(bool aborted)
{
    progressShown_ = false;
    aborted_ = aborted;
    fire(); // lets the host remove its progress bar
}

bool LineCipher::encodePass(std::string_view in, const CipherKeys& keys, std::string& out)
{
    ++currentPass_;
    progressPercent_ = 0.0;
    fire(); // lets the host draw the empty progress bar

    const std::size_t n = in.size();
    // The first three codes of every plain code, computed once per pass.
    std::array<std::array<std::uint8_t, 3>, 256> table;
    const unsigned shift = keys.shift();
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned s = (c + shift) & 0xFFu;
        table[c] = s == 32 ? std::array<std::uint8_t, 3>{0, kSpacePairCode, kSpacePairCode}
                           : divisionCodes(s, keys.key1, keys.key2);
    }
    const unsigned char spaceGroupCode = static_cast<unsigned char>(32u - shift);

    out.assign(n * 4, '\0');
    char* dst = out.data();
    const double step = n > 0 ? 100.0 / static_cast<double>(n) : 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        if (abortRequested()) {
            return false;
        }
        progressPercent_ += step;
        tick();
        const unsigned char c = static_cast<unsigned char>(in[i]);
        const auto& codes = table[c];
        std::uint8_t first = codes[0];
        std::uint8_t last;
        if (c == spaceGroupCode) {
            noise_->reseed(noise_->timeOfDayMs());
            first = fillerCode(noise_->filler());
            last = fillerCode(noise_->filler());
        } else {
            last = clockCode(noise_->timeOfDayMs());
        }
        dst[0] = static_cast<char>(first);
        dst[1] = static_cast<char>(codes[1]);
        dst[2] = static_cast<char>(codes[2]);
        dst[3] = static_cast<char>(last);
        dst += 4;
    }
    // An abort that arrived during the last character's tick also counts.
    return !abortRequested();
}

bool LineCipher::decodePass(std::string_view in, const CipherKeys& keys, std::string& out)
{
    ++currentPass_;
    progressPercent_ = 0.0;
    fire();

    const std::size_t n = in.size();
    // Groups start at every fourth code while at least two codes remain; a final
    // lone code is dropped and a missing third code reads as the value 32.
    const std::size_t groups = n / 4 + (n % 4 >= 2 ? 1 : 0);
    out.assign(groups, '\0');
    // Each code's share of x * key1 * key2 + y * key2 + z, modulo 256, computed
    // once per pass; a group then costs three look-ups and the space-pair test.
    const unsigned key1 = keys.key1;
    const unsigned key2 = keys.key2;
    const unsigned shift = keys.shift();
    std::array<std::uint8_t, 256> part1;
    std::array<std::uint8_t, 256> part2;
    std::array<std::uint8_t, 256> part3;
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned value = restoreZeroAndCr(fromCode(static_cast<std::uint8_t>(c)));
        part1[c] = static_cast<std::uint8_t>(value * key1 * key2);
        part2[c] = static_cast<std::uint8_t>(value * key2);
        part3[c] = static_cast<std::uint8_t>(value - shift);
    }
    const auto spaceCode = static_cast<std::uint8_t>(32u - shift);
    const double step = n > 0 ? 400.0 / static_cast<double>(n) : 0.0;
    char* dst = out.data();
    const bool noStop = false;
    const bool& stop = abortFlag_ != nullptr ? *abortFlag_ : noStop;
    // The groups up to the hook's next call to the host are decoded in one run:
    // only the host can set the abort flag, so reading it once per run is reading
    // it before every group. The host sees the progress of every group up to its
    // call, as with one tick per group.
    for (std::size_t g = 0; g < groups;) {
        if (stop) {
            return false;
        }
        std::size_t run = groups - g;
        if (hook_ != nullptr) {
            run = std::min<std::size_t>(run, hook_->ticksUntilCall());
        }
        const std::size_t end = g + run;
        for (; g < end; ++g) {
            const std::size_t p = g * 4;
            const auto c1 = static_cast<std::uint8_t>(in[p]);
            const auto c2 = static_cast<std::uint8_t>(in[p + 1]);
            const auto c3 = p + 2 < n ? static_cast<std::uint8_t>(in[p + 2]) : toCode(32);
            const bool spacePair = c2 == kSpacePairCode && c3 == kSpacePairCode;
            const auto plain = static_cast<std::uint8_t>(part1[c1] + part2[c2] + part3[c3]);
            dst[g] = static_cast<char>(spacePair ? spaceCode : plain);
        }
        progressPercent_ = step * static_cast<double>(end);
        if (hook_ != nullptr) {
            hook_->ticks(static_cast<std::uint32_t>(run), stop);
        }
    }
    return !stop;
}

template <typename Pass>
bool LineCipher::guarded(Pass pass, const char* verb, std::size_t length)
{
    try {
        return pass();
    } catch (const std::bad_alloc&) {
        progressShown_ = false;
        fire();
        throw CipherError(std::string("Not enough memory to ") + verb + " a text of " +
                          std::to_string(length) + " characters.");
    } catch (...) {
        progressShown_ = false;
        fire();
        throw;
    }
}

std::string LineCipher::CodeLine(std::string_view text, const CipherKeys& keys)
{
    checkKeys(keys);
    if (text.size() > kMaxCipherTextBytes / 4) {
        throw CipherError(tooLargeMessage(text.size(), 1, 1));
    }
    begin(1);
    std::string out;
    const bool done = guarded([&] { return encodePass(text, keys, out); }, "encrypt", text.size());
    end(!done);
    if (!done) {
        return std::string(text);
    }
    return out;
}

std::string LineCipher::DeCodeLine(std::string_view cipher, const CipherKeys& keys)
{
    checkKeys(keys);
    begin(1);
    std::string out;
    const bool done = guarded([&] { return decodePass(cipher, keys, out); }, "decrypt", cipher.size());
    end(!done);
    if (!done) {
        return std::string(cipher);
    }
    return out;
}

std::string LineCipher::CodeLinePasses(std::string_view text, const CipherKeys& keys, int passes)
{
    checkKeys(keys);
    checkPasses(passes);
    // Every pass makes the text exactly four times as long, so the whole run can
    // be checked before the first pass starts.
    std::size_t length = text.size();
    for (int pass = 1; pass <= passes && length > 0; ++pass) {
        if (length > kMaxCipherTextBytes / 4) {
            throw CipherError(tooLargeMessage(text.size(), pass, passes));
        }
        length *= 4;
    }

    begin(passes);
    std::string current;
    std::string next;
    std::string_view source = text;
    for (int pass = 1; pass <= passes; ++pass) {
        if (!guarded([&] { return encodePass(source, keys, next); }, "encrypt", source.size())) {
            end(true);
            return std::string(text);
        }
        current.swap(next);
        source = current;
        if (current.empty()) {
            break; // nothing to encrypt: every further pass gives the empty text too
        }
    }
    end(false);
    return current;
}

std::string LineCipher::DeCodeLinePasses(std::string_view cipher, const CipherKeys& keys, int passes)
{
    checkKeys(keys);
    checkPasses(passes);
    begin(passes);
    std::string current;
    std::string next;
    std::string_view source = cipher;
    for (int pass = 1; pass <= passes; ++pass) {
        if (!guarded([&] { return decodePass(source, keys, next); }, "decrypt", source.size())) {
            end(true);
            return std::string(cipher);
        }
        current.swap(next);
        source = current;
        if (current.empty()) {
            break; // the empty text decrypts to itself
        }
    }
    end(false);
    return current;
}

} // namespace tq
