// Sealed archives in the archive window: saved sealed through the real
// passphrase dialog, opened again (Open and the command line's ReadFile), saved
// again sealed without a question; wrong passphrases and damage change nothing.
#include "tests/archive_window/fixture.h"

#include "archive/sealed_archive.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <string>

namespace tqtest {
namespace {

class SealedArchiveWindow : public ArchiveWindowTest {
protected:
    void SetUp() override
    {
        ArchiveWindowTest::SetUp();
        timeLimitOff();
        // Cheap derivations: the tests derive many keys.
        window->SealParams = tq::sealed::Params{1, 1024};
        answerPassphrases();
    }
    // Passphrase questions answered from `passphrases` (instead of the real dialog).
    void answerPassphrases()
    {
        tq::prompts::setPassphraseHandler(
            [this](QWidget*, const tq::prompts::PassphraseRequest& request, tq::sealed::SecretBytes& out) {
                asked.push_back(request);
                if (passphrases.empty()) {
                    ADD_FAILURE() << "unexpected passphrase question " << request.title.toStdString();
                    return false;
                }
                out = tq::sealed::SecretBytes::copyOf(passphrases.front());
                passphrases.pop_front();
                return true;
            });
    }
    void TearDown() override
    {
        tq::prompts::setPassphraseHandler({});
        EXPECT_TRUE(passphrases.empty()) << "passphrase answers left over";
        ArchiveWindowTest::TearDown();
    }

    std::deque<std::string> passphrases;
    std::vector<tq::prompts::PassphraseRequest> asked;
};

const char* const kPass = "zeven zoute zeeslakken";

TEST_F(SealedArchiveWindow, RoundTripHidesTheNamesAndSavingAgainKeepsItSealedWithoutAQuestion)
{
    const QByteArray notes = textBytes(30001, 1); // compressed, odd size
    const QByteArray photo = noiseBytes(200000, 2); // stored large
    const QByteArray tiny = QByteArrayLiteral("klein");
    makeFile(QStringLiteral("in/Geheimmap/notulen.txt"), notes);
    makeFile(QStringLiteral("in/Geheimmap/diep/vakantiefoto.raw"), photo);
    makeFile(QStringLiteral("in/Geheimmap/diep/pincode.ini"), tiny);
    addFolder(path(QStringLiteral("in/Geheimmap")));
    const std::vector<std::string> names = window->nodeNames();
    ASSERT_EQ(names.size(), 3u);

    // Verzegeld opslaan through the real dialog, typed twice.
    tq::prompts::setPassphraseHandler({});
    std::string seen;
    QTimer typist;
    typist.setInterval(20);
    QObject::connect(&typist, &QTimer::timeout, [&seen, &typist] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return; // not shown yet
        }
        typist.stop();
        seen = dialog->windowTitle().toStdString();
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphrase")), QString::fromUtf8(kPass));
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("edtPassphraseAgain")),
                         QString::fromUtf8(kPass));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    typist.start();
    answerFiles({path(QStringLiteral("geheim.tqs"))});
    window->btnVerzegeldOpslaanClick();
    answerPassphrases();
    EXPECT_EQ(seen, "Verzegeld opslaan");
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    EXPECT_TRUE(window->sealedArchive());
    EXPECT_TRUE(window->Saved);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - geheim.tqs"));
    const QByteArray sealedFile = readAll(path(QStringLiteral("geheim.tqs")));
    EXPECT_TRUE(sealedFile.startsWith("\x89TQSEAL\n"));
    for (const char* part : {"Geheimmap", "notulen", "vakantiefoto", "pincode", "diep\\", "klein", "archive "}) {
        EXPECT_FALSE(sealedFile.contains(part)) << part << " is readable in the sealed file";
    }
    EXPECT_EQ(filesBelow(dir.path()).size(), 4u) << "no other file was written";

