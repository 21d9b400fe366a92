// ASCII armour of sealed files: every size comes back exactly from inside any
// mail-like text, every line stays within 76 ASCII characters, and every kind of
// damage is refused, by the armour itself or by the sealed layer behind it.
#include "crypto/armor.h"
#include "crypto/sealed.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using tq::armor::ArmorError;
using tq::sealed::SecretBytes;

constexpr tq::sealed::Params kFast{1, 8};
constexpr const char* kPass = "armour passphrase";

std::string randomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string s(size, '\0');
    for (char& c : s) {
        c = static_cast<char>(rng());
    }
    return s;
}

std::vector<std::string> splitLines(const std::string& text, const std::string& lineBreak)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = text.find(lineBreak); at != std::string::npos; at = text.find(lineBreak, start)) {
        lines.push_back(text.substr(start, at - start));
        start = at + lineBreak.size();
    }
    EXPECT_EQ(start, text.size()) << "every line ends with its break";
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines, const std::string& lineBreak)
{
    std::string out;
    for (const std::string& line : lines) {
        out += line + lineBreak;
    }
    return out;
}

// How the armour of `bytes` may reach a reader: as written, with LF breaks,
// inside a mail, quoted once or twice by a mail program with blanks left at the
// line ends.
struct Wrapping {
    const char* name;
    std::function<std::string(const std::string& crlfArmor)> wrap;
    const char* before;     // the text in front of the block
    std::size_t trailing;   // blanks after the end line
};

std::string quoted(const std::string& armor, const std::string& prefix, const std::string& lineBreak)
{
    std::vector<std::string> lines = splitLines(armor, "\r\n");
    for (std::string& line : lines) {
        line = prefix + line + "  \t";
    }
    return "On Monday Jan wrote:" + lineBreak + joinLines(lines, lineBreak) + prefix + lineBreak + "Thanks.";
}

const std::vector<Wrapping> kWrappings = {
    {"as written", [](const std::string& a) { return a; }, "", 0},
    {"LF breaks", [](const std::string& a) { return joinLines(splitLines(a, "\r\n"), "\n"); }, "", 0},
    {"inside a mail", [](const std::string& a) { return "Hallo Jan,\r\n\r\n" + a + "\r\nGroeten,\r\nPiet\r\n"; },
     "Hallo Jan,\r\n\r\n", 0},
    {"quoted", [](const std::string& a) { return quoted(a, "> ", "\n"); }, "On Monday Jan wrote:\n", 3},
    {"quoted twice", [](const std::string& a) { return quoted(a, ">> ", "\r\n"); }, "On Monday Jan wrote:\r\n", 3},
};

TEST(Armor, EverySizeComesBackFromAnyMailWithLinesWithinTheLimit)
{
    // Sizes around the 3-byte groups and the 57-byte lines, and real sealed
    // files of one, two and three chunks.
    std::vector<std::string> inputs;
    for (std::size_t size : {0, 1, 2, 3, 4, 55, 56, 57, 58, 59, 113, 114, 115, 116, 171, 1000}) {
        inputs.push_back(randomBytes(size, static_cast<unsigned>(size)));
    }
    for (std::size_t memo : {std::size_t{0}, tq::sealed::kChunkSize, 2 * tq::sealed::kChunkSize + 7}) {
        inputs.push_back(*tq::sealed::Seal(randomBytes(memo, 9), SecretBytes::copyOf(kPass), kFast));
    }
    for (const std::string& bytes : inputs) {
        SCOPED_TRACE(std::to_string(bytes.size()) + " bytes");
        const std::string armor = tq::armor::Armor(bytes);
        const std::vector<std::string> lines = splitLines(armor, "\r\n");
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.front(), tq::armor::kBeginLine);
        EXPECT_EQ(lines.back(), tq::armor::kEndLine);
        EXPECT_EQ(lines.size(), 2 + (bytes.size() + 56) / 57);
        // Full lines of 76 characters, the last one holding the rest.
        for (std::size_t i = 1; i + 2 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].size(), 76u);
        }
        if (lines.size() > 2) {
            const std::size_t rest = bytes.size() - 57 * (lines.size() - 3);
            EXPECT_EQ(lines[lines.size() - 2].size(), (rest + 2) / 3 * 4);
        }
        for (const char c : armor) {
            ASSERT_TRUE(c == '\r' || c == '\n' || (c >= 0x20 && c <= 0x7E)) << static_cast<int>(c);
        }
        EXPECT_EQ(tq::armor::Armor(bytes, "\n"), joinLines(lines, "\n"));

        for (const Wrapping& w : kWrappings) {
            SCOPED_TRACE(w.name);
            const std::string text = w.wrap(armor);
            EXPECT_TRUE(tq::armor::ContainsArmor(text));
            const auto found = tq::armor::Find(text);
            ASSERT_TRUE(found.has_value());
            EXPECT_TRUE(found->bytes == bytes);
            EXPECT_EQ(found->begin, std::string(w.before).size());
            const std::string block = text.substr(found->begin, found->end - found->begin);
            EXPECT_NE(block.find(tq::armor::kBeginLine), std::string::npos);
            EXPECT_EQ(block.find(tq::armor::kEndLine) + tq::armor::kEndLine.size() + w.trailing, block.size())
                << "the block ends with the end line and its trailing blanks";
        }
    }
}

