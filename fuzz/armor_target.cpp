// Fuzz target: finding and decoding ASCII armour in any text.
//
// Properties: any input either holds no block, or a block that decodes, or is
// refused with ArmorError (never another failure); a decoded block lies inside
// the text and starts with its begin line; the armour of the decoded bytes
// decodes to the same bytes; and the input's own bytes survive the round trip
// through Armor() and Find(), every line within 76 characters.
#include "crypto/armor.h"
#include "fuzz/fuzz_support.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq::armor;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    try {
        const auto found = Find(input);
        TQ_FUZZ_CHECK(found.has_value() || !ContainsArmor(input));
        if (found) {
            TQ_FUZZ_CHECK(found->begin < found->end && found->end <= input.size());
            TQ_FUZZ_CHECK(input.substr(found->begin, found->end - found->begin).find(kBeginLine) !=
                          std::string_view::npos);
            const auto again = Find(Armor(found->bytes, "\n"));
            TQ_FUZZ_CHECK(again && again->bytes == found->bytes);
        }
    } catch (const ArmorError&) {
        TQ_FUZZ_CHECK(ContainsArmor(input));
    }

    const std::string armour = Armor(input);
    std::size_t start = 0;
    for (std::size_t at = armour.find("\r\n"); at != std::string::npos; at = armour.find("\r\n", start)) {
        TQ_FUZZ_CHECK(at - start <= kLineLength);
        start = at + 2;
    }
    const auto back = Find(armour);
    TQ_FUZZ_CHECK(back && back->bytes == input && back->begin == 0 && back->end == armour.size() - 2);
    return 0;
}
