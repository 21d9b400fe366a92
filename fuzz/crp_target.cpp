// Fuzz target: opening a .crp file (reading, decoding the stored text and
// decrypting it with a key set).
//
// Property beyond "no crash": the stored text that opens saves back and opens
// again as the same text. (A stored text of even length ending in code 0 is the
// one exception: the file has no length, so it cannot be told from the padded
// form of the text one byte shorter. Cipher text never ends in code 0.)
#include "crypto/crpfile.h"
#include "fuzz/fuzz_support.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq;
    static TCompress engine;
    static LineCipher cipher;
    const std::filesystem::path& scratch = fuzz::scratchFolder();
    const std::filesystem::path path = scratch / "input.crp";
    const std::filesystem::path again = scratch / "again.crp";
    fuzz::writeFile(path, data, size);

    crp::KeySet keys;
    keys.cipher = CipherKeys{97, 43, 17};
    keys.key4 = 1;
    std::string stored;
    try {
        crp::OpenMemo(engine, cipher, path, keys);
        stored = crp::LoadText(engine, path);
    } catch (const FileError& e) {
        // The one refusal: a file shorter than its table and trailer.
        TQ_FUZZ_CHECK(std::string_view(e.what()).find("too short to be an encrypted memo file") !=
                      std::string_view::npos);
        return 0;
    }

    const bool ambiguous = !stored.empty() && stored.size() % 2 == 0 && stored.back() == '\0';
    if (!ambiguous) {
        TQ_FUZZ_CHECK(crp::SaveLines(engine, {stored}, crp::kDefaultSkip, again));
        TQ_FUZZ_CHECK(crp::LoadText(engine, again) == stored);
    }
    return 0;
}
