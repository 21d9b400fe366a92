// Save as and Open of .crp files in the main window.
#include "tests/encryption/encryption_fixture.h"

#include "app/seams.h"
#include "compress/compress.h"
#include "app/keys/niveau_window.h"
#include "crypto/crpfile.h"
#include "crypto/linecipher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSpinBox>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace tqtest {
namespace {

class CrpWindow : public EncryptionTest {
protected:
    void save(tq::TfrmMemo& w, const QString& path)
    {
        dialogAnswers.push_back(path);
        w.runCommand([&w] { w.imgOpslaanClick(); });
    }
    void open(tq::TfrmMemo& w, const QString& path)
    {
        dialogAnswers.push_back(path);
        w.runCommand([&w] { w.OpenenClick(); });
    }
};

TEST_F(CrpWindow, TypedTextComesBackThroughSaveAndOpenForKey4OneToFour)
{
    auto& w = window();
    const std::string texts[] = {"Meet me at noon.\r\nBring the map.", "Meet me at noon.\r\nBring the map.\r\n"};
    const QString path = dir.filePath("round.crp");
    for (int key4 = 1; key4 <= 4; ++key4) {
        for (const std::string& text : texts) {
            SCOPED_TRACE("key 4 = " + std::to_string(key4) + (text.back() == '\n' ? ", final break" : ""));
            setKeys(w, 11, 17, 99, key4);
            answerYes = true;
            w.Memo->setText(text);
            save(w, path);
            EXPECT_EQ(w.panel(1), QStringLiteral("File saved..."));
            EXPECT_TRUE(tq::IsCipherText(storedText(path)));
            EXPECT_EQ(readBytes(path).substr(readBytes(path).size() - 3), std::string("\xFF\x00\x20", 3));
            w.NewMemo(false);
            open(w, path);
            EXPECT_EQ(w.Memo->text(), text);
            EXPECT_EQ(w.panel(1), QStringLiteral("File opened."));
            EXPECT_TRUE(w.ControlsEnabled);
            EXPECT_FALSE(w.ProgressShown);
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(CrpWindow, DialogsAskAsDesigned)
{
    auto& w = window();
    w.Memo->setText("abc");
    const QString path = dir.filePath("asked.crp");
    save(w, path);
    open(w, path);
    ASSERT_EQ(dialogRequests.size(), 2u);
    const tq::FileRequest& s = dialogRequests[0];
    EXPECT_EQ(s.kind, tq::FileRequest::Kind::Save);
    EXPECT_EQ(s.title, QStringLiteral("Save encryption file..."));
    EXPECT_EQ(s.filter, QStringLiteral("*.crp"));
    EXPECT_EQ(s.fileName, QStringLiteral("*.crp"));
    EXPECT_EQ(s.defaultSuffix, QStringLiteral("crp"));
    EXPECT_EQ(s.folder, dir.path());
    const tq::FileRequest& o = dialogRequests[1];
    EXPECT_EQ(o.kind, tq::FileRequest::Kind::OpenOne);
    EXPECT_EQ(o.title, QStringLiteral("Open encrypted file..."));
    EXPECT_EQ(o.filter, QStringLiteral("*.crp"));
    EXPECT_EQ(o.folder, dir.path());
    EXPECT_EQ(w.Memo->text(), "abc");
}

TEST_F(CrpWindow, PlainMemoWithAccentIsEncryptedOnSaveAndReopensTheSame)
{
    auto& w = window();
    const std::string text = "R\xE9sum\xE9 for Ren\xE9" "e\r\n";
    w.Memo->setText(text);
    const QString path = dir.filePath("accent.crp");
    save(w, path);
    const std::string stored = storedText(path);
    EXPECT_TRUE(tq::IsCipherText(stored));
    EXPECT_EQ(stored.find("sum"), std::string::npos);
    EXPECT_EQ(stored.size(), text.size() * 16);
    open(w, path);
    EXPECT_EQ(w.Memo->text(), text);
}

TEST_F(CrpWindow, MemoHoldingCipherTextIsStoredWithoutEncryptingAgain)
{
    auto& w = window();
    // Enter pressed after encrypting adds empty lines, which the file never holds.
    for (const std::string breaks : {"", "\r\n", "\r\n\r\n", "\r\n\r\n\r\n"}) {
        SCOPED_TRACE(std::to_string(breaks.size() / 2) + " line breaks after the cipher text");
        w.Memo->setText("keep me");
        w.EncryptCommand();
        const std::string cipher = w.Memo->text();
        w.Memo->setText(cipher + breaks);
        const QString path = dir.filePath("once.crp");
        save(w, path);
        EXPECT_EQ(storedText(path), cipher);
        EXPECT_EQ(w.Memo->text(), cipher);
        w.NewMemo(false);
        open(w, path);
        EXPECT_EQ(w.Memo->text(), "keep me");
    }
}

TEST_F(CrpWindow, NoToTheBitsQuestionStoresThePlainLinesOnlyAfterASecondYes)
{
    auto& w = window();
    w.Scale4->setValue(3);
    for (const bool saveUnencrypted : {false, true}) {
        std::vector<QString> asked;
        tq::prompts::setQuestionHandler([&](QWidget*, const QString&, const QString& text, tq::prompts::Icon) {
            asked.push_back(text);
            return asked.size() == 2 && saveUnencrypted;
        });
        w.Memo->setText("ab\r\ncd\r\n");
        const QString path = dir.filePath(saveUnencrypted ? "plain.crp" : "never.crp");
        if (saveUnencrypted) {
            save(w, path);
        } else {
            // No file dialog may be shown.
            w.runCommand([&w] { w.imgOpslaanClick(); });
        }
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_TRUE(asked[0].contains(QStringLiteral("bits codering")));
        EXPECT_EQ(asked[1], QStringLiteral("Save the memo without encryption?"));
        EXPECT_EQ(QFileInfo::exists(path), saveUnencrypted);
        if (saveUnencrypted) {
            EXPECT_EQ(storedText(path), "abcd");
            EXPECT_EQ(w.panel(1), QStringLiteral("File saved..."));
        }
        EXPECT_TRUE(w.ControlsEnabled);
    }
}

TEST_F(CrpWindow, CaptionsShowTheNameLowerCasedOnOpenAndAsTypedOnSave)
{
    auto& w = window();
    w.Memo->setText("notes");
    save(w, dir.filePath("MyNotes.CRP"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - MyNotes.CRP"));
    ASSERT_TRUE(QFile::copy(dir.filePath("MyNotes.CRP"), dir.filePath("NOTES.CRP")));
    open(w, dir.filePath("NOTES.CRP"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - notes.crp"));
    EXPECT_EQ(w.Memo->text(), "notes");
}

TEST_F(CrpWindow, SaveUsesTheSkipValueOfTheSettingsWindow)
{
    auto& w = window();
    std::string cipher;
    for (int i = 0; i < 400; ++i) {
        cipher += w.CodeLine(std::string(1, static_cast<char>('a' + i % 26)), tq::CipherKeys{5, 7, 10});
    }
    program().niveau().UpDownSkipBytes->setValue(6);
    w.Memo->setText(cipher);
    const QString path = dir.filePath("skip.crp");
    save(w, path);
    tq::TCompress engine;
    const QString skip6 = dir.filePath("skip6.crp");
    const QString skip2 = dir.filePath("skip2.crp");
    tq::crp::SaveLines(engine, {cipher}, 6, tq::toFsPath(skip6));
    tq::crp::SaveLines(engine, {cipher}, 2, tq::toFsPath(skip2));
    ASSERT_NE(readBytes(skip6), readBytes(skip2));
    EXPECT_EQ(readBytes(path), readBytes(skip6));
}

TEST_F(CrpWindow, CancelledSaveDialogWritesNothing)
{
    auto& w = window();
    w.Memo->setText("abc");
    save(w, QString());
    EXPECT_TRUE(QDir(dir.path()).entryList(QStringList{QStringLiteral("*.crp")}).isEmpty());
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_TRUE(tq::IsCipherText(w.Memo->text()));
}

TEST_F(CrpWindow, AbortedEncryptionEndsTheSaveBeforeTheDialog)
{
    auto& w = window();
    w.Scale4->setValue(3);
    tq::prompts::setQuestionHandler([&w](QWidget*, const QString&, const QString&, tq::prompts::Icon) {
        w.btnStopClick();
        return true;
    });
    w.Memo->setText("abc");
    w.runCommand([&w] { w.imgOpslaanClick(); });
    EXPECT_TRUE(dialogRequests.empty());
    EXPECT_EQ(w.Memo->text(), "abc");
    EXPECT_TRUE(w.ControlsEnabled);
}

TEST_F(CrpWindow, AbortDuringCompressionFirstClickStillWritesSecondWritesNothing)
{
    auto& w = window();
    std::string cipher;
    const std::string unit = w.CodeLine("The quick brown fox jumps over the lazy dog. ", tq::CipherKeys{5, 7, 10});
    while (cipher.size() < 2000000) {
        cipher += unit;
    }
    w.Memo->setText(cipher);
    const QString path = dir.filePath("abort.crp");
    writeBytes(path, "old file");
    letEventsThrough();
    QTimer::singleShot(0, &w, [&w] {
        w.btnStopClick();
        w.btnStopClick();
    });
    save(w, path);
    EXPECT_EQ(readBytes(path), "old file");
    EXPECT_EQ(w.panel(1), QStringLiteral("File not saved."));
    EXPECT_TRUE(w.ControlsEnabled);

    int clicks = 0;
    letEventsThrough();
    QTimer::singleShot(0, &w, [&w, &clicks] {
        ++clicks;
        w.btnStopClick();
    });
    save(w, path);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(w.panel(1), QStringLiteral("File saved..."));
    EXPECT_TRUE(storedText(path) == cipher);
    EXPECT_TRUE(errors.empty());
}

TEST_F(CrpWindow, FailedSaveKeepsTheOldFileAndShowsTheError)
{
    auto& w = window();
    const QString folder = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/keep.crp");
    writeBytes(path, "previous");
    ::chmod(folder.toLocal8Bit().constData(), 0555);
    bool immutable = false;
    if (::geteuid() == 0) {
        immutable = std::system(("chattr +i '" + folder.toStdString() + "' 2>/dev/null").c_str()) == 0;
    }
    QFile probe(folder + QStringLiteral("/probe"));
    const bool writable = probe.open(QIODevice::WriteOnly);
    const QString caption = w.windowTitle();
    if (!writable) {
        w.Memo->setText("new text");
        save(w, path);
    }
    if (immutable) {
        std::system(("chattr -i '" + folder.toStdString() + "'").c_str());
    }
    ::chmod(folder.toLocal8Bit().constData(), 0755);
    if (writable) {
        GTEST_SKIP() << "the folder cannot be made read-only here";
    }
    EXPECT_EQ(readBytes(path), "previous");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().contains(QStringLiteral("keep.crp"))) << errors.front().toStdString();
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_FALSE(w.ProgressShown);
    // Nothing claims a file that was never written.
    EXPECT_EQ(w.panel(1), QStringLiteral("File not saved."));
    EXPECT_EQ(w.windowTitle(), caption);
    EXPECT_TRUE(w.memoModified());
}

TEST_F(CrpWindow, FileThatCannotBeOpenedLeavesMemoAndCaption)
{
    auto& w = window();
    w.Memo->setText("my unsaved work");
    const QString before = w.windowTitle();
    w.runCommand([&w, this] { w.OpenTarnFile(dir.filePath("gone.crp")); });
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().contains(QStringLiteral("gone.crp")));
    EXPECT_EQ(w.Memo->text(), "my unsaved work");
    EXPECT_EQ(w.windowTitle(), before);
    EXPECT_TRUE(w.ControlsEnabled);
}

TEST_F(CrpWindow, CancelledOpenDialogChangesNothing)
{
    auto& w = window();
    w.Memo->setText("stays");
    open(w, QString());
    EXPECT_EQ(w.Memo->text(), "stays");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill"));
}

} // namespace
} // namespace tqtest
