// Editing, the caret timer, New, the search box and printing in the window.
#include "tests/support/window_fixture.h"

#include "app/printing.h"
#include "app/seams.h"
#include "platform/codepage.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPdfWriter>
#include <QPrinter>
#include <QTest>

namespace tqtest {
namespace {

using MainWindowEditing = WindowTest;

void activate(QWidget& w)
{
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
}

TEST_F(MainWindowEditing, CaretTimerEnablesSaveAndSendOnlyWithText)
{
    auto& w = start();
    w.Opslaan1->setEnabled(true);
    w.Verzenden1->setEnabled(true);
    w.CursorTimerTimer();
    EXPECT_FALSE(w.Opslaan1->isEnabled());
    EXPECT_FALSE(w.Verzenden1->isEnabled());
    EXPECT_FALSE(w.Knippen1->isEnabled());
    EXPECT_FALSE(w.Kopieren2->isEnabled());
    EXPECT_FALSE(w.Verwijderen1->isEnabled());

    w.Memo->setText("one\r\ntwo");
    w.Memo->setSelection(5, 3);
    w.CursorTimerTimer();
    EXPECT_TRUE(w.Opslaan1->isEnabled());
    EXPECT_TRUE(w.Verzenden1->isEnabled());
    for (QAction* a : {w.Knippen1, w.Kopieren1, w.Verwijderen1, w.Knippen2, w.Kopieren2, w.Verwijderen2}) {
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    }
    EXPECT_EQ(w.panel(2), QStringLiteral("Line: 1"));
    EXPECT_EQ(w.panel(3), QStringLiteral("Col: 3"));

    // While busy the tick changes nothing.
    w.Memo->setText("");
    w.DisableAll();
    w.Opslaan1->setEnabled(true);
    w.CursorTimerTimer();
    EXPECT_TRUE(w.Opslaan1->isEnabled());
}

TEST_F(MainWindowEditing, PasteFollowsTheClipboardWithinOneTick)
{
    auto& w = start();
    QGuiApplication::clipboard()->clear();
    w.CursorTimerTimer();
    EXPECT_FALSE(w.Plakken1->isEnabled());
    EXPECT_FALSE(w.Plakken2->isEnabled());
    w.Memo->setText("copy me");
    w.Allesselecteren1->trigger();
    w.CursorTimerTimer(); // the selection rule enables Copy
    w.Kopieren1->trigger();
    QApplication::processEvents();
    w.CursorTimerTimer();
    EXPECT_TRUE(w.Plakken1->isEnabled());
    EXPECT_TRUE(w.Plakken2->isEnabled());
}

TEST_F(MainWindowEditing, OpeningTheEditMenuStopsTheCaretTimerAndAClickStartsIt)
{
    auto& w = start();
    ASSERT_TRUE(w.CursorTimer->isActive());
    emit w.Bewerken1->aboutToShow();
    EXPECT_FALSE(w.CursorTimer->isActive());
    QTest::mouseClick(w.Memo->viewport(), Qt::LeftButton);
    EXPECT_TRUE(w.CursorTimer->isActive());
}

TEST_F(MainWindowEditing, TheCaretTimerRestsUntilAChangeAndAStoppedTimerStaysStopped)
{
    auto& w = start();
    activate(w);
    w.Memo->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.CursorTimer->isTicking(); }, 5000));
    EXPECT_TRUE(w.CursorTimer->isActive()); // resting, still started
    QTest::keyClick(w.Memo, Qt::Key_A);
    EXPECT_TRUE(w.CursorTimer->isTicking());
    // The woken timer corrects the position the key press wrote and enables Send.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.panel(3) == QStringLiteral("Col: 1") && w.Verzenden1->isEnabled() && !w.CursorTimer->isTicking(); },
        5000));
    emit w.Bewerken1->aboutToShow();
    QTest::keyClick(w.Memo, Qt::Key_B);
    EXPECT_FALSE(w.CursorTimer->isTicking());
    EXPECT_EQ(w.panel(3), QStringLiteral("Col: 1"));
}

TEST_F(MainWindowEditing, TypingEnablesSaveAsAndMarksTheMemoChanged)
{
    auto& w = start();
    activate(w);
    w.Memo->setFocus();
    w.CursorTimerTimer();
    ASSERT_FALSE(w.Opslaan1->isEnabled());
    QTest::keyClick(w.Memo, Qt::Key_A);
    EXPECT_TRUE(w.Opslaan1->isEnabled());
    EXPECT_EQ(w.panel(1), QStringLiteral("File changed(Save)."));
    EXPECT_EQ(w.Memo->text(), "a");
}

