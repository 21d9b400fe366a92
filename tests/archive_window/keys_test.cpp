// The archive key dialog: masked keys in 0..255, key files, Ok and Annuleren.
#include "tests/archive_window/fixture.h"

#include "archive/archive_ops.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTest>

namespace tqtest {

TEST_F(ArchiveWindowTest, KeyDialogStartsWithTheDefaultKeysMasked)
{
    EXPECT_EQ(keys->windowTitle(), QStringLiteral("Compressie sleutel"));
    EXPECT_EQ(keys->key1(), tq::kDefaultArchiveKey1);
    EXPECT_EQ(keys->key2(), tq::kDefaultArchiveKey2);
    EXPECT_EQ(keys->edtKey1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(keys->edtKey2->echoMode(), QLineEdit::Password);
    EXPECT_EQ(keys->edtKey1->text(), QString::number(tq::kDefaultArchiveKey1));
}

TEST_F(ArchiveWindowTest, KeysStayWithinTheirRangeWithoutWrapping)
{
    keys->UpDownSleutel1->setValue(255);
    keys->UpDownSleutel1->stepUp();
    EXPECT_EQ(keys->key1(), 255);
    keys->UpDownSleutel2->setValue(0);
    keys->UpDownSleutel2->stepDown();
    EXPECT_EQ(keys->key2(), 0);

    // A typed number becomes the key; a number out of range does not.
    keys->show();
    keys->edtKey1->selectAll();
    QTest::keyClicks(keys->edtKey1, QStringLiteral("42"));
    EXPECT_EQ(keys->key1(), 42);
    keys->edtKey1->selectAll();
    QTest::keyClicks(keys->edtKey1, QStringLiteral("999"));
    keys->UpDownSleutel1->interpretText();
    EXPECT_GE(keys->key1(), 0);
    EXPECT_LE(keys->key1(), 255);
    keys->hide();
}

TEST_F(ArchiveWindowTest, SaveKeysWritesTwoOneLineFiles)
{
    keys->UpDownSleutel1->setValue(7);
    keys->UpDownSleutel2->setValue(255);
    answerFiles({path("k.ky1")});
    answerFiles({path("k.ky2")});
    makeFile("k.ky2", "old content that is replaced");
    keys->SaveKeysClick();
    EXPECT_EQ(readAll(path("k.ky1")), QByteArray("7\r\n"));
    EXPECT_EQ(readAll(path("k.ky2")), QByteArray("255\r\n"));
    ASSERT_EQ(fileRequests.size(), 2u);
    for (int k = 1; k <= 2; ++k) {
        const tq::FileRequest& r = fileRequests[static_cast<std::size_t>(k - 1)];
        EXPECT_EQ(r.kind, tq::FileRequest::Kind::Save);
        EXPECT_EQ(r.title, QStringLiteral("Sleutels opslaan..."));
        EXPECT_EQ(r.filter, QStringLiteral("*.ky") + QString::number(k));
        EXPECT_EQ(r.fileName, QStringLiteral("*.ky") + QString::number(k));
        EXPECT_EQ(r.defaultSuffix, QStringLiteral("ky") + QString::number(k));
        EXPECT_FALSE(r.confirmOverwrite);
    }

    // Cancelling the second dialog leaves only the key-1 file written.
    answerFiles({path("only.ky1")});
    answerFiles({});
    keys->SaveKeysClick();
    EXPECT_EQ(readAll(path("only.ky1")), QByteArray("7\r\n"));
    EXPECT_FALSE(QFile::exists(path("only.ky2")));
    EXPECT_TRUE(errors.empty());
}

TEST_F(ArchiveWindowTest, LoadKeysReadsTheFirstLineOfEachFile)
{
    makeFile("a.ky1", "12\r\nignored\r\n");
    makeFile("a.ky2", "200\r\n");
    answerFiles({path("a.ky1")});
    answerFiles({path("a.ky2")});
    keys->LoadKeysClick();
    EXPECT_EQ(keys->key1(), 12);
    EXPECT_EQ(keys->key2(), 200);
    ASSERT_EQ(fileRequests.size(), 2u);
    EXPECT_EQ(fileRequests[0].title, QStringLiteral("Sleutels openen..."));
    EXPECT_EQ(fileRequests[1].filter, QStringLiteral("*.ky2"));

    // Key 1 loaded, then the second dialog cancelled: key 1 changes, key 2 stays.
    makeFile("b.ky1", "99\n");
    answerFiles({path("b.ky1")});
    answerFiles({});
    keys->LoadKeysClick();
    EXPECT_EQ(keys->key1(), 99);
    EXPECT_EQ(keys->key2(), 200);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ArchiveWindowTest, BadKeyFilesAreRefusedAndTheKeysKept)
{
    keys->UpDownSleutel1->setValue(1);
    keys->UpDownSleutel2->setValue(2);
    for (const QByteArray& content : {QByteArray("300\r\n"), QByteArray("abc\r\n"), QByteArray(""),
                                      QByteArray("-1\r\n")}) {
        makeFile("good.ky1", "50\r\n");
        makeFile("bad.ky2", content);
        answerFiles({path("good.ky1")});
        answerFiles({path("bad.ky2")});
        const std::size_t before = errors.size();
        // The button runs the command inside the error guard.
        keys->btnLoadKeys->click();
        ASSERT_EQ(errors.size(), before + 1) << content.toStdString();
        EXPECT_TRUE(errors.back().contains(QStringLiteral("bad.ky2"))) << errors.back().toStdString();
        EXPECT_EQ(keys->key1(), 1);
        EXPECT_EQ(keys->key2(), 2);
    }
    answerFiles({path("missing.ky1")});
    keys->btnLoadKeys->click();
    EXPECT_TRUE(errors.back().contains(QStringLiteral("missing.ky1")));
    EXPECT_EQ(keys->key1(), 1);
}

TEST_F(ArchiveWindowTest, OkAndAnnulerenOnlyHide)
{
    keys->show();
    keys->UpDownSleutel1->setValue(33);
    keys->btnAnnuleren->click();
    EXPECT_FALSE(keys->isVisible());
    EXPECT_EQ(keys->key1(), 33) << "Annuleren keeps a changed key";
    keys->show();
    keys->UpDownSleutel2->setValue(44);
    keys->btnOk->click();
    EXPECT_FALSE(keys->isVisible());
    EXPECT_EQ(keys->key2(), 44);

    // The archive window's Keys and Settings buttons show their dialogs without blocking.
    window->btnKeys->click();
    EXPECT_TRUE(keys->isVisible());
    keys->hide();
    window->btnInstellingen->click();
    EXPECT_TRUE(niveau->isVisible());
    niveau->hide();
}

} // namespace tqtest
