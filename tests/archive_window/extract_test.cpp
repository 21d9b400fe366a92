// Extracting from the archive window: which entries, where they go, folders,
// keys, unsafe entry names, and agreement with tarnquill-cli.
#include "tests/archive_window/fixture.h"

#include "archive/archive_ops.h"
#include "archive/xfileframe.h"

#include "app/seams.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace tqtest {
namespace {

using Names = std::vector<std::string>;

struct CliResult {
    int status = -1;
    QString out;
    QString err;
};

CliResult runCli(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(TQ_CLI_PATH), arguments);
    CliResult r;
    if (!process.waitForFinished(-1)) {
        r.err = process.errorString();
        return r;
    }
    r.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

} // namespace

TEST_F(ArchiveWindowTest, ExtractAllOneOrSeveral)
{
    timeLimitOff();
    const QByteArray a = textBytes(3001, 1); // compressed, odd length
    const QByteArray b = noiseBytes(700, 2);
    const QByteArray c = textBytes(160000, 3);
    addFiles({makeFile("in/a.txt", a), makeFile("in/b.bin", b), makeFile("in/c.log", c)});

    // None selected: every entry.
    extractTo(path("all"));
    EXPECT_EQ(filesBelow(path("all")), (Names{"a.txt", "b.bin", "c.log"}));
    EXPECT_EQ(readAll(path("all/a.txt")), a);
    EXPECT_EQ(readAll(path("all/b.bin")), b);
    EXPECT_EQ(readAll(path("all/c.log")), c);
    ASSERT_EQ(pickerCaptions.size(), 1u);
    EXPECT_EQ(pickerCaptions[0], QStringLiteral("Plaatsen in map..."));

    // Exactly one selected: only that one.
    window->selectNodes({"b.bin"});
    extractTo(path("one"));
    EXPECT_EQ(filesBelow(path("one")), (Names{"b.bin"}));
    EXPECT_TRUE(window->TreeView->selectedItems().isEmpty()) << "the selection is cleared";

    // Two selected: those two.
    window->selectNodes({"c.log", "a.txt"});
    extractTo(path("two"));
    EXPECT_EQ(filesBelow(path("two")), (Names{"a.txt", "c.log"}));
    EXPECT_EQ(readAll(path("two/c.log")), c);
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->ProgressVisible);
    EXPECT_TRUE(errors.empty());

    // A cancelled picker extracts nothing.
    answerFolderCancel();
    window->btnDecomprimerenClick();
    EXPECT_TRUE(window->Idle);

    // Double-clicking an empty part of the list runs Extract too.
    window->show();
    QWidget* list = window->TreeView->viewport();
    QDir().mkpath(path("clicked"));
    answerFolder(path("clicked"));
    QTest::mouseDClick(list, Qt::LeftButton, {}, QPoint(10, list->height() - 5));
    EXPECT_EQ(pickerCaptions.size(), 5u);
    EXPECT_EQ(filesBelow(path("clicked")), (Names{"a.txt", "b.bin", "c.log"}));
    window->hide();
}

TEST_F(ArchiveWindowTest, ExtractRecreatesTheFoldersOfTheEntries)
{
    makeFile("data/docs/a.txt", "alpha");
    makeFile("data/docs/sub/b.txt", textBytes(2000, 9));
    addFolder(path("data/docs"));
    // The picker keeps the caption of Add folder when no single node is selected.
    extractTo(path("out"));
    ASSERT_EQ(pickerCaptions.size(), 2u);
    EXPECT_EQ(pickerCaptions[1], QStringLiteral("Map selecteren"));
    EXPECT_EQ(filesBelow(path("out")), (Names{"docs/a.txt", "docs/sub/b.txt"}));
    EXPECT_EQ(readAll(path("out/docs/sub/b.txt")), textBytes(2000, 9));

    // Extracting again replaces the files after a yes.
    makeFile("out/docs/a.txt", "changed on disk");
    window->selectNodes({"docs\\a.txt"});
    replaceAnswer = tq::prompts::Answer::Yes;
    extractTo(path("out"));
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(pickerCaptions.back(), QStringLiteral("Plaatsen in map..."));
    EXPECT_EQ(readAll(path("out/docs/a.txt")), QByteArray("alpha"));
}

