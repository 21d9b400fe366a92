// The encrypt and decrypt commands of the main window, the working key set and
// the encrypted-text test.
#include "tests/encryption/encryption_fixture.h"

#include "app/prompts.h"
#include "crypto/linecipher.h"

#include <QApplication>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace tqtest {
namespace {

class EncryptCommands : public EncryptionTest {};

std::string bigLines(int count, int length, char first)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            text += "\r\n";
        }
        for (int j = 0; j < length; ++j) {
            text += static_cast<char>(first + (i * 7 + j) % 26);
        }
    }
    return text;
}

TEST_F(EncryptCommands, FieldsShowTheWorkingSetFromTheStart)
{
    auto& w = window();
    const QLineEdit* fields[] = {w.CodeKey1, w.codeKey2, w.codeKey3, w.CodeKey4};
    const int shown[] = {w.WorkingKeys.key1, w.WorkingKeys.key2, w.WorkingKeys.key3, w.WorkingKeys.key4};
    for (int n = 0; n < 4; ++n) {
        EXPECT_EQ(fields[n]->text(), QString::number(shown[n]));
        EXPECT_EQ(w.keyUpDown(n + 1)->value(), shown[n]);
    }
}

TEST_F(EncryptCommands, KeyFieldChangesCopyAllFourUpDownValues)
{
    auto& w = window();
    setKeys(w, 20, 9, 31, 2);
    w.scale2->stepBy(1);
    EXPECT_EQ(w.WorkingKeys.key2, 10);
    w.scale2->stepBy(-1);
    EXPECT_EQ(w.WorkingKeys.key1, 20);
    EXPECT_EQ(w.WorkingKeys.key2, 9);
    EXPECT_EQ(w.WorkingKeys.key3, 31);
    EXPECT_EQ(w.WorkingKeys.key4, 2);
    // Typing: a whole number in range moves the up-down, anything else leaves it.
    w.codeKey3->clear();
    QTest::keyClicks(w.codeKey3, "77");
    EXPECT_EQ(w.Scale3->value(), 77);
    EXPECT_EQ(w.WorkingKeys.key3, 77);
    QTest::keyClicks(w.codeKey3, "7");
    EXPECT_EQ(w.Scale3->value(), 77);
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("777"));
    // Up-downs stop at their bounds.
    w.Scale4->stepBy(5000);
    EXPECT_EQ(w.WorkingKeys.key4, 1000);
}

TEST_F(EncryptCommands, ThreeCharactersWithTheLowestKey4Become48CodesAndComeBack)
{
    auto& w = window();
    setKeys(w, 9, 13, 40, 1);
    w.Memo->setText("abc");
    w.EncryptCommand();
    const std::string cipher = w.Memo->text();
    EXPECT_EQ(cipher.size(), 48u);
    EXPECT_TRUE(tq::IsCipherText(cipher));
    EXPECT_EQ(w.Memo->lineCount(), 1);
    EXPECT_EQ(questions, 0);
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_FALSE(w.ProgressShown);
    EXPECT_EQ(w.LineBackup, (std::vector<std::string>{"abc"}));
    w.DecryptCommand();
    EXPECT_EQ(w.Memo->text(), "abc");
}

TEST_F(EncryptCommands, MultiLineTextEncryptsToOneLineAndComesBackWithItsBreaks)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 2);
    const std::string text = "first line\r\n\r\nthird caf\xE9\r\n";
    w.Memo->setText(text);
    w.EncryptCommand();
    EXPECT_EQ(w.Memo->lineCount(), 1);
    EXPECT_EQ(w.Memo->textLength(), static_cast<int>(text.size()) * 64);
    w.DecryptCommand();
    EXPECT_EQ(w.Memo->text(), text);
}

TEST_F(EncryptCommands, BitsQuestionFromKey4OfThreeAndNoChangesNothing)
{
    auto& w = window();
    w.Memo->setText("plain");
    setKeys(w, 5, 7, 10, 2);
    answerYes = true;
    w.EncryptCommand();
    EXPECT_EQ(questions, 0);
    w.Memo->setText("plain");
    w.Scale4->setValue(3);
    answerYes = false;
    w.EncryptCommand();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(lastQuestion, QStringLiteral("Weet u zeker dat u 96 bits codering wilt gebruiken."));
    EXPECT_EQ(lastQuestionIcon, tq::prompts::Icon::Information);
    EXPECT_EQ(w.Memo->text(), "plain");
    EXPECT_FALSE(w.AbortRequested);
    w.Scale4->setValue(1000);
    w.EncryptCommand();
    EXPECT_EQ(lastQuestion, QStringLiteral("Weet u zeker dat u 32000 bits codering wilt gebruiken."));
    // Decrypting never asks.
    w.DecryptCommand();
    EXPECT_EQ(questions, 2);
}

