// Key files of the main window and the key dialog.
#include "tests/encryption/encryption_fixture.h"

#include "compress/compress.h"
#include "crypto/crpfile.h"
#include "crypto/linecipher.h"
#include "app/keys/sleutel_window.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <functional>

namespace tqtest {
namespace {

class KeyFiles : public EncryptionTest {
protected:
    void saveKeys(tq::TfrmMemo& w) { w.runCommand([&w] { w.imgCodeOpslaanClick(); }); }
    void openKeys(tq::TfrmMemo& w) { w.runCommand([&w] { w.imgCodeOpenenClick(); }); }
    void expectWorking(const tq::TfrmMemo& w, int k1, int k2, int k3, int k4)
    {
        EXPECT_EQ(w.WorkingKeys.key1, k1);
        EXPECT_EQ(w.WorkingKeys.key2, k2);
        EXPECT_EQ(w.WorkingKeys.key3, k3);
        EXPECT_EQ(w.WorkingKeys.key4, k4);
    }
    QString keyPath(int n) { return dir.filePath(QStringLiteral("set.ky%1").arg(n)); }
};

TEST_F(KeyFiles, SaveKeysWritesEachFieldPlusCrLf)
{
    auto& w = window();
    setKeys(w, 12, 21, 200, 7);
    for (int n = 1; n <= 4; ++n) {
        dialogAnswers.push_back(keyPath(n));
    }
    saveKeys(w);
    EXPECT_EQ(readBytes(keyPath(1)), "12\r\n");
    EXPECT_EQ(readBytes(keyPath(2)), "21\r\n");
    EXPECT_EQ(readBytes(keyPath(3)), "200\r\n");
    EXPECT_EQ(readBytes(keyPath(4)), "7\r\n");
    EXPECT_EQ(w.panel(0), QStringLiteral("Keys saved."));
    ASSERT_EQ(dialogRequests.size(), 4u);
    for (int n = 1; n <= 4; ++n) {
        const tq::FileRequest& r = dialogRequests[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(r.kind, tq::FileRequest::Kind::Save);
        EXPECT_EQ(r.title, QStringLiteral("Save keys..."));
        EXPECT_EQ(r.filter, QStringLiteral("*.ky%1").arg(n));
        EXPECT_EQ(r.fileName, QStringLiteral("*.ky%1").arg(n));
        EXPECT_EQ(r.defaultSuffix, QStringLiteral("ky%1").arg(n));
        EXPECT_EQ(r.folder, dir.path());
    }
}

TEST_F(KeyFiles, CancellingTheThirdSaveDialogLeavesTwoFilesAndAnEmptyStatus)
{
    auto& w = window();
    w.setPanel(0, QStringLiteral("before"));
    dialogAnswers = {keyPath(1), keyPath(2), QString()};
    saveKeys(w);
    EXPECT_TRUE(QFile::exists(keyPath(1)));
    EXPECT_TRUE(QFile::exists(keyPath(2)));
    EXPECT_FALSE(QFile::exists(keyPath(3)));
    EXPECT_EQ(dialogRequests.size(), 3u);
    EXPECT_EQ(w.panel(0), QString());
}

TEST_F(KeyFiles, OpenKeysSetsTheWorkingSetAndTheFields)
{
    auto& w = window();
    const char* values[] = {"33\r\n", "8\r\n", "101\r\nignored\r\n", "4"};
    for (int n = 1; n <= 4; ++n) {
        writeBytes(keyPath(n), values[n - 1]);
        dialogAnswers.push_back(keyPath(n));
    }
    openKeys(w);
    expectWorking(w, 33, 8, 101, 4);
    EXPECT_EQ(w.CodeKey1->text(), QStringLiteral("33"));
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("101"));
    EXPECT_EQ(w.Scale4->value(), 4);
    EXPECT_EQ(w.panel(0), QStringLiteral("Keys opened."));
    EXPECT_EQ(dialogRequests.back().title, QStringLiteral("Open keys..."));
    EXPECT_EQ(dialogRequests.back().filter, QStringLiteral("*.ky4"));
    EXPECT_TRUE(errors.empty());
}

TEST_F(KeyFiles, CancelAtTheSecondDialogAppliesTheFirstAndKeepsTheRest)
{
    auto& w = window();
    setKeys(w, 20, 9, 30, 2);
    writeBytes(keyPath(1), "40\r\n");
    dialogAnswers = {keyPath(1), QString()};
    openKeys(w);
    expectWorking(w, 40, 9, 30, 2);
    EXPECT_EQ(w.CodeKey1->text(), QStringLiteral("40"));
    EXPECT_EQ(w.codeKey2->text(), QStringLiteral("9"));
    EXPECT_EQ(w.panel(0), QString());
}

TEST_F(KeyFiles, ValueAboveTheRangeSetsTheBoundWhileTheFieldShowsTheNumber)
{
    auto& w = window();
    const char* values[] = {"5", "7", "300", "1"};
    for (int n = 1; n <= 4; ++n) {
        writeBytes(keyPath(n), values[n - 1]);
        dialogAnswers.push_back(keyPath(n));
    }
    openKeys(w);
    EXPECT_EQ(w.Scale3->value(), 254);
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("300"));
    EXPECT_EQ(w.WorkingKeys.key3, 254);
}

TEST_F(KeyFiles, KeyFileThatIsNotANumberEndsTheCommandWithAMessage)
{
    auto& w = window();
    writeBytes(keyPath(1), "50\r\n");
    writeBytes(keyPath(2), "ten\r\n");
    dialogAnswers = {keyPath(1), keyPath(2), QString()};
    openKeys(w);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().contains(QStringLiteral("ten")));
    EXPECT_EQ(w.WorkingKeys.key1, 50);
    EXPECT_EQ(w.CodeKey1->text(), QStringLiteral("5"));
    EXPECT_TRUE(w.ControlsEnabled);
}