TEST_F(ArchiveWindowTest, StoredEntryAfterCompressedOnesHasNoTrailer)
{
    const QByteArray stored = noiseBytes(300, 5);
    addFiles({makeFile("big.txt", textBytes(6000, 4)), makeFile("small.bin", stored)});
    window->selectNodes({"big.txt"});
    extractTo(path("first"));
    window->selectNodes({"small.bin"});
    extractTo(path("second"));
    EXPECT_EQ(readAll(path("second/small.bin")), stored);
}

TEST_F(ArchiveWindowTest, KeysOfTheKeyDialogShiftTheTable)
{
    const QByteArray text = textBytes(8000, 6);
    keys->UpDownSleutel1->setValue(5);
    keys->UpDownSleutel2->setValue(200);
    addFiles({makeFile("a.txt", text)});

    extractTo(path("same"));
    EXPECT_EQ(readAll(path("same/a.txt")), text);

    // Other keys give other bytes, and no error.
    keys->UpDownSleutel1->setValue(6);
    extractTo(path("other"));
    EXPECT_TRUE(QFileInfo::exists(path("other/a.txt")));
    EXPECT_NE(readAll(path("other/a.txt")), text);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ArchiveWindowTest, EntriesThatWouldLeaveTheTargetAreRefusedAndNamed)
{
    // An archive as another program could have written it.
    tq::XFileFrame hostile;
    const auto add = [&](const std::string& name, const std::string& content) {
        hostile.AppendPayload(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
        hostile.AddEntry(static_cast<std::int32_t>(content.size()), name, tq::kKindSmallStored);
    };
    add("..\\..\\escaped.txt", "up");
    add("\\abs.txt", "root");
    add("C:\\drive.txt", "drive");
    add("sub\\..\\..\\deep.txt", "deep");
    add("ok.txt", "fine");
    add("sub\\fine.txt", "fine too");
    QDir().mkpath(path("zone/target"));
    hostile.SaveToFile(path("zone/hostile.X").toStdString());

    window->ReadFile(path("zone/hostile.X"));
    ASSERT_EQ(window->frame().EntryCount(), 6);
    extractTo(path("zone/target"));

    // Only the two sound entries are written, and nothing outside the target.
    EXPECT_EQ(filesBelow(path("zone")), (Names{"hostile.X", "target/ok.txt", "target/sub/fine.txt"}));
    EXPECT_EQ(filesBelow(dir.path()), (Names{"zone/hostile.X", "zone/target/ok.txt", "zone/target/sub/fine.txt"}));
    ASSERT_EQ(errors.size(), 1u);
    for (const char* name : {"..\\..\\escaped.txt", "\\abs.txt", "C:\\drive.txt", "sub\\..\\..\\deep.txt"}) {
        EXPECT_TRUE(errors[0].contains(QString::fromLatin1(name))) << name << "\n" << errors[0].toStdString();
    }
    EXPECT_FALSE(errors[0].contains(QStringLiteral("ok.txt")));
    EXPECT_TRUE(window->Idle);
}

TEST_F(ArchiveWindowTest, ArchivesAgreeWithTheCommandLineTool)
{
    timeLimitOff();
    makeFile("src/docs/readme.txt", textBytes(12001, 21));
    makeFile("src/docs/sub/data.bin", noiseBytes(170000, 22));
    makeFile("src/docs/sub/tiny.ini", "[a]\r\nb=1\r\n");
    makeFile("src/docs/sub/deeper/notes.log", textBytes(40003, 23));
    const QString single = makeFile("src/solo.crp", textBytes(2500, 24));

    addFolder(path("src/docs"));
    addFiles({single});
    saveAs(path("window.X"));
    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();

    // The tool lists the same entries, in entry order, with kind and size.
    const CliResult list = runCli({QStringLiteral("x"), QStringLiteral("list"), path("window.X")});
    ASSERT_EQ(list.status, 0) << list.err.toStdString();
    QStringList expected;
    const tq::XFileFrame& f = window->frame();
    for (std::int32_t n = 1; n <= f.EntryCount(); ++n) {
        expected << QString::number(f.GetEntryKind(n)) + QLatin1Char('\t') + QString::number(f.GetEntrySize(n)) +
                        QLatin1Char('\t') + QString::fromStdString(f.GetEntryName(n));
    }
    EXPECT_EQ(list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);

    // The tool builds the same bytes from the same files.
    const CliResult add = runCli({QStringLiteral("x"), QStringLiteral("add"), path("cli.X"), path("src/docs"), single});
    ASSERT_EQ(add.status, 0) << add.err.toStdString();
    EXPECT_EQ(readAll(path("cli.X")), readAll(path("window.X")));

    // Both extract the window's archive to the same files.
    const CliResult extract =
        runCli({QStringLiteral("x"), QStringLiteral("extract"), path("window.X"), path("by-cli")});
    ASSERT_EQ(extract.status, 0) << extract.err.toStdString();
    extractTo(path("by-window"));
    const Names files = filesBelow(path("by-window"));
    EXPECT_EQ(files, (Names{"docs/readme.txt", "docs/sub/data.bin", "docs/sub/deeper/notes.log",
                            "docs/sub/tiny.ini", "solo.crp"}));
    EXPECT_EQ(filesBelow(path("by-cli")), files);
    for (const std::string& file : files) {
        EXPECT_EQ(readAll(path("by-window/") + QString::fromStdString(file)),
                  readAll(path("by-cli/") + QString::fromStdString(file)))
            << file;
    }
    for (const char* file : {"docs/sub/data.bin", "docs/readme.txt", "docs/sub/deeper/notes.log"}) {
        EXPECT_EQ(readAll(path("by-window/") + QLatin1String(file)), readAll(path("src/") + QLatin1String(file)))
            << file;
    }
}

} // namespace tqtest