TEST_F(EncryptCommands, SelectionIsEncryptedOnceWhateverKey4)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 4);
    answerYes = true;
    w.Memo->setText("hello world");
    w.Memo->setSelection(6, 5);
    w.EncryptCommand();
    EXPECT_EQ(questions, 1);
    const std::string text = w.Memo->text();
    ASSERT_EQ(text.size(), 6u + 20u);
    EXPECT_EQ(text.substr(0, 6), "hello ");
    EXPECT_TRUE(tq::IsCipherText(text.substr(6)));
    w.Memo->setSelection(6, 20);
    w.DecryptCommand();
    EXPECT_EQ(w.Memo->text(), "hello world");
}

TEST_F(EncryptCommands, EmptyMemoOrOnlyBreaksAsksNothingAndChangesNothing)
{
    auto& w = window();
    w.Scale4->setValue(5);
    w.EncryptCommand();
    w.Memo->setText("\r\n\r\n");
    w.EncryptCommand();
    w.DecryptCommand();
    EXPECT_EQ(questions, 0);
    EXPECT_EQ(w.Memo->text(), "\r\n\r\n");
    EXPECT_TRUE(w.ControlsEnabled);
}

TEST_F(EncryptCommands, AbortDuringAPassRestoresThreePlainLinesExactly)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 2);
    const std::string text = bigLines(3, 40000, 'a');
    w.Memo->setText(text);
    // The click arrives with the first events the cipher lets through.
    letEventsThrough();
    QTimer::singleShot(0, &w, [&w] { w.btnStopClick(); });
    w.EncryptCommand();
    EXPECT_TRUE(w.AbortRequested);
    EXPECT_EQ(w.Memo->text(), text);
    EXPECT_EQ(w.Memo->lineCount(), 3);
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_FALSE(w.ProgressShown);
}

TEST_F(EncryptCommands, AbortKeepsAccentedLinesAsLines)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 3);
    const std::string text = "caf\xE9\r\nna\xEFve\r\nend\r\n";
    w.Memo->setText(text);
    answerYes = true;
    tq::prompts::setQuestionHandler([&w](QWidget*, const QString&, const QString&, tq::prompts::Icon) {
        w.btnStopClick();
        return true;
    });
    w.EncryptCommand();
    EXPECT_EQ(w.Memo->text(), text);
    EXPECT_EQ(w.Memo->lineCount(), 3);
}

TEST_F(EncryptCommands, AbortWhileDecryptingGivesBackTheLinesItHad)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 1);
    const std::string text = bigLines(2, 200000, 'k') + "\r\n";
    w.Memo->setText(text);
    letEventsThrough();
    QTimer::singleShot(0, &w, [&w] { w.btnStopClick(); });
    w.DecryptCommand();
    EXPECT_EQ(w.Memo->text(), text);
    EXPECT_EQ(w.Memo->lineCount(), 2);
}

TEST_F(EncryptCommands, APassBeyondTheBoundRestoresTheMemoAndShowsWhy)
{
    auto& w = window();
    setKeys(w, 5, 7, 10, 1000);
    answerYes = true;
    w.Memo->setText("abc\r\ndef");
    w.runCommand([&w] { w.EncryptCommand(); });
    EXPECT_EQ(w.Memo->text(), "abc\r\ndef");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(errors.front().isEmpty());
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_FALSE(w.ProgressShown);
}

TEST_F(EncryptCommands, GecodeerdRecognisesCipherTextByItsForm)
{
    auto& w = window();
    w.Memo->setText("plain ascii and spaces");
    EXPECT_FALSE(w.Gecodeerd());
    w.Memo->setText("line one\r\nends in \xE9\r\n");
    EXPECT_FALSE(w.Gecodeerd());
    w.EncryptCommand();
    EXPECT_TRUE(w.Gecodeerd());
    w.Memo->setText(w.Memo->text() + "\r\n");
    EXPECT_TRUE(w.Gecodeerd());
    w.Memo->setText(w.Memo->text() + "x");
    EXPECT_FALSE(w.Gecodeerd());
    EXPECT_FALSE(tq::TfrmMemo::RegelGecodeerd("\xE9\xE9\xE9\xE9"));
}

TEST_F(EncryptCommands, CodeLineMethodsDriveTheBarAndHonourAbort)
{
    auto& w = window();
    const tq::CipherKeys keys{7, 11, 60};
    const std::string cipher = w.CodeLine("Tarnquill", keys);
    EXPECT_EQ(cipher.size(), 36u);
    EXPECT_FALSE(w.ProgressShown);
    EXPECT_EQ(w.DeCodeLine(cipher, keys), "Tarnquill");
    w.AbortRequested = true;
    EXPECT_EQ(w.CodeLine("unchanged", keys), "unchanged");
}

} // namespace
} // namespace tqtest