// What becomes of a text: "absent" (no block), "damaged" or "no end" (refused
// by the armour), "refused" (refused by the sealed layer), "opened".
std::string outcome(const std::string& text, const std::string& memo, const char* pass = kPass)
{
    std::optional<tq::armor::Found> found;
    try {
        found = tq::armor::Find(text);
    } catch (const ArmorError& e) {
        const std::string what = e.what();
        if (what.rfind("The sealed text is damaged: ", 0) == 0) {
            return "damaged";
        }
        return what.rfind("The sealed text has no end line ", 0) == 0 ? "no end" : what;
    }
    if (!found) {
        return "absent";
    }
    try {
        const auto back = tq::sealed::Unseal(found->bytes, SecretBytes::copyOf(pass));
        return back && *back == memo ? "opened" : "wrong memo";
    } catch (const tq::sealed::SealedError& e) {
        return e.kind() == tq::sealed::SealedError::Kind::Refused ? "refused" : e.what();
    }
}

TEST(Armor, DamagedOrForeignBlocksAreRefused)
{
    // 158 sealed bytes: the last group has one padding character.
    const std::string memo = randomBytes(83, 5);
    const std::string sealed = *tq::sealed::Seal(memo, SecretBytes::copyOf(kPass), kFast);
    ASSERT_EQ(sealed.size() % 3, 2u);
    const std::vector<std::string> lines = splitLines(tq::armor::Armor(sealed), "\r\n");
    ASSERT_EQ(lines.size(), 5u); // begin, 76, 76, 60 characters, end
    const std::string damaged = "damaged";
    const std::string noEnd = "no end";

    using Edit = std::function<void(std::vector<std::string>&)>;
    struct Case {
        const char* name;
        Edit edit;
        std::string expected;
        const char* pass = kPass;
    };
    auto setChar = [](std::size_t line, std::size_t at, char c) {
        return [=](std::vector<std::string>& l) { l[line][at] = c; };
    };
    const std::vector<Case> cases = {
        {"untouched", [](auto&) {}, "opened"},
        {"wrong passphrase", [](auto&) {}, "refused", "another passphrase"},
        {"no block at all", [](auto& l) { l.erase(l.begin()); }, "absent"},
        {"begin line inside other text", [](auto& l) { l[0] = "see " + l[0]; }, "absent"},
        {"missing end line", [](auto& l) { l.pop_back(); }, noEnd},
        {"cut after the first data line", [](auto& l) { l.resize(2); }, noEnd},
        {"end line changed", [](auto& l) { l[4][5] = 'D'; }, damaged},
        {"a data line dropped", [](auto& l) { l.erase(l.begin() + 2); }, "refused"},
        {"last line cut short", [](auto& l) { l[3].erase(0, 1); }, damaged},
        {"lines swapped", [](auto& l) { std::swap(l[1], l[2]); }, "refused"},
        {"bytes added", [](auto& l) { l.insert(l.begin() + 3, "AAAA"); }, "refused"},
        {"group added after the padding", [](auto& l) { l[3] += "AAAA"; }, damaged},
        {"a character flipped", setChar(2, 30, 'Q'), "refused"},
        {"a character of the header flipped", setChar(1, 0, 'j'), "refused"},
        {"unused bits of the last character set", [](auto& l) { l[3][58] = static_cast<char>(l[3][58] + 1); },
         damaged},
        {"padding removed", [](auto& l) { l[3].pop_back(); }, damaged},
        {"padding inside a line", setChar(1, 20, '='), damaged},
        {"character outside base64", setChar(2, 3, '*'), damaged},
        {"8-bit byte", setChar(2, 3, '\xE9'), damaged},
        {"blank inside a line", setChar(2, 3, ' '), damaged},
        {"empty line inside", [](auto& l) { l.insert(l.begin() + 2, ""); }, damaged},
        {"comment line inside", [](auto& l) { l.insert(l.begin() + 1, "Version: 1"); }, damaged},
        {"two lines joined", [](auto& l) { l[1] += l[2]; l.erase(l.begin() + 2); }, damaged},
        {"rewrapped to 64 characters", [](auto& l) {
             const std::string all = l[1] + l[2] + l[3];
             l.erase(l.begin() + 1, l.begin() + 4);
             for (std::size_t i = 0; i < all.size(); i += 64) {
                 l.insert(l.end() - 1, all.substr(i, 64));
             }
         },
         "opened"},
    };
    ASSERT_NE(lines[2][30], 'Q');
    ASSERT_NE(lines[1][0], 'j');
    ASSERT_EQ(lines[3].size(), 60u);
    ASSERT_EQ(lines[3].back(), '=');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> edited = lines;
        c.edit(edited);
        EXPECT_EQ(outcome("Hi,\r\n" + joinLines(edited, "\r\n") + "bye", memo, c.pass), c.expected);
    }
    // The messages say what is wrong.
    std::vector<std::string> cut = lines;
    cut.pop_back();
    try {
        tq::armor::Find(joinLines(cut, "\n"));
        ADD_FAILURE() << "a block without its end line was taken";
    } catch (const ArmorError& e) {
        EXPECT_EQ(std::string(e.what()), "The sealed text has no end line (\"-----END TARNQUILL SEALED MESSAGE-----\"): "
                                         "it was cut short, or not copied whole.");
    }
}

} // namespace
