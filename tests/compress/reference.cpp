#include "tests/compress/reference.h"

#include <random>
#include <string>
#include <utility>

namespace tqtest {

RefTable refBuild(const Bytes& data, std::int32_t skip)
{
    int step = skip % 2 != 0 ? skip + 1 : skip;
    step %= 256;
    if (step == 0) {
        step = 2;
    }
    RefTable t;
    const long long length = static_cast<long long>(data.size());
    for (long long p = 0; p + step < length; p += step) {
        bool found = false;
        for (int s = 0; s < t.pairCount; ++s) {
            if (t.pairs[2 * s] == data[p] && t.pairs[2 * s + 1] == data[p + 1]) {
                if (t.counts[s] < 32768) {
                    ++t.counts[s];
                }
                found = true;
                break;
            }
        }
        if (!found) {
            t.pairs[2 * t.pairCount] = data[p];
            t.pairs[2 * t.pairCount + 1] = data[p + 1];
            t.counts[t.pairCount] = 1;
            ++t.pairCount;
        }
    }
    return t;
}

void refSort(RefTable& t, int scanLimit, int cutFrom)
{
    for (int i = 0; i < t.pairCount; ++i) {
        const int steps = i >= cutFrom ? scanLimit : 253;
        for (int l = 0; l < steps; ++l) {
            if (t.counts[l] <= t.counts[i]) {
                std::swap(t.pairs[2 * l], t.pairs[2 * i]);
                std::swap(t.pairs[2 * l + 1], t.pairs[2 * i + 1]);
                std::swap(t.counts[l], t.counts[i]);
            }
        }
    }
}

std::uint8_t refFindPair(const Bytes& pairs, std::uint8_t first, std::uint8_t second)
{
    for (int s = 0; s <= 252; ++s) {
        if (pairs[2 * s] == first && pairs[2 * s + 1] == second) {
            return static_cast<std::uint8_t>(s);
        }
    }
    return 255;
}

Bytes refCode(const Bytes& data, const Bytes& pairs)
{
    Bytes out;
    for (std::size_t j = 0; j < data.size(); j += 2) {
        const std::uint8_t a = data[j];
        const std::uint8_t b = j + 1 < data.size() ? data[j + 1] : 0;
        const std::uint8_t s = refFindPair(pairs, a, b);
        if (s != 255) {
            out.push_back(s);
        } else {
            out.push_back(254);
            out.push_back(a);
            out.push_back(b);
        }
    }
    return out;
}

Bytes refDecode(const Bytes& codes, const Bytes& pairs)
{
    Bytes out;
    for (std::size_t i = 0; i < codes.size();) {
        const std::uint8_t c = codes[i];
        if (c <= 252) {
            out.push_back(pairs[2 * c]);
            out.push_back(pairs[2 * c + 1]);
            i += 1;
        } else {
            for (std::size_t k = i + 1; k <= i + 2 && k < codes.size(); ++k) {
                out.push_back(codes[k]);
            }
            i += 3;
        }
    }
    return out;
}

Bytes refStream(const Bytes& data, std::int32_t skip)
{
    RefTable t = refBuild(data, skip);
    refSort(t);
    Bytes out(t.pairs.begin(), t.pairs.begin() + 506);
    const Bytes codes = refCode(data, t.pairs);
    out.insert(out.end(), codes.begin(), codes.end());
    return out;
}

Bytes randomBytes(std::uint32_t seed, std::size_t size, int alphabet)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, alphabet - 1);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(pick(random));
    }
    return out;
}

Bytes textBytes(std::uint32_t seed, std::size_t size)
{
    static const char* const words[] = {"de", "het", "een", "memo", "sleutel", "archief", "and", "the",
                                        "Tarnquill", "encrypt", "caf\xe9", "na\xefve", "\x80", "is", "of"};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof words / sizeof words[0]) - 1);
    std::uniform_int_distribution<int> lineBreak(0, 11);
    Bytes out;
    while (out.size() < size) {
        const std::string word = words[pick(random)];
        out.insert(out.end(), word.begin(), word.end());
        if (lineBreak(random) == 0) {
            out.push_back('\r');
            out.push_back('\n');
        } else {
            out.push_back(' ');
        }
    }
    out.resize(size);
    return out;
}

} // namespace tqtest