TEST_F(MainWindowEditing, NewEmptiesTheMemoNowAndAgain100msLater)
{
    auto& w = start();
    w.Memo->setText("old text\r\nmore");
    w.setMemoModified(false); // as opened: nothing unsaved
    w.setWindowTitle("Tarnquill - memo.crp");
    w.Opslaan1->setEnabled(true);
    w.AbortRequested = false;
    answerYes = false;
    w.Leegmaken1->trigger();
    EXPECT_EQ(w.Memo->textLength(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill"));
    EXPECT_FALSE(w.Opslaan1->isEnabled());
    EXPECT_EQ(w.panel(1), QStringLiteral("New file."));
    EXPECT_EQ(w.panel(2), QStringLiteral("Line: 0"));
    EXPECT_EQ(w.panel(3), QStringLiteral("Col: 0"));
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_EQ(questions, 0); // nothing unsaved, nothing asked
    EXPECT_TRUE(w.delayedClear->isActive());
    EXPECT_TRUE(w.delayedClear->isSingleShot());
    EXPECT_EQ(w.delayedClear->interval(), 100);

    // A stopping command writes its text back: the delayed clear removes it.
    w.Memo->setText("restored by a stopping command");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Memo->textLength() == 0; }, 5000));
    EXPECT_FALSE(w.delayedClear->isActive());
    // ...once: text typed afterwards stays.
    w.Memo->setText("typed later");
    QApplication::processEvents();
    EXPECT_EQ(w.Memo->text(), "typed later");
}

TEST_F(MainWindowEditing, NewImageAlsoFocusesTheMemo)
{
    auto& w = start();
    activate(w);
    w.txtZoekWoord->setFocus();
    w.Memo->setText("x");
    answerYes = true; // discard it
    QTest::mouseClick(w.imgBtnLeegmaken, Qt::LeftButton);
    EXPECT_EQ(w.Memo->textLength(), 0);
    EXPECT_TRUE(w.Memo->hasFocus());
    EXPECT_TRUE(w.CursorTimer->isActive());
}

TEST_F(MainWindowEditing, SearchSelectsTheMatchAtTheOffsetWithTwoCharacterBreaks)
{
    auto& w = start();
    const std::string line0 = "first line here";
    const std::string line1 = "second";
    w.Memo->setText(line0 + "\r\n" + line1 + "\r\nxxABCxx\r\nlast abc");
    w.Memo->setSelection(0, 0);
    w.txtZoekWoord->setText("abc");
    w.imgBtnZoekenClick();
    EXPECT_EQ(w.Memo->selStart(), static_cast<int>(line0.size() + line1.size() + 4 + 2));
    EXPECT_EQ(w.Memo->selLength(), 3);
    EXPECT_EQ(w.Memo->selectedText(), "ABC");

    // Again with the caret on that line: the same match.
    w.imgBtnZoekenClick();
    EXPECT_EQ(w.Memo->selectedText(), "ABC");
    EXPECT_EQ(w.Memo->caretLine(), 2);

    // Enter in the search box searches too; from the last line the last match.
    w.Memo->setSelection(w.Memo->lineStart(3), 0);
    QTest::keyClick(w.txtZoekWoord, Qt::Key_Return);
    EXPECT_EQ(w.Memo->selStart(), w.Memo->lineStart(3) + 5);

    // Nothing more below: the selection stays, no message.
    w.Memo->setText("abc\r\nnothing");
    w.Memo->setSelection(5, 2);
    w.imgBtnZoekenClick();
    EXPECT_EQ(w.Memo->selStart(), 5);
    EXPECT_EQ(w.Memo->selLength(), 2);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowEditing, F3MovesTheFocusToTheSearchBoxOnlyWhenItIsShown)
{
    auto& w = start();
    w.resize(800, 500);
    activate(w);
    w.Memo->setFocus();
    QTest::keyClick(w.Memo, Qt::Key_F3);
    EXPECT_TRUE(w.txtZoekWoord->hasFocus());
    QTest::keyClick(w.txtZoekWoord, Qt::Key_Escape);
    EXPECT_TRUE(w.Memo->hasFocus());
    QTest::keyClick(w.Memo, Qt::Key_F3);
    QTest::keyClick(w.txtZoekWoord, Qt::Key_F3);
    EXPECT_TRUE(w.Memo->hasFocus());

    w.resize(674, 500);
    QApplication::processEvents();
    w.Memo->setFocus();
    QTest::keyClick(w.Memo, Qt::Key_F3);
    EXPECT_TRUE(w.Memo->hasFocus());
}