namespace tqtest {

// Existing files are replaced only on Yes (per file) or "Yes to all"; Cancel
// stops with what was extracted kept; hidden names wait for one yes.
TEST_F(ArchiveWindowTest, ExtractAsksBeforeReplacingAndOnceForHiddenFiles)
{
    using tq::prompts::Answer;
    addFiles({makeFile("in/.rc", "new rc"), makeFile("in/a.txt", "new a"), makeFile("in/b.txt", "new b"),
              makeFile("in/c.txt", "new c")});
    struct Case {
        const char* folder;
        bool hiddenYes;
        std::vector<Answer> answers; // for a.txt, b.txt, c.txt in turn
        const char* expected;        // per file of .rc, a, b, c: n new, o old, - absent
    };
    const Case cases[] = {
        {"one", false, {Answer::No, Answer::Yes, Answer::Cancel}, "-ono"},
        {"all", true, {Answer::YesToAll}, "nnnn"},
        {"stop", true, {Answer::Cancel}, "nooo"},
    };
    for (const Case& c : cases) {
        const QString folder = QString::fromLatin1(c.folder);
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            makeFile(folder + QLatin1Char('/') + QLatin1String(name), "old");
        }
        std::size_t asked = 0;
        tq::prompts::setAnswerHandler([&](QWidget*, const QString& title, const QString& text) {
            EXPECT_EQ(title, QStringLiteral("Compressie"));
            EXPECT_TRUE(text.endsWith(QStringLiteral(" bestaat al.\nWilt u het bestaande bestand vervangen?")))
                << text.toStdString();
            return asked < c.answers.size() ? c.answers[asked++] : Answer::Cancel;
        });
        answerYes = c.hiddenYes;
        questions.clear();
        extractTo(path(folder));
        tq::prompts::setAnswerHandler({});
        EXPECT_EQ(asked, c.answers.size()) << c.folder;
        ASSERT_EQ(questions.size(), 1u) << c.folder;
        EXPECT_TRUE(questions[0].contains(QStringLiteral("verborgen bestanden"))) << questions[0].toStdString();
        const char* names[] = {".rc", "a.txt", "b.txt", "c.txt"};
        for (int i = 0; i < 4; ++i) {
            const QString file = path(folder + QLatin1Char('/') + QLatin1String(names[i]));
            const char want = c.expected[i];
            EXPECT_EQ(QFileInfo::exists(file), want != '-') << c.folder << " " << names[i];
            if (want != '-') {
                EXPECT_EQ(readAll(file).startsWith("new"), want == 'n') << c.folder << " " << names[i];
            }
        }
        EXPECT_TRUE(window->Idle);
    }

    // The real box: Escape is Cancel, and the file stays.
    makeFile(QStringLiteral("real/a.txt"), "old");
    answerYes = false;
    QString shownText;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        EXPECT_NE(box->button(QMessageBox::YesToAll), nullptr);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    extractTo(path(QStringLiteral("real")));
    EXPECT_TRUE(shownText.startsWith(QStringLiteral("Het bestand "))) << shownText.toStdString();
    EXPECT_EQ(readAll(path(QStringLiteral("real/a.txt"))), QByteArray("old"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("real/b.txt"))));
    EXPECT_TRUE(errors.empty());
}

} // namespace tqtest