TEST_F(KeyFiles, SavedKeysOpenIntoTheSameWorkingSet)
{
    auto& w = window();
    setKeys(w, 66, 19, 141, 3);
    for (int n = 1; n <= 4; ++n) {
        dialogAnswers.push_back(keyPath(n));
    }
    saveKeys(w);
    setKeys(w, 5, 7, 10, 1);
    for (int n = 1; n <= 4; ++n) {
        dialogAnswers.push_back(keyPath(n));
    }
    openKeys(w);
    expectWorking(w, 66, 19, 141, 3);
}

class KeyDialog : public EncryptionTest {};

TEST_F(KeyDialog, ShowsTheFieldsAndOkAppliesTheBoxesWithoutTouchingTheMemo)
{
    auto& w = window();
    setKeys(w, 30, 12, 50, 2);
    w.Memo->setText("untouched");
    tq::TfrmSleutel& d = program().frmSleutel();
    w.Sleutels1->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(d.isVisible());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Keys"));
    EXPECT_EQ(d.edtSleutel1->text(), QStringLiteral("30"));
    EXPECT_EQ(d.edtSleutel4->text(), QStringLiteral("2"));
    EXPECT_EQ(d.edtSleutel2->echoMode(), QLineEdit::Password);
    d.edtSleutel2->setText(QStringLiteral("25"));
    d.edtSleutel3->setText(QStringLiteral("999"));
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(w.scale2->value(), 25);
    EXPECT_EQ(w.Scale3->value(), 254);
    EXPECT_EQ(w.codeKey3->text(), QStringLiteral("999"));
    EXPECT_EQ(w.WorkingKeys.key2, 25);
    EXPECT_EQ(w.WorkingKeys.key3, 254);
    EXPECT_EQ(w.Memo->text(), "untouched");
}

TEST_F(KeyDialog, CancelOrEscAppliesNothingAndEnterIsOk)
{
    auto& w = window();
    tq::TfrmSleutel& d = program().frmSleutel();
    struct Case {
        const char* how;
        std::function<void()> act;
        int key1After;
    };
    const Case cases[] = {
        {"Cancel clicked", [&] { QTest::mouseClick(d.btnAnnuleren, Qt::LeftButton); }, 5},
        {"Esc in a box", [&] { QTest::keyClick(d.edtSleutel3, Qt::Key_Escape); }, 5},
        {"Enter in a box", [&] { QTest::keyClick(d.edtSleutel4, Qt::Key_Return); }, 99},
        {"Enter on the keypad", [&] { QTest::keyClick(d.edtSleutel1, Qt::Key_Enter); }, 88},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        d.show();
        d.edtSleutel1->setText(QString::number(c.key1After == 5 ? 99 : c.key1After));
        c.act();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(w.Scale1->value(), c.key1After);
    }
}

