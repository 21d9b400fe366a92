// Row layout: wrapping rules, and the incremental update after an edit
// compared with a fresh layout of the edited text.
#include "memo/memo_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace tq {
namespace {

MemoLayout::Advances uniform(double w)
{
    MemoLayout::Advances a{};
    a.fill(w);
    return a;
}

// Width of [begin, end) as the layout measures it.
double rowWidth(const MemoLayout::Advances& adv, double tab, const std::string& t, int begin, int end)
{
    double x = 0;
    for (int i = begin; i < end; ++i) {
        const char c = t[static_cast<std::size_t>(i)];
        x = c == '\t' ? (std::floor(x / tab) + 1) * tab : x + adv[static_cast<unsigned char>(c)];
    }
    return x;
}

TEST(MemoLayoutWrap, CipherLineWrapsIntoFullRows)
{
    MemoLayout layout;
    layout.setMetrics(uniform(10), 80, 100); // ten characters a row
    const std::string text(95, '\xE5');
    layout.layoutAll(text);
    ASSERT_EQ(layout.rowCount(), 10);
    for (int r = 0; r < 10; ++r) {
        EXPECT_EQ(layout.rowStart(r), 10 * r);
        EXPECT_EQ(layout.rowEnd(text, r), std::min(95, 10 * r + 10));
    }
    EXPECT_EQ(layout.rowOfOffset(0), 0);
    EXPECT_EQ(layout.rowOfOffset(9), 0);
    EXPECT_EQ(layout.rowOfOffset(10), 1);
    EXPECT_EQ(layout.rowOfOffset(95), 9);
}

TEST(MemoLayoutWrap, BreaksAfterTheLastBlankAndHangsASpace)
{
    MemoLayout layout;
    layout.setMetrics(uniform(10), 80, 100);
    const std::string text = "aaaa bbbb cccc"; // "aaaa bbbb " is 10 wide; the space hangs
    layout.layoutAll(text);
    ASSERT_EQ(layout.rowCount(), 2);
    EXPECT_EQ(layout.rowStart(1), 10);
    const std::string text2 = "aaaa bbbbbbb";
    layout.layoutAll(text2);
    ASSERT_EQ(layout.rowCount(), 2);
    EXPECT_EQ(layout.rowStart(1), 5); // after the blank, not inside the word
    const std::string text3 = "aaaaaaaaa  b"; // second space overflows and hangs
    layout.layoutAll(text3);
    ASSERT_EQ(layout.rowCount(), 2);
    EXPECT_EQ(layout.rowStart(1), 11);
}

TEST(MemoLayoutWrap, LineBreaksEndRowsAndAreNotShown)
{
    MemoLayout layout;
    layout.setMetrics(uniform(10), 80, 100);
    const std::string text = "ab\r\n\r\ncd\r\n";
    layout.layoutAll(text);
    ASSERT_EQ(layout.rowCount(), 4);
    EXPECT_EQ(layout.rowStart(1), 4);
    EXPECT_EQ(layout.rowStart(2), 6);
    EXPECT_EQ(layout.rowStart(3), 10);
    EXPECT_EQ(layout.rowEnd(text, 0), 2);
    EXPECT_EQ(layout.rowEnd(text, 1), 4);
    EXPECT_EQ(layout.rowEnd(text, 2), 8);
    EXPECT_EQ(layout.rowEnd(text, 3), 10);
    layout.layoutAll("");
    EXPECT_EQ(layout.rowCount(), 1);
}

TEST(MemoLayoutWrap, TabsAdvanceToTheNextStop)
{
    MemoLayout layout;
    layout.setMetrics(uniform(10), 40, 100);
    // a(10) tab->40 b(50) tab->80 c(90) d(100) | e
    const std::string text = "a\tb\tcde";
    layout.layoutAll(text);
    ASSERT_EQ(layout.rowCount(), 2);
    EXPECT_EQ(layout.rowStart(1), 4); // breaks after the last tab, before "cde"
}

TEST(MemoLayoutWrap, OversizedCharacterGetsARowOfItsOwn)
{
    MemoLayout::Advances adv = uniform(10);
    adv['W'] = 150;
    MemoLayout layout;
    layout.setMetrics(adv, 80, 100);
    const std::string text = "aWa";
    layout.layoutAll(text);
    ASSERT_EQ(layout.rowCount(), 3);
    EXPECT_EQ(layout.rowStart(1), 1);
    EXPECT_EQ(layout.rowStart(2), 2);
}

TEST(MemoLayoutWrap, MetricsChangeInvalidates)
{
    MemoLayout layout;
    layout.setMetrics(uniform(10), 80, 100);
    layout.layoutAll("abc");
    EXPECT_TRUE(layout.valid());
    layout.setMetrics(uniform(10), 80, 100);
    EXPECT_TRUE(layout.valid());
    layout.setMetrics(uniform(10), 80, 90);
    EXPECT_FALSE(layout.valid());
}

// Every row of a layout obeys the wrapping rules.
void checkRows(const MemoLayout& layout, const MemoLayout::Advances& adv, double tab, double width,
               const std::string& t)
{
    ASSERT_EQ(layout.rowStart(0), 0);
    for (int r = 0; r < layout.rowCount(); ++r) {
        const int b = layout.rowStart(r);
        const int e = layout.rowEnd(t, r);
        ASSERT_LE(b, e);
        ASSERT_EQ(t.find('\r', static_cast<std::size_t>(b)) < static_cast<std::size_t>(e), false)
            << "row " << r << " holds a line break";
        if (r + 1 < layout.rowCount()) {
            ASSERT_LT(b, layout.rowStart(r + 1));
        }
        const double w = rowWidth(adv, tab, t, b, e);
        const bool hanging = e > b + 1 && t[static_cast<std::size_t>(e - 1)] == ' '
                             && (rowWidth(adv, tab, t, b, e - 1) <= width || e - b == 2);
        ASSERT_TRUE(w <= width || e - b == 1 || hanging) << "row " << r << " too wide: [" << t.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b)) << "] width " << w << " of " << width;
        // A soft-wrapped row without a blank is as full as it can be.
        const bool soft = r + 1 < layout.rowCount() && layout.rowStart(r + 1) == e;
        if (soft && t.substr(static_cast<std::size_t>(b), static_cast<std::size_t>(e - b)).find_first_of(" \t") == std::string::npos) {
            ASSERT_GT(rowWidth(adv, tab, t, b, e + 1), width) << "row " << r << " could hold more";
        }
    }
}

