// The memo widget driven like a user: typing, keys, mouse, clipboard, undo,
// 8-bit text and long wrapped lines.
#include "app/memoview.h"

#include "memo/memo_document.h"
#include "platform/codepage.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tq {
namespace {

std::string allCodes()
{
    std::string s;
    for (int c = 0; c < 256; ++c) {
        s.push_back(static_cast<char>(c));
    }
    return s;
}

std::string allCodesButBreaks()
{
    std::string s;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            s.push_back(static_cast<char>(c));
        }
    }
    return s;
}

QString unicodeOf(std::string_view bytes)
{
    QString s;
    for (char b : bytes) {
        s.append(QChar(static_cast<char16_t>(cp1252::toUnicode(static_cast<unsigned char>(b)))));
    }
    return s;
}

class MemoViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        other = new QLineEdit(window.get());
        memo = new MemoView(window.get());
        layout->addWidget(other);
        layout->addWidget(memo);
        window->resize(320, 240);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        memo->setFocus();
        QApplication::processEvents();
        QGuiApplication::clipboard()->clear();
    }

    void type(const QString& text)
    {
        QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, text, Qt::NoModifier);
    }

    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            QTest::keyClick(memo, k, mods);
        }
    }

    int rowHeight() const { return QFontMetrics(memo->font()).lineSpacing(); }

    std::unique_ptr<QWidget> window;
    QLineEdit* other = nullptr;
    MemoView* memo = nullptr;
};

// --- 8-bit text ---------------------------------------------------------------

TEST_F(MemoViewTest, AllCodesSurviveSetTextAndDisplay)
{
    const std::string codes = allCodesButBreaks();
    const std::string text = codes + "\r\n" + codes;
    memo->setText(text);
    memo->viewport()->grab(); // paint the text, the control codes included
    EXPECT_EQ(memo->text(), text);
    ASSERT_EQ(memo->lineCount(), 2);
    EXPECT_EQ(memo->line(0), codes);
    EXPECT_EQ(memo->lineLength(1), 254);
    memo->selectAll();
    EXPECT_EQ(memo->selectedText(), text);

    memo->setText(allCodes());
    EXPECT_EQ(memo->text(), normalizeBreaks(allCodes()));
}

TEST_F(MemoViewTest, ControlCodesAreShownVisiblyAndDistinctly)
{
    other->setFocus(); // no caret in the pictures
    auto picture = [this](int code) {
        memo->setText(std::string(1, static_cast<char>(code)));
        return memo->viewport()->grab().toImage();
    };
    const QImage space = picture(' ');
    const std::vector<int> codes = {0x00, 0x01, 0x1B, 0x1F, 0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xAD};
    std::vector<QImage> seen;
    for (int code : codes) {
        const QImage image = picture(code);
        EXPECT_NE(image, space) << "code " << code << " looks like a space";
        for (std::size_t k = 0; k < seen.size(); ++k) {
            EXPECT_NE(image, seen[k]) << "codes " << code << " and " << codes[k] << " look alike";
        }
        seen.push_back(image);
    }
}

TEST_F(MemoViewTest, TypedWindows1252CharactersGiveTheirCodes)
{
    std::string expected;
    for (int b = 0x20; b < 0x100; ++b) {
        if (b == 0x7F) {
            continue;
        }
        expected.push_back(static_cast<char>(b));
        type(unicodeOf(std::string(1, static_cast<char>(b))));
    }
    EXPECT_EQ(memo->text(), expected);
}

TEST_F(MemoViewTest, TypedCharacterOutsideWindows1252BecomesQuestionMark)
{
    type(QString(QChar(0x4E2D)));               // CJK ideograph
    type(QString::fromUtf8("\xF0\x9F\x98\x80")); // emoji, a surrogate pair
    type(QString(QChar(0x0100)));               // Latin A with macron
    EXPECT_EQ(memo->text(), "???");
}

TEST_F(MemoViewTest, EnterTypesALineBreakAndCtrlTabATab)
{
    type("a");
    key(Qt::Key_Return);
    type("b");
    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(memo->text(), "a\r\nb\t");
    EXPECT_EQ(memo->caretLine(), 1);
    EXPECT_EQ(memo->caretColumn(), 2);
    EXPECT_TRUE(memo->hasFocus());
}

// --- Lines, caret and selection offsets -----------------------------------------

