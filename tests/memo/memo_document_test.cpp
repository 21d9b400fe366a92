// The memo's text model: line breaks, line index, caret steps and undo.
#include "memo/memo_document.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tq {
namespace {

// Reference line split: every CR LF ends a line; the remainder after a final
// break (or an empty text) is not a line.
std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find("\r\n", start);
        if (at == std::string::npos) {
            break;
        }
        out.push_back(text.substr(start, at - start));
        start = at + 2;
    }
    if (start < text.size()) {
        out.push_back(text.substr(start));
    }
    return out;
}

std::string allCodes()
{
    std::string s;
    for (int c = 0; c < 256; ++c) {
        s.push_back(static_cast<char>(c));
    }
    return s;
}

TEST(MemoLineBreaks, LoneCrAndLoneLfBecomeCrLf)
{
    EXPECT_EQ(normalizeBreaks("a\rb\nc\r\nd"), "a\r\nb\r\nc\r\nd");
    // LF CR is two breaks, CR CR LF a lone CR and a pair.
    EXPECT_EQ(normalizeBreaks("\n\r"), "\r\n\r\n");
    EXPECT_EQ(normalizeBreaks("\r\r\n"), "\r\n\r\n");
    EXPECT_EQ(normalizeBreaks("x\r"), "x\r\n");
    EXPECT_EQ(normalizeBreaks(std::string("\0\n", 2)), std::string("\0\r\n", 3));
}

TEST(MemoLineBreaks, EveryOtherCodeSurvivesSetText)
{
    std::string codes;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            codes.push_back(static_cast<char>(c));
        }
    }
    MemoDocument doc;
    doc.setText(codes + "\r\n" + codes);
    EXPECT_EQ(doc.text(), codes + "\r\n" + codes);
    ASSERT_EQ(doc.lineCount(), 2);
    EXPECT_EQ(doc.line(0), codes);
    EXPECT_EQ(doc.line(1), codes);
    EXPECT_EQ(doc.lineLength(1), 254);

    // With CR and LF among them, each becomes a break of its own.
    doc.setText(allCodes());
    ASSERT_EQ(doc.lineCount(), 3);
    EXPECT_EQ(doc.line(0), allCodes().substr(0, 10));
    EXPECT_EQ(doc.line(1), allCodes().substr(11, 2));
    EXPECT_EQ(doc.line(2), allCodes().substr(14));
}

TEST(MemoLines, CountFollowsTheMemoRule)
{
    struct Case {
        const char* text;
        int lines;
    };
    for (const Case& c : {Case{"", 0}, Case{"abc", 1}, Case{"abc\r\n", 1}, Case{"abc\r\n\r\n", 2},
                          Case{"\r\n", 1}, Case{"a\r\nb", 2}, Case{"\n\n\n", 3}}) {
        MemoDocument doc;
        doc.setText(c.text);
        EXPECT_EQ(doc.lineCount(), c.lines) << '"' << c.text << '"';
        EXPECT_EQ(doc.lines(), splitLines(doc.text())) << '"' << c.text << '"';
    }
}

TEST(MemoLines, TheLineRuleAgreesWithTheDocumentOnRandomTexts)
{
    std::mt19937 random(7);
    const char alphabet[] = {'a', 'b', '\r', '\n', ' ', '\0', static_cast<char>(0xE9)};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            text += alphabet[random() % sizeof alphabet];
        }
        MemoDocument doc;
        doc.setText(text);
        ASSERT_EQ(normalizeBreaks(text), doc.text());
        ASSERT_EQ(memoLines(doc.text()), doc.lines()) << "text of " << text.size() << " bytes";
        ASSERT_EQ(memoLines(text), doc.lines());
    }
}

TEST(MemoLines, OutOfRangeLinesAreEmpty)
{
    MemoDocument doc;
    doc.setText("ab\r\n");
    EXPECT_EQ(doc.line(-1), "");
    EXPECT_EQ(doc.line(1), "");
    EXPECT_EQ(doc.lineLength(1), 0);
    EXPECT_EQ(doc.lineLength(0), 2);
}