TEST_F(MainWindowEditing, ClickIntoTheSearchBoxSelectsItsText)
{
    auto& w = start();
    activate(w);
    QTest::mouseClick(w.txtZoekWoord, Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.txtZoekWoord->selectedText() == QStringLiteral("Search"); }, 5000));
    QTest::keyClicks(w.txtZoekWoord, "word");
    EXPECT_EQ(w.txtZoekWoord->text(), QStringLiteral("word"));
}

TEST_F(MainWindowEditing, EditCommandsWorkFromBothMenus)
{
    auto& w = start();
    // Each step is followed by a caret-timer tick, which applies the enabling rules.
    auto tick = [&] { w.CursorTimerTimer(); };
    w.Memo->setText("hello world");
    w.Memo->setSelection(0, 6);
    tick();
    w.Knippen1->trigger();
    EXPECT_EQ(w.Memo->text(), "world");
    w.Ongedaanmaken2->trigger();
    EXPECT_EQ(w.Memo->text(), "hello world");
    w.Allesselecteren2->trigger();
    EXPECT_EQ(w.Memo->selLength(), 11);
    tick();
    w.Kopieren2->trigger();
    w.Memo->setSelection(11, 0);
    tick();
    EXPECT_FALSE(w.Kopieren1->isEnabled());
    w.Plakken1->trigger();
    EXPECT_EQ(w.Memo->text(), "hello worldhello world");
    w.Memo->setSelection(0, 5);
    tick();
    w.Verwijderen2->trigger();
    EXPECT_EQ(w.Memo->text(), " worldhello world");
    w.Allesselecteren1->trigger();
    tick();
    w.Verwijderen1->trigger();
    EXPECT_EQ(w.Memo->textLength(), 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowEditing, EveryByteValueSurvivesTheMemo)
{
    auto& w = start();
    std::string all;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            all.push_back(static_cast<char>(c));
        }
    }
    all += "\r\n";
    all += all;
    w.Memo->setText(all);
    EXPECT_EQ(w.Memo->text(), all);
    w.Allesselecteren1->trigger();
    w.CursorTimerTimer();
    w.Kopieren1->trigger();
    w.Memo->clear();
    w.CursorTimerTimer();
    w.Plakken1->trigger();
    EXPECT_EQ(w.Memo->text(), all);
}

TEST_F(MainWindowEditing, PrintingThreeCopiesToPdfPrintsTheMemoThreeTimes)
{
    auto& w = start();
    std::vector<std::string> lines;
    for (int i = 0; i < 70; ++i) {
        lines.push_back("memo line " + std::to_string(i));
    }
    std::string text;
    for (const auto& l : lines) {
        text += l + "\r\n";
    }
    w.Memo->setText(text);
    w.setWindowTitle(QStringLiteral("Tarnquill - print"));
    const QString pdf = dir.filePath("print.pdf");
    QString docName;
    tq::setPrintDialogHandler([&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setCopyCount(3);
        return true;
    });
    w.Afdrukken1->trigger();
    ASSERT_TRUE(errors.empty()) << errors[0].toStdString();

    // The same job printed by hand: one copy and three copies.
    QPrinter reference(QPrinter::HighResolution);
    reference.setOutputFormat(QPrinter::PdfFormat);
    reference.setOutputFileName(dir.filePath("one.pdf"));
    std::vector<QString> rows;
    const int onePage = tq::printPlainText(reference, lines, 1);
    QPrinter reference3(QPrinter::HighResolution);
    reference3.setOutputFormat(QPrinter::PdfFormat);
    reference3.setOutputFileName(dir.filePath("three.pdf"));
    const int threePages =
        tq::printPlainText(reference3, lines, 3, [&](int, double, const QString& row) { rows.push_back(row); });
    ASSERT_EQ(rows.size(), 3 * lines.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].toStdString(), lines[i % lines.size()]);
    }
    EXPECT_GT(threePages, onePage);

    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_TRUE(content.startsWith("%PDF"));
    EXPECT_EQ(content.count("/Type /Page\n"), threePages);
}

TEST_F(MainWindowEditing, CancelledPrintDialogPrintsNothing)
{
    auto& w = start();
    w.Memo->setText("x");
    const QString pdf = dir.filePath("never.pdf");
    tq::setPrintDialogHandler([&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return false;
    });
    w.Afdrukken1->trigger();
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_TRUE(errors.empty());
}

TEST_F(MainWindowEditing, APrinterErrorIsShownAndLeavesTheWindowIdle)
{
    auto& w = start();
    w.Memo->setText("x");
    tq::setPrintDialogHandler([&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("no/such/folder/out.pdf"));
        return true;
    });
    w.Afdrukken1->trigger();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("Cannot print")));
    EXPECT_TRUE(w.ControlsEnabled);
}

} // namespace
} // namespace tqtest
