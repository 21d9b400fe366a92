#include "crypto/sealed_testing.h"

#include <sodium.h>

#include <cstdint>
#include <cstring>

namespace tq::sealed {
namespace {

// ChaCha20 keyed by the seed, one block stream per call.
unsigned char testSeed[randombytes_SEEDBYTES];
std::uint64_t testCalls = 0;

void testBuf(void* const buf, const size_t size)
{
    unsigned char seed[randombytes_SEEDBYTES];
    std::memcpy(seed, testSeed, sizeof seed);
    const std::uint64_t call = testCalls++;
    for (int i = 0; i < 8; ++i) {
        seed[i] ^= static_cast<unsigned char>(call >> (8 * i));
    }
    randombytes_buf_deterministic(buf, size, seed);
}

uint32_t testRandom()
{
    uint32_t v = 0;
    testBuf(&v, sizeof v);
    return v;
}

const char* testName()
{
    return "tarnquill-test-deterministic";
}

randombytes_implementation testImplementation = {testName, testRandom, nullptr, nullptr, testBuf, nullptr};

} // namespace

void UseDeterministicRandomForTests(const unsigned char (&seed)[32])
{
    static_assert(sizeof seed == randombytes_SEEDBYTES, "seed size");
    std::memcpy(testSeed, seed, sizeof testSeed);
    testCalls = 0;
    randombytes_set_implementation(&testImplementation);
}

} // namespace tq::sealed