TEST(MemoLines, OffsetsCountEachBreakAsTwo)
{
    MemoDocument doc;
    doc.setText("ab\r\ncde\r\n\r\nf");
    EXPECT_EQ(doc.lineStart(1), 4);
    EXPECT_EQ(doc.lineStart(2), 9);
    EXPECT_EQ(doc.lineStart(3), 11);
    EXPECT_EQ(doc.lineOfOffset(0), 0);
    EXPECT_EQ(doc.lineOfOffset(2), 0);  // before the CR
    EXPECT_EQ(doc.lineOfOffset(4), 1);
    EXPECT_EQ(doc.lineOfOffset(8), 1);
    EXPECT_EQ(doc.lineOfOffset(9), 2);
    EXPECT_EQ(doc.lineOfOffset(12), 3); // text end
    EXPECT_EQ(doc.lineEnd(1), 7);
    EXPECT_EQ(doc.lineEnd(3), 12);
}

TEST(MemoCaret, NeverStandsInsideABreak)
{
    MemoDocument doc;
    doc.setText("ab\r\ncd");
    EXPECT_EQ(doc.snap(3), 2);
    EXPECT_EQ(doc.snap(-5), 0);
    EXPECT_EQ(doc.snap(99), 6);
    doc.setSelection(3, 3);
    EXPECT_EQ(doc.caret(), 2);
    EXPECT_EQ(doc.nextPos(2), 4);
    EXPECT_EQ(doc.prevPos(4), 2);
    EXPECT_EQ(doc.prevPos(0), 0);
    EXPECT_EQ(doc.nextPos(6), 6);
    // An edit range ending inside a break is cut back to the break's start.
    doc.replace(1, 2, "X");
    EXPECT_EQ(doc.text(), "aX\r\ncd");
}

TEST(MemoCaret, WordSteps)
{
    MemoDocument doc;
    doc.setText("one two  three\r\nfour");
    EXPECT_EQ(doc.nextWord(0), 4);
    EXPECT_EQ(doc.nextWord(4), 9);
    EXPECT_EQ(doc.nextWord(9), 14);   // to the line end
    EXPECT_EQ(doc.nextWord(14), 16);  // over the break
    EXPECT_EQ(doc.prevWord(16), 14);
    EXPECT_EQ(doc.prevWord(14), 9);
    EXPECT_EQ(doc.prevWord(9), 4);
    EXPECT_EQ(doc.prevWord(5), 4);
    EXPECT_EQ(doc.wordAt(5), std::make_pair(4, 7));
    EXPECT_EQ(doc.wordAt(7), std::make_pair(7, 9)); // the blanks
    EXPECT_EQ(doc.wordAt(14), std::make_pair(9, 14)); // line end takes the word before
    EXPECT_EQ(doc.wordAt(20), std::make_pair(16, 20));
}

TEST(MemoEditing, RandomEditsKeepTheLineIndex)
{
    std::mt19937 rng(7);
    const std::string alphabet = "ab \r\n\t\xA0";
    auto randomText = [&](int maxLen) {
        std::string s;
        const int n = static_cast<int>(rng() % static_cast<unsigned>(maxLen + 1));
        for (int i = 0; i < n; ++i) {
            s.push_back(alphabet[rng() % alphabet.size()]);
        }
        return s;
    };
    MemoDocument doc;
    std::string model = normalizeBreaks(randomText(40));
    doc.setText(model);
    for (int step = 0; step < 3000; ++step) {
        const int pos = doc.snap(static_cast<int>(rng() % static_cast<unsigned>(doc.length() + 1)));
        const int end = doc.snap(pos + static_cast<int>(rng() % 6));
        const std::string ins = randomText(5);
        const MemoEdit e = doc.replace(pos, end - pos, ins);
        const std::string norm = normalizeBreaks(ins);
        model.replace(static_cast<std::size_t>(pos), static_cast<std::size_t>(end - pos), norm);
        ASSERT_EQ(doc.text(), model);
        ASSERT_EQ(e.pos, pos);
        ASSERT_EQ(e.removed, end - pos);
        ASSERT_EQ(e.inserted, static_cast<int>(norm.size()));
        ASSERT_EQ(doc.caret(), pos + static_cast<int>(norm.size()));
        ASSERT_EQ(doc.lines(), splitLines(model)) << "step " << step;
        // Line starts agree with the offsets of the breaks.
        int expectedStart = 0;
        for (int i = 0; i < doc.breakLineCount(); ++i) {
            ASSERT_EQ(doc.lineStart(i), expectedStart);
            const std::size_t br = model.find("\r\n", static_cast<std::size_t>(expectedStart));
            expectedStart = br == std::string::npos ? -1 : static_cast<int>(br) + 2;
        }
        ASSERT_EQ(expectedStart, -1);
        if (doc.length() > 200) {
            model = normalizeBreaks(randomText(40));
            doc.setText(model);
        }
    }
}

