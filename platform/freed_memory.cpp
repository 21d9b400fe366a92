#include "platform/freed_memory.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace tq {

void overwriteFreedMemory()
{
#if defined(__GLIBC__)
    static bool done = false;
    if (!done) {
        // Freed chunks are filled with this byte; new ones with its complement.
        mallopt(M_PERTURB, 0xA5);
        done = true;
    }
#endif
}

void scrubFreedMemory()
{
#if defined(__GLIBC__)
    // glibc caches up to 7 chunks (by default; at most 65535) of each of its 64
    // small sizes, 24 to 1032 usable bytes, per thread. Taking more than it can
    // hold of each size empties the cache; the chunks are zeroed and go back.
    constexpr std::size_t kPerSize = 16;
    constexpr std::size_t kLargest = 1032;
    std::vector<void*> taken;
    taken.reserve(kPerSize * (kLargest / 16 + 1));
    for (std::size_t size = 8; size <= kLargest; size += 16) {
        for (std::size_t i = 0; i < kPerSize; ++i) {
            void* p = std::malloc(size);
            if (p == nullptr) {
                break;
            }
            explicit_bzero(p, malloc_usable_size(p)); // a memset before free() may be dropped
            taken.push_back(p);
        }
    }
    for (void* p : taken) {
        std::free(p);
    }
#endif
}

} // namespace tq