TEST_F(MemoViewTest, LineCountAndBreakNormalisation)
{
    memo->setText("");
    EXPECT_EQ(memo->lineCount(), 0);
    memo->setText("abc");
    EXPECT_EQ(memo->lineCount(), 1);
    memo->setText("abc\r\n");
    EXPECT_EQ(memo->lineCount(), 1);
    memo->setText("a\rb\nc\r\n\r\n");
    EXPECT_EQ(memo->text(), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(memo->lineCount(), 4);
    EXPECT_EQ(memo->lines(), (std::vector<std::string>{"a", "b", "c", ""}));
    memo->setSelection(1, 0);
    memo->replaceSelection("1\n2\r3");
    EXPECT_EQ(memo->line(0), "a1");
    EXPECT_EQ(memo->line(1), "2");
    EXPECT_EQ(memo->line(2), "3");
}

TEST_F(MemoViewTest, AppendLineAddsWholeLines)
{
    memo->appendLine("one");
    memo->appendLine("two\nthree");
    EXPECT_EQ(memo->text(), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(memo->lineCount(), 3);
    memo->setText("open");
    memo->appendLine("");
    EXPECT_EQ(memo->lines(), (std::vector<std::string>{"open", ""}));
    EXPECT_EQ(memo->lineStart(2), memo->textLength());
}

TEST_F(MemoViewTest, CaretLineAndColumnCountBreaksAsTwo)
{
    memo->setText("ab\r\ncde\r\nf");
    memo->setSelection(6, 0);
    EXPECT_EQ(memo->caretLine(), 1);
    EXPECT_EQ(memo->caretColumn(), 2);
    EXPECT_EQ(memo->selStart(), 6);
    memo->setSelection(2, 0);
    key(Qt::Key_Right);
    EXPECT_EQ(memo->caretOffset(), 4);
    EXPECT_EQ(memo->caretLine(), 1);
    EXPECT_EQ(memo->caretColumn(), 0);
    key(Qt::Key_Left);
    EXPECT_EQ(memo->caretOffset(), 2);
    memo->setSelection(3, 0); // between CR and LF
    EXPECT_EQ(memo->caretOffset(), 2);
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(memo->caretLine(), 2);
    EXPECT_EQ(memo->caretColumn(), 1);
    EXPECT_EQ(memo->lineStart(2), 9);
}

TEST_F(MemoViewTest, SelectionOffsetsIncludeBreaks)
{
    memo->setText("ab\r\ncde\r\nxxABCxx");
    // The third line's "ABC": lengths of the lines before, plus two per break.
    const int start = memo->lineLength(0) + memo->lineLength(1) + 2 * 2 + 2;
    memo->setSelection(start, 3);
    EXPECT_EQ(memo->selectedText(), "ABC");
    memo->setSelection(1, 5);
    EXPECT_EQ(memo->selectedText(), "b\r\ncd");
    EXPECT_EQ(memo->selLength(), 5);
    EXPECT_TRUE(memo->hasSelection());
    memo->setSelection(5, -3);
    EXPECT_EQ(memo->selStart(), 2);
    EXPECT_EQ(memo->selLength(), 3);
    EXPECT_EQ(memo->caretOffset(), 2);
    key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(memo->selStart(), 4);
    EXPECT_EQ(memo->selLength(), 1);
}

// --- Long lines wrapped into rows ---------------------------------------------------

TEST_F(MemoViewTest, ArrowsWalkTheRowsOfAWrappedLine)
{
    std::string line;
    for (int i = 0; i < 3000; ++i) {
        line.push_back(static_cast<char>(0xE0 + i % 31));
    }
    memo->setText(line + "\r\nnext");
    key(Qt::Key_Down, Qt::NoModifier, 3);
    EXPECT_EQ(memo->caretLine(), 0); // still the long line, three rows down
    const int col3 = memo->caretColumn();
    EXPECT_GT(col3, 0);
    key(Qt::Key_Down);
    EXPECT_GT(memo->caretColumn(), col3);
    key(Qt::Key_Up, Qt::NoModifier, 4);
    EXPECT_EQ(memo->caretOffset(), 0);

    key(Qt::Key_End);
    const int rowEnd = memo->caretOffset();
    EXPECT_GT(rowEnd, 0);
    EXPECT_LT(rowEnd, 3000);
    key(Qt::Key_Home);
    EXPECT_EQ(memo->caretOffset(), 0);

    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(memo->caretLine(), 1);
    key(Qt::Key_Up);
    EXPECT_EQ(memo->caretLine(), 0);
    EXPECT_GT(memo->caretColumn(), 2900); // the long line's last row
    EXPECT_GT(memo->verticalScrollBar()->value(), 0);
}

TEST_F(MemoViewTest, ResizingReWrapsTheRows)
{
    memo->setText(std::string(5000, 'w'));
    key(Qt::Key_Down);
    const int narrowRow = memo->caretColumn();
    window->resize(640, 240);
    QApplication::processEvents();
    memo->viewport()->grab();
    key(Qt::Key_Home, Qt::ControlModifier);
    key(Qt::Key_Down);
    EXPECT_GT(memo->caretColumn(), narrowRow);
    key(Qt::Key_Up);
    EXPECT_EQ(memo->caretOffset(), 0);
}

TEST_F(MemoViewTest, SelectionAndCopyAcrossRows)
{
    std::string line;
    for (int i = 0; i < 2000; ++i) {
        line.push_back(static_cast<char>(i % 7 == 0 ? 0 : 0xA0 + i % 90)); // codes 0 and 160 among them
    }
    memo->setText(line);
    key(Qt::Key_Right, Qt::NoModifier, 5);
    key(Qt::Key_Down, Qt::ShiftModifier, 3);
    ASSERT_EQ(memo->selStart(), 5);
    ASSERT_GT(memo->selLength(), 20);
    EXPECT_EQ(memo->selectedText(), line.substr(5, static_cast<std::size_t>(memo->selLength())));
    memo->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), unicodeOf(memo->selectedText()));

    // Mouse: from the first row to three rows further down.
    const int h = rowHeight();
    QTest::mousePress(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(1, h / 2));
    QTest::mouseMove(memo->viewport(), QPoint(60, h * 3 + h / 2));
    QTest::mouseRelease(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(60, h * 3 + h / 2));
    EXPECT_EQ(memo->selStart(), 0);
    EXPECT_GT(memo->selLength(), 20);
    EXPECT_EQ(memo->selectedText(), line.substr(0, static_cast<std::size_t>(memo->selLength())));
}

