// Fuzz target: opening a sealed memo file, and sealing then opening.
//
// Properties: bytes that are not a file this program sealed with the
// passphrase are refused (never a text, whatever the damage); any text sealed
// opens as the same text, and the same file with one byte changed or cut
// short is refused. Files asking for a costly key derivation are only read
// as far as their parameters, so that every input is quick.
#include "crypto/sealed.h"
#include "crypto/sealed_testing.h"
#include "fuzz/fuzz_support.h"

namespace {

using tq::sealed::SealedError;

constexpr tq::sealed::Params kCheapParams{1, tq::sealed::kMinMemlimitKiB};

bool refused(const std::function<void()>& open)
{
    try {
        open();
    } catch (const SealedError& e) {
        return e.kind() == SealedError::Kind::Refused;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq::sealed;
    static const bool deterministic = [] {
        const unsigned char seed[32] = {7};
        UseDeterministicRandomForTests(seed);
        return true;
    }();
    (void)deterministic;
    static const SecretBytes passphrase = SecretBytes::copyOf("fuzz passphrase");
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Any bytes as a file.
    try {
        const Params params = StoredParams(input);
        TQ_FUZZ_CHECK(ParamsInBounds(params));
        if (params.opslimit <= 2 && params.memlimitKiB <= 64) {
            const auto text = Unseal(input, passphrase);
            // Only a file sealed with this passphrase opens; the fuzzer cannot
            // forge one, so a text here means the checks were passed over.
            TQ_FUZZ_CHECK(!text.has_value() || Seal(*text, passphrase, params).has_value());
        }
    } catch (const SealedError& e) {
        TQ_FUZZ_CHECK(e.kind() != SealedError::Kind::Failed);
    }

    // The bytes as a memo: sealed, opened, damaged.
    const std::optional<std::string> sealed = Seal(input, passphrase, kCheapParams);
    TQ_FUZZ_CHECK(sealed.has_value());
    const std::optional<std::string> opened = Unseal(*sealed, passphrase);
    TQ_FUZZ_CHECK(opened.has_value() && *opened == input);
    if (size > 0) {
        std::string damaged = *sealed;
        std::size_t at = data[0] * 131u % damaged.size();
        // A changed parameter only changes the cost of a derivation that
        // fails all the same; the byte after the parameters is changed instead.
        constexpr std::size_t kParamsFrom = kMagicSize + 2;
        constexpr std::size_t kParamsTo = kParamsFrom + 8;
        if (at >= kParamsFrom && at < kParamsTo) {
            at = kParamsTo;
        }
        damaged[at] = static_cast<char>(damaged[at] ^ (1 + data[size - 1] % 255));
        // A version byte raised reads as a newer format, or (version 2) as a
        // file whose content byte says "archive", refused before any derivation.
        TQ_FUZZ_CHECK(refused([&] { Unseal(damaged, passphrase); }) ||
                      (at == kMagicSize && static_cast<std::uint8_t>(damaged[at]) >= kContentVersion));
        const std::size_t cut = data[size / 2] * 257u % sealed->size();
        TQ_FUZZ_CHECK(refused([&] { Unseal(std::string_view(*sealed).substr(0, cut), passphrase); }));
    }
    return 0;
}