TEST_F(KeyDialog, BoxThatIsNotANumberStopsAtThatKeyAndTheDialogStays)
{
    auto& w = window();
    tq::TfrmSleutel& d = program().frmSleutel();
    d.show();
    d.edtSleutel1->setText(QStringLiteral("60"));
    d.edtSleutel2->setText(QStringLiteral("abc"));
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(w.Scale1->value(), 60);
    EXPECT_EQ(w.scale2->value(), 7);
}

TEST_F(KeyDialog, OpenKeysFillsTheVisibleDialog)
{
    auto& w = window();
    tq::TfrmSleutel& d = program().frmSleutel();
    d.show();
    const char* values[] = {"15", "16", "17", "18"};
    for (int n = 1; n <= 4; ++n) {
        const QString p = dir.filePath(QStringLiteral("d.ky%1").arg(n));
        writeBytes(p, values[n - 1]);
        dialogAnswers.push_back(p);
    }
    QTest::mouseClick(d.btnOpenen, Qt::LeftButton);
    EXPECT_EQ(d.edtSleutel1->text(), QStringLiteral("15"));
    EXPECT_EQ(d.edtSleutel4->text(), QStringLiteral("18"));
    EXPECT_EQ(w.WorkingKeys.key4, 18);
}

TEST_F(KeyDialog, SaveKeysAppliesTheBoxesFirstAndStaysOpen)
{
    auto& w = window();
    tq::TfrmSleutel& d = program().frmSleutel();
    d.show();
    d.edtSleutel1->setText(QStringLiteral("77"));
    for (int n = 1; n <= 4; ++n) {
        dialogAnswers.push_back(dir.filePath(QStringLiteral("s.ky%1").arg(n)));
    }
    QTest::mouseClick(d.btnOpslaan, Qt::LeftButton);
    EXPECT_EQ(readBytes(dir.filePath(QStringLiteral("s.ky1"))), "77\r\n");
    EXPECT_EQ(w.WorkingKeys.key1, 77);
    EXPECT_TRUE(d.isVisible());
}

class StartWithCrp : public EncryptionTest {
protected:
    QString makeCrp(const std::string& text, int k1, int k2, int k3, int k4)
    {
        const QString path = dir.filePath(QStringLiteral("Start.crp"));
        tq::TCompress engine;
        tq::LineCipher cipher;
        tq::crp::KeySet keys;
        keys.cipher = tq::CipherKeys{static_cast<std::uint8_t>(k1), static_cast<std::uint8_t>(k2),
                                     static_cast<std::uint8_t>(k3)};
        keys.key4 = k4;
        tq::crp::SaveMemo(engine, cipher, text, keys, 2, tq::toFsPath(path));
        return path;
    }
};

TEST_F(StartWithCrp, OkAppliesTheKeysAndOpensTheFileOnce)
{
    const QString path = makeCrp("from the command line\r\n", 44, 9, 120, 2);
    auto& w = window({path});
    tq::TfrmSleutel& d = program().frmSleutel();
    ASSERT_TRUE(d.isVisible());
    EXPECT_EQ(w.Memo->text(), "");
    d.edtSleutel1->setText(QStringLiteral("44"));
    d.edtSleutel2->setText(QStringLiteral("9"));
    d.edtSleutel3->setText(QStringLiteral("120"));
    d.edtSleutel4->setText(QStringLiteral("2"));
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(w.Memo->text(), "from the command line\r\n");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - start.crp"));
    // Later the dialog only edits keys: the memo's new work stays.
    w.Memo->setText("edited since");
    w.Sleutels1->trigger();
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_EQ(w.Memo->text(), "edited since");
}

TEST_F(StartWithCrp, CancelLeavesTheMemoEmpty)
{
    const QString path = makeCrp("secret", 5, 7, 10, 1);
    auto& w = window({path});
    tq::TfrmSleutel& d = program().frmSleutel();
    ASSERT_TRUE(d.isVisible());
    QTest::mouseClick(d.btnAnnuleren, Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(w.Memo->text(), "");
}

} // namespace
} // namespace tqtest