TEST_F(MemoViewTest, EditsInALongLineKeepItExact)
{
    std::string line(2'000'000, '\xE4');
    for (std::size_t i = 0; i < line.size(); i += 97) {
        line[i] = static_cast<char>(i % 256 == 13 || i % 256 == 10 ? 'x' : i % 256);
    }
    memo->setText(line);
    memo->setSelection(1'000'000, 0);
    type("Q");
    key(Qt::Key_Backspace);
    key(Qt::Key_Backspace);
    line.erase(999'999, 1);
    EXPECT_EQ(memo->text(), line);
    memo->viewport()->grab();
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(memo->caretOffset(), static_cast<int>(line.size()));
    EXPECT_EQ(memo->lineCount(), 1);
}

// --- Editing commands ---------------------------------------------------------------

TEST_F(MemoViewTest, BackspaceAndDeleteJoinLines)
{
    memo->setText("ab\r\ncd");
    memo->setSelection(4, 0);
    key(Qt::Key_Backspace);
    EXPECT_EQ(memo->text(), "abcd");
    EXPECT_EQ(memo->caretOffset(), 2);
    memo->undo();
    EXPECT_EQ(memo->text(), "ab\r\ncd");
    memo->setSelection(2, 0);
    key(Qt::Key_Delete);
    EXPECT_EQ(memo->text(), "abcd");
    key(Qt::Key_Delete);
    EXPECT_EQ(memo->text(), "abd");
    memo->undo(); // both presses were one step
    EXPECT_EQ(memo->text(), "ab\r\ncd");
}

TEST_F(MemoViewTest, UndoOfTypingAndPaste)
{
    type("a");
    type("b");
    type("c");
    EXPECT_TRUE(memo->canUndo());
    memo->undo();
    EXPECT_EQ(memo->text(), "");
    memo->undo();
    EXPECT_EQ(memo->text(), "abc");

    QGuiApplication::clipboard()->setText(QStringLiteral("XY\nZ"));
    memo->setSelection(1, 1);
    memo->paste();
    EXPECT_EQ(memo->text(), "aXY\r\nZc");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(memo->text(), "abc");
    EXPECT_EQ(memo->selectedText(), "b");
}

TEST_F(MemoViewTest, CutDeleteAndClear)
{
    memo->setText("one two");
    memo->setSelection(0, 4);
    memo->cut();
    EXPECT_EQ(memo->text(), "two");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("one "));
    memo->setSelection(1, 1);
    memo->deleteSelection();
    EXPECT_EQ(memo->text(), "to");
    memo->deleteSelection(); // nothing selected: nothing happens
    EXPECT_EQ(memo->text(), "to");

    memo->clear();
    EXPECT_EQ(memo->text(), "");
    EXPECT_EQ(memo->lineCount(), 0);
    memo->undo();
    EXPECT_EQ(memo->text(), "to");
    memo->setText("");
    EXPECT_FALSE(memo->canUndo());
    memo->clear(); // an empty memo: no step
    EXPECT_FALSE(memo->canUndo());
}