    // Opened in a fresh window (Open), then from the command line (ReadFile):
    // the passphrase is asked, every entry and every byte is back.
    window->btnNieuwClick();
    EXPECT_FALSE(window->sealedArchive());
    passphrases = {kPass};
    open(path(QStringLiteral("geheim.tqs")));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].title, QStringLiteral("Verzegeld archief openen"));
    EXPECT_FALSE(asked[0].confirm);
    EXPECT_EQ(window->nodeNames(), names);
    EXPECT_TRUE(window->sealedArchive());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - geheim.tqs"));
    passphrases = {kPass};
    window->ReadFile(path(QStringLiteral("geheim.tqs")));
    EXPECT_EQ(window->nodeNames(), names);
    extractTo(path(QStringLiteral("out")));
    EXPECT_EQ(readAll(path(QStringLiteral("out/Geheimmap/notulen.txt"))), notes);
    EXPECT_EQ(readAll(path(QStringLiteral("out/Geheimmap/diep/vakantiefoto.raw"))), photo);
    EXPECT_EQ(readAll(path(QStringLiteral("out/Geheimmap/diep/pincode.ini"))), tiny);

    // Changed and saved again: sealed with the held key, no question; it opens
    // with the passphrase (here through the engine the command line uses).
    window->selectNodes({"Geheimmap\\diep\\pincode.ini"});
    window->btnVerwijderenClick();
    const std::size_t questions = asked.size();
    saveAs(path(QStringLiteral("opnieuw.tqs")));
    EXPECT_EQ(asked.size(), questions);
    EXPECT_EQ(fileRequests.back().filter, QStringLiteral("Verzegelde archieven|*.tqs"));
    const QByteArray again = readAll(path(QStringLiteral("opnieuw.tqs")));
    EXPECT_TRUE(again.startsWith("\x89TQSEAL\n"));
    EXPECT_FALSE(again.contains("Geheimmap"));
    tq::XFileFrame reread;
    ASSERT_TRUE(tq::sealed_archive::Open(reread, path(QStringLiteral("opnieuw.tqs")).toStdString(),
                                         tq::sealed::SecretBytes::copyOf(kPass)));
    EXPECT_EQ(reread.Names(),
              (std::vector<std::string>{"Geheimmap\\notulen.txt", "Geheimmap\\diep\\vakantiefoto.raw"}));
}

TEST_F(SealedArchiveWindow, WrongPassphraseDamageOrASealedMemoChangeNothing)
{
    makeFile(QStringLiteral("in/brief.txt"), textBytes(5000, 3));
    addFiles({path(QStringLiteral("in/brief.txt"))});
    passphrases = {kPass, kPass};
    answerFiles({path(QStringLiteral("a.tqs"))});
    window->btnVerzegeldOpslaanClick();
    ASSERT_TRUE(window->sealedArchive());
    QByteArray damaged = readAll(path(QStringLiteral("a.tqs")));
    damaged[damaged.size() - 5] = static_cast<char>(damaged[damaged.size() - 5] ^ 0x01);
    makeFile(QStringLiteral("damaged.tqs"), damaged);
    {
        const auto memoKey = tq::sealed::DeriveKey(tq::sealed::SecretBytes::copyOf(kPass), {1, 8});
        makeFile(QStringLiteral("memo.tqs"),
                 QByteArray::fromStdString(*tq::sealed::SealWithKey("a memo", *memoKey)));
    }
    makeFile(QStringLiteral("in/ander.txt"), QByteArrayLiteral("ander"));
    const std::vector<std::string> before = window->nodeNames();
    const std::vector<std::string> filesBefore = filesBelow(dir.path());

    struct Case {
        const char* file;
        const char* passphrase;
        const char* error;
    };
    for (const Case& c : {Case{"a.tqs", "zeven zoute zeeslakkem", "Wrong passphrase, or the file is damaged."},
                          Case{"damaged.tqs", kPass, "Wrong passphrase, or the file is damaged."},
                          Case{"memo.tqs", nullptr, "holds a sealed memo, not an archive"}}) {
        SCOPED_TRACE(c.file);
        errors.clear();
        if (c.passphrase != nullptr) {
            passphrases = {c.passphrase};
        }
        open(path(QString::fromLatin1(c.file)));
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].contains(QString::fromLatin1(c.error))) << errors[0].toStdString();
        EXPECT_EQ(window->nodeNames(), before);
        EXPECT_TRUE(window->sealedArchive());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - a.tqs"));
        EXPECT_TRUE(window->Idle);
        EXPECT_FALSE(window->ProgressVisible);
        EXPECT_EQ(filesBelow(dir.path()), filesBefore);
    }
    // A plain archive opened after a sealed one is saved in the clear again.
    window->btnNieuwClick();
    addFiles({path(QStringLiteral("in/ander.txt"))});
    saveAs(path(QStringLiteral("plain.X")));
    open(path(QStringLiteral("plain.X")));
    EXPECT_FALSE(window->sealedArchive());
    saveAs(path(QStringLiteral("plain2.X")));
    EXPECT_EQ(readAll(path(QStringLiteral("plain2.X"))), readAll(path(QStringLiteral("plain.X"))));
}

} // namespace
} // namespace tqtest