TEST(MemoUndo, TypingIsOneStepAndUndoTwiceRedoes)
{
    MemoDocument doc;
    doc.setText("xy");
    doc.setSelection(1, 1);
    for (char c : std::string("abc")) {
        doc.replaceSelection(std::string(1, c), MemoDocument::EditKind::Typing);
    }
    EXPECT_EQ(doc.text(), "xabcy");
    ASSERT_TRUE(doc.canUndo());
    doc.undo();
    EXPECT_EQ(doc.text(), "xy");
    EXPECT_EQ(doc.caret(), 1);
    doc.undo();
    EXPECT_EQ(doc.text(), "xabcy");
    EXPECT_EQ(doc.selectedText(), "abc");
}

TEST(MemoUndo, CaretMoveEndsTheTypingStep)
{
    MemoDocument doc;
    doc.setText("");
    doc.replaceSelection("a", MemoDocument::EditKind::Typing);
    doc.setSelection(0, 0);
    doc.setSelection(1, 1);
    doc.replaceSelection("b", MemoDocument::EditKind::Typing);
    doc.undo();
    EXPECT_EQ(doc.text(), "a");
}

TEST(MemoUndo, TypingOverASelectionRestoresIt)
{
    MemoDocument doc;
    doc.setText("hello world");
    doc.setSelection(0, 5);
    doc.replaceSelection("H", MemoDocument::EditKind::Typing);
    doc.replaceSelection("i", MemoDocument::EditKind::Typing);
    EXPECT_EQ(doc.text(), "Hi world");
    doc.undo();
    EXPECT_EQ(doc.text(), "hello world");
    EXPECT_EQ(doc.selectedText(), "hello");
}

TEST(MemoUndo, BackspacesAndDeletesMerge)
{
    MemoDocument doc;
    doc.setText("abcdef");
    doc.setSelection(4, 4);
    for (int i = 0; i < 3; ++i) {
        doc.replace(doc.prevPos(doc.caret()), 1, {}, MemoDocument::EditKind::Backspace);
    }
    EXPECT_EQ(doc.text(), "aef");
    doc.undo();
    EXPECT_EQ(doc.text(), "abcdef");

    doc.setText("a\r\nbcd");
    doc.setSelection(1, 1);
    doc.replace(1, doc.nextPos(1) - 1, {}, MemoDocument::EditKind::Delete);
    doc.replace(1, 1, {}, MemoDocument::EditKind::Delete);
    EXPECT_EQ(doc.text(), "acd");
    doc.undo();
    EXPECT_EQ(doc.text(), "a\r\nbcd");
}

TEST(MemoUndo, SetTextForgetsTheStep)
{
    MemoDocument doc;
    doc.setText("a");
    doc.replace(0, 1, "b");
    EXPECT_TRUE(doc.canUndo());
    doc.setText("c");
    EXPECT_FALSE(doc.canUndo());
    doc.undo();
    EXPECT_EQ(doc.text(), "c");
}

TEST(MemoUndo, RandomEditsUndoToThePreviousText)
{
    std::mt19937 rng(11);
    MemoDocument doc;
    doc.setText("start\r\ntext");
    for (int step = 0; step < 500; ++step) {
        const std::string before = doc.text();
        const int pos = doc.snap(static_cast<int>(rng() % static_cast<unsigned>(doc.length() + 1)));
        const int end = doc.snap(pos + static_cast<int>(rng() % 4));
        std::string ins;
        for (unsigned i = rng() % 4; i > 0; --i) {
            ins.push_back(static_cast<char>(rng() % 256));
        }
        if (end == pos && ins.empty()) {
            continue;
        }
        doc.replace(pos, end - pos, ins);
        const std::string after = doc.text();
        doc.undo();
        ASSERT_EQ(doc.text(), before);
        ASSERT_EQ(doc.lines(), splitLines(before));
        doc.undo();
        ASSERT_EQ(doc.text(), after);
    }
}

} // namespace
} // namespace tq