TEST_F(MemoViewTest, ReadOnlyKeepsTheText)
{
    memo->setText("abc");
    memo->setReadOnly(true);
    memo->setSelection(0, 1);
    type("x");
    key(Qt::Key_Delete);
    memo->cut();
    memo->paste();
    EXPECT_EQ(memo->text(), "abc");
    memo->copy();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("a"));
    memo->setReadOnly(false);
    type("x");
    EXPECT_EQ(memo->text(), "xbc");
}

// --- Clipboard ------------------------------------------------------------------------

TEST_F(MemoViewTest, CopyAndPasteAreLosslessForAllCodes)
{
    const std::string text = normalizeBreaks(allCodes());
    memo->setText(text);
    memo->selectAll();
    memo->copy();
    EXPECT_TRUE(MemoView::clipboardHasText());
    memo->setText("");
    memo->paste();
    EXPECT_EQ(memo->text(), text);
}

TEST_F(MemoViewTest, PastedUnicodeIsMappedThroughWindows1252)
{
    // Text from another program: plain Unicode, LF breaks.
    QGuiApplication::clipboard()->setText(unicodeOf(allCodes()));
    memo->paste();
    EXPECT_EQ(memo->text(), normalizeBreaks(allCodes()));

    memo->setText("");
    QGuiApplication::clipboard()->setText(QString::fromUtf8("a\xC4\x80" "b\xE2\x82\xAC\r"));
    memo->paste();
    EXPECT_EQ(memo->text(), "a?b\x80\r\n");
}

TEST_F(MemoViewTest, EmptyClipboardHasNoText)
{
    EXPECT_FALSE(MemoView::clipboardHasText());
    memo->paste();
    EXPECT_EQ(memo->text(), "");
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    EXPECT_TRUE(MemoView::clipboardHasText());
}

// --- Signals --------------------------------------------------------------------------

TEST_F(MemoViewTest, KeyPressedComesBeforeTheKeyAndCharacterTypedAfter)
{
    std::vector<std::string> textAtKey;
    std::vector<bool> producing;
    std::vector<std::string> textAtTyped;
    QObject::connect(memo, &MemoView::keyPressed, [&](int, bool produces) {
        textAtKey.push_back(memo->text());
        producing.push_back(produces);
    });
    QObject::connect(memo, &MemoView::characterTyped, [&] { textAtTyped.push_back(memo->text()); });
    QSignalSpy changed(memo, &MemoView::textChanged);
    QSignalSpy moved(memo, &MemoView::caretMoved);

    type("a");
    key(Qt::Key_Left);
    key(Qt::Key_Backspace); // at the start: nothing to remove
    key(Qt::Key_Delete);
    ASSERT_EQ(textAtKey.size(), 4u);
    EXPECT_EQ(textAtKey[0], "");
    EXPECT_EQ(textAtKey[3], "a");
    EXPECT_EQ(producing, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(textAtTyped, (std::vector<std::string>{"a"}));
    EXPECT_EQ(changed.count(), 2);  // typing and Delete
    EXPECT_GE(moved.count(), 2);
}

TEST_F(MemoViewTest, MouseAndFocusSignals)
{
    QSignalSpy pressed(memo, &MemoView::mousePressed);
    QSignalSpy focused(memo, &MemoView::focusReceived);
    other->setFocus();
    QApplication::processEvents();
    memo->setText("hello");
    QTest::mouseClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(200, rowHeight() / 2));
    EXPECT_EQ(pressed.count(), 1);
    EXPECT_EQ(memo->caretOffset(), 5); // right of the text: the line end
    memo->setFocus();
    QApplication::processEvents();
    EXPECT_GE(focused.count(), 1);
}

TEST_F(MemoViewTest, CustomContextMenuIsRequestedFromTheTextArea)
{
    memo->setContextMenuPolicy(Qt::CustomContextMenu);
    QSignalSpy requested(memo, &QWidget::customContextMenuRequested);
    const QPoint at(10, 5);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, memo->viewport()->mapToGlobal(at));
    QApplication::sendEvent(memo->viewport(), &event);
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested.at(0).at(0).toPoint(), at);
}

TEST_F(MemoViewTest, DoubleClickSelectsAWord)
{
    memo->setText("alpha beta gamma");
    QTest::mouseDClick(memo->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(2, rowHeight() / 2));
    EXPECT_EQ(memo->selectedText(), "alpha");
}

} // namespace
} // namespace tq
