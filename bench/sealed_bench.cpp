// tarnquill-sealed-bench: sealing and opening a 1 MB memo with the parameters new
// sealed files get. The key derivation dominates on purpose; the figures show
// how long a user waits and how much of it is the derivation.
//
//   tarnquill-sealed-bench [--quick]
//
// --quick uses small derivation parameters (for a smoke run).
#include "crypto/sealed.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double bestOf(int runs, const std::function<void()>& fn)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const tq::sealed::Params params = quick ? tq::sealed::Params{1, 1024} : tq::sealed::kDefaultParams;
    const int runs = 3;

    std::string memo(1000000, '\0');
    std::mt19937 rng(7);
    for (char& c : memo) {
        c = static_cast<char>(' ' + rng() % 95);
    }
    const auto pass = tq::sealed::SecretBytes::copyOf("a passphrase for the bench");

    // With the real parameters: what the user waits for.
    std::string sealed;
    const double seal = bestOf(runs, [&] { sealed = *tq::sealed::Seal(memo, pass, params); });
    std::string opened;
    const double open = bestOf(runs, [&] { opened = *tq::sealed::Unseal(sealed, pass); });
    // The baseline: the same memo with the smallest derivation, i.e. the chunk
    // encryption and authentication alone.
    const tq::sealed::Params smallest{tq::sealed::kMinOpslimit, tq::sealed::kMinMemlimitKiB};
    std::string sealedSmall;
    const double sealChunks = bestOf(runs, [&] { sealedSmall = *tq::sealed::Seal(memo, pass, smallest); });
    const double openChunks = bestOf(runs, [&] { tq::sealed::Unseal(sealedSmall, pass); });
    if (opened != memo) {
        std::fprintf(stderr, "the memo did not come back\n");
        return 1;
    }
    const double mb = memo.size() / 1e6;
    std::printf("Sealed files: Argon2id %u passes over %u MiB, XChaCha20-Poly1305 in 64 KiB chunks (best of %d)\n",
                params.opslimit, params.memlimitKiB / 1024, runs);
    std::printf("  %-40s %8.3f s\n", "seal 1 MB memo", seal);
    std::printf("  %-40s %8.3f s\n", "open 1 MB memo", open);
    std::printf("  %-40s %8.4f s  %7.1f MB/s  (seal / baseline: %.0fx)\n", "seal, smallest derivation (baseline)",
                sealChunks, mb / sealChunks, seal / sealChunks);
    std::printf("  %-40s %8.4f s  %7.1f MB/s  (open / baseline: %.0fx)\n", "open, smallest derivation (baseline)",
                openChunks, mb / openChunks, open / openChunks);
    return 0;
}