TEST(MemoLayoutUpdate, MatchesAFreshLayoutAfterRandomEdits)
{
    std::mt19937 rng(3);
    const std::string alphabet = "aaaaabW \t\r\n\xE5";
    for (int round = 0; round < 40; ++round) {
        MemoLayout::Advances adv{};
        for (auto& a : adv) {
            a = 3 + static_cast<double>(rng() % 9);
        }
        const double width = 10 + static_cast<double>(rng() % 60);
        const double tab = 4 + static_cast<double>(rng() % 30);
        auto randomText = [&](int maxLen) {
            std::string s;
            const int n = static_cast<int>(rng() % static_cast<unsigned>(maxLen + 1));
            for (int i = 0; i < n; ++i) {
                s.push_back(alphabet[rng() % alphabet.size()]);
            }
            return s;
        };
        MemoDocument doc;
        doc.setText(randomText(300));
        MemoLayout layout;
        layout.setMetrics(adv, tab, width);
        layout.layoutAll(doc.text());
        for (int step = 0; step < 150; ++step) {
            const int pos = doc.snap(static_cast<int>(rng() % static_cast<unsigned>(doc.length() + 1)));
            const int end = doc.snap(pos + static_cast<int>(rng() % 8));
            const MemoEdit edit = doc.replace(pos, end - pos, randomText(step % 10 == 0 ? 40 : 3));
            layout.update(doc.text(), edit);
            MemoLayout fresh;
            fresh.setMetrics(adv, tab, width);
            fresh.layoutAll(doc.text());
            ASSERT_EQ(layout.starts(), fresh.starts()) << "round " << round << " step " << step;
            checkRows(fresh, adv, tab, width, doc.text());
        }
    }
}

TEST(MemoLayoutUpdate, KeystrokeInALongLineMatchesAFreshLayout)
{
    // A long cipher line of full rows: one typed character in the middle.
    MemoLayout layout;
    layout.setMetrics(uniform(7), 56, 700);
    MemoDocument doc;
    doc.setText(std::string(200000, '\xE9'));
    layout.layoutAll(doc.text());
    const int rowsBefore = layout.rowCount();
    doc.setSelection(100005, 100005);
    const MemoEdit e = doc.replaceSelection("x", MemoDocument::EditKind::Typing);
    layout.update(doc.text(), e);
    MemoLayout fresh;
    fresh.setMetrics(uniform(7), 56, 700);
    fresh.layoutAll(doc.text());
    EXPECT_EQ(layout.starts(), fresh.starts());
    EXPECT_EQ(layout.rowCount(), rowsBefore + 1); // 200,001 characters need one more row
}

} // namespace
} // namespace tq
