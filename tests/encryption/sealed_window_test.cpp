// Sealed files in the main window: File > "Save sealed...", File > Open of a
// sealed file whatever its name, refusals that leave the memo alone, and the
// exchange of sealed files with tarnquill-cli in both directions.
#include "tests/encryption/encryption_fixture.h"

#include "app/passphrase_dialog.h"
#include "app/seams.h"
#include "crypto/sealed.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QFileInfo>
#include <QTimer>

#include <sys/wait.h>

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace tqtest {
namespace {

class SealedWindow : public EncryptionTest {
protected:
    void SetUp() override
    {
        EncryptionTest::SetUp();
        tq::prompts::setPassphraseHandler(
            [this](QWidget*, const tq::prompts::PassphraseRequest& request, tq::sealed::SecretBytes& out) {
                passphraseRequests.push_back(request);
                if (passphraseAnswers.empty()) {
                    ADD_FAILURE() << "unexpected passphrase question " << request.title.toStdString();
                    return false;
                }
                const std::string answer = passphraseAnswers.front();
                passphraseAnswers.pop_front();
                if (answer == kCancel) {
                    return false;
                }
                out = tq::sealed::SecretBytes::copyOf(answer);
                return true;
            });
    }
    void TearDown() override
    {
        tq::prompts::setPassphraseHandler({});
        EncryptionTest::TearDown();
    }

    tq::TfrmMemo& sealedWindow()
    {
        tq::TfrmMemo& w = window();
        w.SealParams = kFast;
        return w;
    }
    void saveSealed(tq::TfrmMemo& w, const QString& path, const std::string& passphrase)
    {
        dialogAnswers.push_back(path);
        passphraseAnswers.push_back(passphrase);
        w.mnuVerzegeldOpslaan->trigger();
    }
    void open(tq::TfrmMemo& w, const QString& path, const std::string& passphrase)
    {
        dialogAnswers.push_back(path);
        passphraseAnswers.push_back(passphrase);
        w.runCommand([&w] { w.OpenenClick(); });
    }

    // Runs tarnquill-cli with `args` (passphrase from a file); returns its exit status.
    int cli(const std::vector<std::string>& args, const std::string& passphrase = "")
    {
        const std::string passFile = dir.filePath("pass.txt").toStdString();
        writeBytes(QString::fromStdString(passFile), passphrase + "\n");
        std::string command = TQ_CLI_PATH;
        for (const std::string& a : args) {
            command += " '" + (a == "PASS" ? passFile : a) + "'";
        }
        command += " </dev/null 2>" + dir.filePath("cli.err").toStdString();
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    static constexpr const char* kCancel = "<cancel>";
    static constexpr tq::sealed::Params kFast{1, 8};
    std::deque<std::string> passphraseAnswers;
    std::vector<tq::prompts::PassphraseRequest> passphraseRequests;
};

// Every code but the line-break codes, then two more lines.
std::string memoOfEveryByte()
{
    std::string text;
    for (int c = 0; c < 256; ++c) {
        if (c != '\r' && c != '\n') {
            text += static_cast<char>(c);
        }
    }
    return text + "\r\nCaf\xE9 \x80\r\nlast line";
}

TEST_F(SealedWindow, MemoSealedInTheWindowOpensWithTheCliAndTheReverse)
{
    auto& w = sealedWindow();
    const std::string memo = memoOfEveryByte();
    w.Memo->setText(memo);
    ASSERT_TRUE(w.Memo->text() == memo);
    const QString path = dir.filePath("memo.tqs");
    saveSealed(w, path, "window pass");
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    ASSERT_EQ(dialogRequests.size(), 1u);
    EXPECT_EQ(dialogRequests[0].kind, tq::FileRequest::Kind::Save);
    EXPECT_EQ(dialogRequests[0].defaultSuffix, QStringLiteral("tqs"));
    ASSERT_EQ(passphraseRequests.size(), 1u);
    EXPECT_TRUE(passphraseRequests[0].confirm);
    EXPECT_EQ(w.panel(1), QStringLiteral("File saved..."));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - memo.tqs"));
    EXPECT_TRUE(w.Memo->text() == memo) << "saving sealed leaves the memo as it is";
    const std::string file = readBytes(path);
    EXPECT_EQ(tq::sealed::StoredParams(file), kFast);

    const QString out = dir.filePath("memo.out");
    ASSERT_EQ(cli({"unseal", "--passphrase-file", "PASS", path.toStdString(), out.toStdString()}, "window pass"), 0);
    EXPECT_TRUE(readBytes(out) == memo);
    EXPECT_EQ(cli({"unseal", "--passphrase-file", "PASS", path.toStdString(), out.toStdString()}, "window pas"), 1);

    // Sealed by the tool under a .crp name: Open goes by the content.
    const QString plain = dir.filePath("plain.txt");
    const std::string cliMemo = "From the command line\r\n\xE9\xE8\r\n";
    writeBytes(plain, cliMemo);
    const QString fromCli = dir.filePath("FromCli.crp");
    ASSERT_EQ(cli({"seal", "--passphrase-file", "PASS", "--weak", "--ops", "1", "--mem", "8", plain.toStdString(),
                   fromCli.toStdString()},
                  "cli pass"),
              0);
    open(w, fromCli, "cli pass");
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(w.Memo->text() == cliMemo);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - fromcli.crp"));
    EXPECT_EQ(w.panel(1), QStringLiteral("File opened."));
    ASSERT_EQ(passphraseRequests.size(), 2u);
    EXPECT_FALSE(passphraseRequests[1].confirm);
    EXPECT_TRUE(w.ControlsEnabled);
    EXPECT_FALSE(w.ProgressShown);

    // The window's own file opens in the window too.
    open(w, path, "window pass");
    EXPECT_TRUE(w.Memo->text() == memo);
}

TEST_F(SealedWindow, WrongPassphraseOrDamagedFileLeavesMemoAndCaptionAsTheyWere)
{
    auto& w = sealedWindow();
    w.Memo->setText("the memo before");
    const QString path = dir.filePath("good.tqs");
    saveSealed(w, path, "right");
    const std::string good = readBytes(path);
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x04;
    struct Case {
        const char* name;
        std::string bytes;
        std::string passphrase;
    };
    const std::vector<Case> cases = {{"wrong passphrase", good, "Right"},
                                     {"changed byte", flipped, "right"},
                                     {"cut short", good.substr(0, good.size() - 1), "right"},
                                     {"byte appended", good + "x", "right"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath("notes.txt");
        writeBytes(file, c.bytes);
        w.setWindowTitle(QStringLiteral("Tarnquill - before.tqs"));
        w.Memo->setText("the memo before");
        w.setMemoModified(false);
        errors.clear();
        open(w, file, c.passphrase);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors.front(), QStringLiteral("Wrong passphrase, or the file is damaged."));
        EXPECT_EQ(w.Memo->text(), "the memo before");
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - before.tqs"));
        EXPECT_TRUE(w.ControlsEnabled);
        EXPECT_FALSE(w.ProgressShown);
    }
}

TEST_F(SealedWindow, CancelledOrEmptyPassphraseWritesAndOpensNothing)
{
    auto& w = sealedWindow();
    w.Memo->setText("memo");
    const QString path = dir.filePath("never.tqs");
    saveSealed(w, path, kCancel);
    saveSealed(w, path, "");
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors.front().contains(QStringLiteral("must not be empty")));

    const QString sealed = dir.filePath("kept.tqs");
    saveSealed(w, sealed, "pw");
    w.Memo->setText("still here");
    open(w, sealed, kCancel);
    EXPECT_EQ(w.Memo->text(), "still here");
    EXPECT_EQ(errors.size(), 1u);
}

// The window keeps handling events while the key is derived: an Abort click made
// during the derivation arrives and stops the save before anything is written.
TEST_F(SealedWindow, AbortDuringTheDerivationKeepsTheOldFile)
{
    auto& w = sealedWindow();
    w.SealParams = tq::sealed::Params{2, 64 * 1024};
    w.Memo->setText("memo");
    const QString path = dir.filePath("old.tqs");
    writeBytes(path, "old file");
    bool clickedWhileBusy = false;
    letEventsThrough();
    QTimer::singleShot(0, &w, [&] {
        clickedWhileBusy = !w.ControlsEnabled && w.ProgressShown;
        w.btnStopClick();
    });
    saveSealed(w, path, "pw");
    EXPECT_TRUE(clickedWhileBusy);
    EXPECT_EQ(readBytes(path), "old file");
    EXPECT_EQ(w.panel(1), QStringLiteral("File not saved."));
    EXPECT_TRUE(w.ControlsEnabled);
}

TEST_F(SealedWindow, CliSealAndUnsealExitCodes)
{
    const std::string in = dir.filePath("in.txt").toStdString();
    writeBytes(QString::fromStdString(in), "x");
    const std::string out = dir.filePath("out.tqs").toStdString();
    struct Case {
        std::vector<std::string> args;
        std::string passphrase;
        int status;
    };
    const std::vector<Case> cases = {
        {{"seal", "--passphrase-file", "PASS", in}, "pw", 2},
        {{"seal", "--passphrase", "pw", in, out}, "pw", 2},
        {{"seal", "--passphrase-file", "PASS", "--ops", "17", in, out}, "pw", 2},
        {{"unseal", "--passphrase-file", "PASS", "--ops", "1", in, out}, "pw", 2},
        {{"seal", "--passphrase-file", dir.filePath("missing").toStdString(), in, out}, "pw", 1},
        {{"seal", "--passphrase-file", "PASS", in, out}, "", 1},
        {{"unseal", "--passphrase-file", "PASS", in, out}, "pw", 1},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        EXPECT_EQ(cli(c.args, c.passphrase), c.status) << line;
        EXPECT_FALSE(QFile::exists(QString::fromStdString(out))) << line;
    }
}

// The real dialog: a new passphrase is accepted only when it is not empty and
// typed the same twice, and the strength hint follows the typing.
TEST_F(SealedWindow, PassphraseDialogRefusesEmptyAndDifferingEntries)
{
    tq::prompts::setPassphraseHandler({});
    auto& w = sealedWindow();
    std::vector<std::string> steps;
    auto answer = [&](bool accept) {
        QTimer::singleShot(0, [&steps, accept] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                steps.push_back("no dialog");
                return;
            }
            auto* first = dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphrase"));
            auto* second = dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphraseAgain"));
            QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            const QLabel* hint = dialog->findChild<QLabel*>(QStringLiteral("lblStrength"));
            auto state = [&] {
                steps.push_back(std::string(ok->isEnabled() ? "ok" : "no") + " " + hint->text().toStdString());
            };
            state();
            first->setText(QStringLiteral("abc"));
            if (second != nullptr) {
                second->setText(QStringLiteral("abd"));
                state();
                second->setText(QStringLiteral("abc"));
            }
            state();
            accept ? dialog->accept() : dialog->reject();
        });
    };
    tq::prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("New");
    ask.confirm = true;
    tq::sealed::SecretBytes pass;
    answer(true);
    ASSERT_TRUE(tq::prompts::askPassphrase(&w, ask, pass));
    EXPECT_EQ(pass.view(), "abc");
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].substr(0, 3), "no ");
    EXPECT_NE(steps[0].find("empty one is not accepted"), std::string::npos) << steps[0];
    EXPECT_EQ(steps[1].substr(0, 3), "no ");
    EXPECT_NE(steps[1].find("differ"), std::string::npos) << steps[1];
    EXPECT_EQ(steps[2].substr(0, 3), "ok ");
    EXPECT_NE(steps[2].find("Strength: weak"), std::string::npos) << steps[2];
    EXPECT_NE(steps[2].find("cannot be recovered"), std::string::npos) << steps[2];

    steps.clear();
    ask.confirm = false;
    answer(false);
    tq::sealed::SecretBytes none;
    EXPECT_FALSE(tq::prompts::askPassphrase(&w, ask, none));
    EXPECT_TRUE(none.empty());
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].substr(0, 3), "no ");
    EXPECT_EQ(steps[1].substr(0, 3), "ok ");
    EXPECT_NE(tq::passphraseStrengthHint(QStringLiteral("correct horse battery staple 42")).indexOf(QStringLiteral("strong")),
              -1);
}

} // namespace
} // namespace tqtest
