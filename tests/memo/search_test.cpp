#include "memo/search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::optional<tq::SearchHit> search(const std::vector<std::string>& lines, int start, const std::string& word)
{
    return tq::searchLines(
        static_cast<int>(lines.size()), start, word, [&](int i) { return lines[i]; },
        [&](int i) { return static_cast<std::int64_t>(lines[i].size()); });
}

TEST(WordSearch, MatchOffsetCountsTwoCharactersPerLineBreak)
{
    const std::vector<std::string> lines = {"first line", "second", "xxABCxx", "abc again"};
    const auto hit = search(lines, 0, "abc");
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(hit->line, 2);
    EXPECT_EQ(hit->column, 2);
    EXPECT_EQ(hit->offset, static_cast<std::int64_t>(lines[0].size() + lines[1].size() + 4 + 2));
}

TEST(WordSearch, StartsAtTheCaretLineAndNeverWraps)
{
    const std::vector<std::string> lines = {"abc", "none", "ABC here", "tail"};
    // From the line of a match the same match is found again.
    ASSERT_TRUE(search(lines, 2, "abc").has_value());
    EXPECT_EQ(search(lines, 2, "abc")->line, 2);
    // From below the last match nothing is found, not even the first line.
    EXPECT_FALSE(search(lines, 3, "abc").has_value());
    EXPECT_FALSE(search(lines, 4, "abc").has_value());
}

TEST(WordSearch, FoldsOnlyAsciiLetters)
{
    const std::vector<std::string> lines = {"caf\xE9", "CAF\xC9", "[x]"};
    // e-acute (0xE9) and E-acute (0xC9) are different characters to the search.
    const auto hit = search(lines, 0, "CAF\xC9");
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(hit->line, 1);
    // '[' is 0x5B and '{' 0x7B: no folding outside a-z.
    EXPECT_FALSE(search(lines, 0, "{X]").has_value());
    EXPECT_TRUE(search(lines, 0, "[X]").has_value());
}

TEST(WordSearch, EmptyWordAndEmptyMemoMatchNothing)
{
    EXPECT_FALSE(search({"abc"}, 0, "").has_value());
    EXPECT_FALSE(search({}, 0, "abc").has_value());
    EXPECT_FALSE(search({"", ""}, 0, "a").has_value());
}

TEST(WordSearch, CallsBackOncePerLineSearched)
{
    const std::vector<std::string> lines = {"a", "b", "c", "d", "target", "e"};
    int calls = 0;
    const auto hit = tq::searchLines(
        6, 1, "TARGET", [&](int i) { return lines[i]; },
        [&](int i) { return static_cast<std::int64_t>(lines[i].size()); }, [&] { ++calls; });
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(calls, 4); // lines 1..4
}

TEST(WordSearch, AgreesWithASimpleReferenceOnRandomMemos)
{
    std::mt19937 rng(7);
    const std::string alphabet = "abAB \t\xE9";
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> lines(rng() % 6);
        for (auto& line : lines) {
            const int len = static_cast<int>(rng() % 9);
            for (int k = 0; k < len; ++k) {
                line.push_back(alphabet[rng() % alphabet.size()]);
            }
        }
        std::string word;
        for (int k = 0, n = 1 + static_cast<int>(rng() % 3); k < n; ++k) {
            word.push_back(alphabet[rng() % 4]);
        }
        const int start = lines.empty() ? 0 : static_cast<int>(rng() % (lines.size() + 1));

        // Reference: join with CR LF, fold, find the first match at or after the
        // start of the start line that lies inside one line.
        std::string text;
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            starts.push_back(text.size());
            text += lines[i];
            if (i + 1 < lines.size()) {
                text += "\r\n";
            }
        }
        std::optional<std::int64_t> expected;
        for (std::size_t i = static_cast<std::size_t>(start); i < lines.size() && !expected; ++i) {
            const std::string folded = tq::upperAscii(text.substr(starts[i], lines[i].size()));
            const std::size_t pos = folded.find(tq::upperAscii(word));
            if (pos != std::string::npos) {
                expected = static_cast<std::int64_t>(starts[i] + pos);
                EXPECT_EQ(tq::upperAscii(text.substr(starts[i] + pos, word.size())), tq::upperAscii(word));
            }
        }
        const auto hit = search(lines, start, word);
        ASSERT_EQ(hit.has_value(), expected.has_value()) << "round " << round;
        if (hit) {
            EXPECT_EQ(hit->offset, *expected) << "round " << round;
        }
    }
}

} // namespace
