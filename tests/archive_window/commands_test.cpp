// The archive window's commands: adding files and folders, Stop, Delete, New,
// Open, ReadFile, Save, the busy state, the close question and failures.
#include "tests/archive_window/fixture.h"

#include "archive/archive_ops.h"
#include "app/archive/archive_window_art.h"
#include "archive/xfileframe.h"
#include "compress/compress.h"

#include <QAction>
#include <QDir>
#include <QCheckBox>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace tqtest {
namespace {

using Names = std::vector<std::string>;

// The saving percentage the compressor gives a file when it is compressed on its
// own, with the window's default settings and the time limit off.
int ratioOf(const QByteArray& bytes)
{
    tq::TCompress c;
    c.Reset();
    c.Bytes.TimeLimitOn = false;
    c.Bytes.SetData(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    c.Bytes.BuildTable(2);
    c.Bytes.SortTable();
    c.CompressData();
    return c.Ratio;
}

std::vector<tq::FileRequest> requestsTitled(const std::vector<tq::FileRequest>& all, const QString& title)
{
    std::vector<tq::FileRequest> out;
    for (const auto& r : all) {
        if (r.title == title) {
            out.push_back(r);
        }
    }
    return out;
}

} // namespace

TEST_F(ArchiveWindowTest, StartStateAndControls)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie"));
    EXPECT_TRUE(window->Saved);
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->StopRequested);
    EXPECT_FALSE(window->ProgressVisible);
    EXPECT_FALSE(window->btnOpslaan->isEnabled());
    EXPECT_FALSE(window->btnVerzegeldOpslaan->isEnabled());
    EXPECT_FALSE(window->btnVerwijderen->isEnabled());
    EXPECT_FALSE(window->btnDecomprimeren->isEnabled());
    EXPECT_FALSE(window->btnStop->isEnabled());
    EXPECT_TRUE(window->btnToevoegen->isEnabled());

    // Hints in toolbar order, separators after New, Save (and Save sealed), Add folder, Deselect, Stop.
    QStringList layout;
    for (QAction* a : window->ToolBar->actions()) {
        if (a->isSeparator()) {
            layout << QStringLiteral("|");
        } else if (auto* b = qobject_cast<QToolButton*>(window->ToolBar->widgetForAction(a))) {
            layout << b->toolTip();
        }
    }
    EXPECT_EQ(layout.join(QLatin1Char(',')),
              QStringLiteral("Nieuw,|,Openen,Opslaan,Verzegeld opslaan,|,Toevoegen,Verwijderen,Map toevoegen,|,Decomprimeren,"
                             "Deselecteren,|,Stoppen,|,Instellingen,"));

    QStringList menu;
    for (QAction* a : window->PopupMenu->actions()) {
        menu << (a->isSeparator() ? QStringLiteral("-") : a->text() + QLatin1Char('=') + a->shortcut().toString());
    }
    EXPECT_EQ(menu.join(QLatin1Char(',')),
              QStringLiteral("&Decomprimeren=Ctrl+D,-,&Map toevoegen=Ctrl+M,&Toevoegen=Ctrl+T,-,Verwij&deren=Del"));
}

TEST_F(ArchiveWindowTest, AddFilesStoresSmallAndLargeFilesUnchanged)
{
    const QByteArray small = noiseBytes(500, 1);
    const QByteArray large = noiseBytes(200000, 2);
    addFiles({makeFile("in/b.bin", large), makeFile("in/a.txt", small)});

    ASSERT_TRUE(errors.empty()) << errors.front().toStdString();
    const auto requests = requestsTitled(fileRequests, QStringLiteral("Toevoegen"));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].kind, tq::FileRequest::Kind::OpenMany);
    EXPECT_EQ(requests[0].fileName, QStringLiteral("*.*"));
    EXPECT_EQ(requests[0].filter, QStringLiteral("*.*|*.*"));
    // The patterns the dialog offers for it show every file, names without a dot too.
    makeFile("in/README", "r");
    QStringList shown = QDir(path("in")).entryList(tq::dialogPatterns(requests[0].filter), QDir::Files);
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"README", "a.txt", "b.bin"}));

    tq::XFileFrame& f = window->frame();
    ASSERT_EQ(f.EntryCount(), 2);
    // Entries in the order chosen, nodes sorted by name.
    EXPECT_EQ(f.GetEntryName(1), "b.bin");
    EXPECT_EQ(f.GetEntryKind(1), tq::kKindLargeStored);
    EXPECT_EQ(f.GetEntryKind(2), tq::kKindSmallStored);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(f.GetEntryPayload(2)), f.GetEntrySize(2)), small);
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt", "b.bin"}));
    EXPECT_EQ(window->statusBar()->panelText(1), QStringLiteral("Totaal"));
    EXPECT_EQ(window->statusBar()->panelText(2), QStringLiteral("0 %"));
    EXPECT_FALSE(window->Saved);
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->ProgressVisible);
    EXPECT_TRUE(window->StatusClean->isActive());
    EXPECT_TRUE(window->btnOpslaan->isEnabled());
    EXPECT_TRUE(window->btnDecomprimeren->isEnabled());
    EXPECT_FALSE(window->btnVerwijderen->isEnabled()) << "nothing is selected";

    // The clean timer's tick empties the panels.
    window->StatusCleanTimer();
    EXPECT_EQ(window->statusBar()->panelText(1), QString());
    EXPECT_FALSE(window->StatusClean->isActive());
}

TEST_F(ArchiveWindowTest, MeanPercentageOverTheChosenFiles)
{
    answerYes = true; // unsaved entries may go
    timeLimitOff();
    const QByteArray one = textBytes(4000, 1);
    const QByteArray two = textBytes(9000, 2);
    const QByteArray three = textBytes(20000, 3);
    addFiles({makeFile("one.txt", one)});
    EXPECT_EQ(window->statusBar()->panelText(2), QString::number(ratioOf(one)) + QStringLiteral(" %"));

    window->btnNieuwClick();
    addFiles({makeFile("one.txt", one), makeFile("two.txt", two), makeFile("three.txt", three)});
    const int sum = ratioOf(one) + ratioOf(two) + ratioOf(three);
    ASSERT_GT(sum, 0) << "the text must compress";
    EXPECT_EQ(window->statusBar()->panelText(2), QString::number(sum / 3) + QStringLiteral(" %"));
    EXPECT_EQ(window->statusBar()->panelText(1), QStringLiteral("Totaal"));
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(window->frame().GetEntryKind(n), tq::kKindCompressed);
    }
}

TEST_F(ArchiveWindowTest, SettingsOfTheSettingsWindowReachTheCompressor)
{
    niveau->chkMaxTime->setChecked(false);
    addFiles({makeFile("a.txt", textBytes(3000, 4))});
    EXPECT_FALSE(window->compressor().Bytes.TimeLimitOn);
    niveau->chkMaxTime->setChecked(true);
    addFiles({makeFile("b.txt", textBytes(3000, 5))});
    EXPECT_TRUE(window->compressor().Bytes.TimeLimitOn);
    // Add folder does not read the setting: the limit stays as Add files left it.
    niveau->chkMaxTime->setChecked(false);
    makeFile("f/c.txt", textBytes(3000, 6));
    addFolder(path("f"));
    EXPECT_TRUE(window->compressor().Bytes.TimeLimitOn);
    EXPECT_EQ(window->frame().EntryCount(), 3);
}

TEST_F(ArchiveWindowTest, AddFolderNamesEntriesFromTheFolderItself)
{
    answerYes = true; // unsaved entries may go
    makeFile("data/docs/a.txt", "alpha");
    makeFile("data/docs/sub/b.txt", "beta");
    makeFile("data/other.txt", "not in the folder");
    addFolder(path("data/docs"));

    ASSERT_EQ(pickerCaptions.size(), 1u);
    EXPECT_EQ(pickerCaptions[0], QStringLiteral("Map selecteren"));
    EXPECT_EQ(window->nodeNames(), (Names{"docs\\a.txt", "docs\\sub\\b.txt"}));
    // Panel 1 shows the last name without its folders.
    EXPECT_EQ(window->statusBar()->panelText(1), QStringLiteral("Totaal"));
    EXPECT_FALSE(window->Saved);

    // A one-letter folder lists its own files, not those of a sibling starting
    // with the same letter.
    window->btnNieuwClick();
    makeFile("c/a/x.txt", "x");
    makeFile("c/ab/y.txt", "y");
    makeFile("c/a.txt", "z");
    addFolder(path("c/a"));
    EXPECT_EQ(window->nodeNames(), (Names{"a\\x.txt"}));
}

TEST_F(ArchiveWindowTest, CancelledDialogsChangeNothing)
{
    addFiles({});
    answerFolderCancel();
    window->btnAddFolderClick();
    // "&Ok" without a folder: nothing happens either.
    folderAnswers.push_back({FolderAnswer::Kind::OkWithoutSelection, {}});
    window->btnAddFolderClick();
    EXPECT_EQ(window->frame().EntryCount(), 0);
    EXPECT_TRUE(window->Saved);
    EXPECT_TRUE(window->Idle);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ArchiveWindowTest, BusyStateWhileACommandRuns)
{
    bool checked = false;
    duringFileDialog = [&] {
        checked = true;
        EXPECT_FALSE(window->Idle);
        EXPECT_FALSE(window->TreeView->isEnabled());
        for (QToolButton* b : {window->btnNieuw, window->btnOpenen, window->btnToevoegen, window->btnAddFolder,
                               window->btnInstellingen, window->btnKeys}) {
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
        }
        EXPECT_TRUE(window->btnStop->isEnabled());
        // The state refresh leaves a busy window alone.
        window->TimerTimer();
        EXPECT_FALSE(window->btnToevoegen->isEnabled());
        EXPECT_FALSE(window->Toevoegen1->isEnabled());
        // A second command cannot start meanwhile.
        window->btnNieuwClick();
        EXPECT_FALSE(window->Idle);
    };
    addFiles({makeFile("a.txt", "abc")});
    ASSERT_TRUE(checked);
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->btnStop->isEnabled());
    EXPECT_TRUE(window->TreeView->isEnabled());
    EXPECT_EQ(window->frame().EntryCount(), 1);
}

TEST_F(ArchiveWindowTest, StopCompletesTheFileUnderWayAndStartsNoOther)
{
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        files << makeFile(QStringLiteral("f%1.txt").arg(i), textBytes(150000, 10 + i));
    }
    QByteArray first = readAll(files[0]);
    // Stop is clicked as soon as the first file is being worked on (or, at the
    // latest, once it has been added).
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QString step = window->statusBar()->panelText(0);
        if (window->frame().EntryCount() >= 1 || step == QStringLiteral("Maken van tabel") ||
            step == QStringLiteral("Tabel sorteren") || step == QStringLiteral("Comprimeren")) {
            window->btnStop->click();
            watcher.stop();
        }
    });
    watcher.start();
    addFiles(files);
    watcher.stop();

    ASSERT_EQ(window->frame().EntryCount(), 1);
    EXPECT_FALSE(window->StopRequested);
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->btnStop->isEnabled());
    // The entry completed under Stop still extracts to the file's bytes.
    extractTo(path("out"));
    EXPECT_EQ(readAll(path("out/f0.txt")).left(first.size()), first);

    // The next command runs normally again.
    addFiles({files[1], files[2]});
    EXPECT_EQ(window->frame().EntryCount(), 3);
}

TEST_F(ArchiveWindowTest, DeleteRemovesTheSelectedEntries)
{
    addFiles({makeFile("a.txt", "aaaa"), makeFile("b.txt", "bbbb"), makeFile("c.txt", "cccc")});
    window->selectNodes({"c.txt", "a.txt"});
    window->TimerTimer();
    EXPECT_TRUE(window->btnVerwijderen->isEnabled());
    EXPECT_TRUE(window->Verwijderen1->isEnabled());
    EXPECT_TRUE(window->btnDeSelect->isEnabled());
    saveAs(path("x.X"));
    ASSERT_TRUE(window->Saved);

    window->selectNodes({"c.txt", "a.txt"});
    window->btnVerwijderenClick();
    EXPECT_EQ(window->nodeNames(), (Names{"b.txt"}));
    ASSERT_EQ(window->frame().EntryCount(), 1);
    EXPECT_EQ(window->frame().GetEntryName(1), "b.txt");
    EXPECT_EQ(window->frame().GetEntryOffset(1), 0);
    EXPECT_FALSE(window->Saved);
    EXPECT_FALSE(window->btnVerwijderen->isEnabled());
}

TEST_F(ArchiveWindowTest, DuplicateNamesActOnTheFirstEntry)
{
    addFiles({makeFile("one/a.txt", "first entry")});
    addFiles({makeFile("two/A.TXT", "second entry")});
    ASSERT_EQ(window->frame().EntryCount(), 2);

    // Whichever node is selected, the first entry is extracted.
    for (const char* node : {"A.TXT", "a.txt"}) {
        window->selectNodes({node});
        const QString out = path(QStringLiteral("out-") + QString::fromLatin1(node));
        extractTo(out);
        EXPECT_EQ(filesBelow(out), (Names{"a.txt"})) << node;
        EXPECT_EQ(readAll(out + QStringLiteral("/a.txt")), QByteArray("first entry"));
    }
    // Deleting either node removes the first entry.
    window->selectNodes({"A.TXT"});
    window->btnVerwijderenClick();
    ASSERT_EQ(window->frame().EntryCount(), 1);
    EXPECT_EQ(window->frame().GetEntryName(1), "A.TXT");
    EXPECT_EQ(window->nodeNames().size(), 1u);
}

TEST_F(ArchiveWindowTest, SaveOpenAndReadFileRoundTrip)
{
    addFiles({makeFile("a.txt", textBytes(5000, 7)), makeFile("b.dat", "small")});
    QDir().mkpath(path("store"));
    saveAs(path("store/arch.X"));
    const auto saves = requestsTitled(fileRequests, QStringLiteral("Opslaan"));
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].kind, tq::FileRequest::Kind::Save);
    EXPECT_EQ(saves[0].fileName, QStringLiteral("*.X"));
    EXPECT_EQ(saves[0].filter, QStringLiteral("*.X|*.X"));
    EXPECT_EQ(saves[0].defaultSuffix, QStringLiteral("X"));
    EXPECT_TRUE(saves[0].confirmOverwrite);
    EXPECT_TRUE(window->Saved);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - arch.X"));
    const QByteArray saved = readAll(path("store/arch.X"));
    const std::vector<std::uint8_t> inMemory = window->frame().ToBytes();
    EXPECT_EQ(saved.toStdString(), std::string(inMemory.begin(), inMemory.end()));

    window->btnNieuwClick();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie"));
    EXPECT_TRUE(window->nodeNames().empty());
    EXPECT_FALSE(window->Saved);

    open(path("store/arch.X"));
    const auto opens = requestsTitled(fileRequests, QStringLiteral("Openen"));
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].fileName, QStringLiteral("*.X"));
    EXPECT_EQ(opens[0].filter, QStringLiteral("*.X|*.X"));
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt", "b.dat"}));
    EXPECT_EQ(window->frame().Names(), (Names{"a.txt", "b.dat"})) << "names are not listed twice";
    EXPECT_TRUE(window->Saved);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - arch.X"));

    window->btnNieuwClick();
    window->ReadFile(path("store/arch.X"));
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt", "b.dat"}));
    EXPECT_TRUE(window->Saved);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie - arch.X"));
    const auto bytes = window->frame().ToBytes();
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), saved.toStdString());
}

TEST_F(ArchiveWindowTest, ShortAndEmptyArchivesOpenAsEmptyLists)
{
    answerYes = true; // unsaved entries may go
    addFiles({makeFile("keep.txt", "x")});
    open(makeFile("short.X", QByteArray("\x00\x02\x00", 3)));
    EXPECT_TRUE(window->nodeNames().empty());
    EXPECT_TRUE(window->Saved);
    EXPECT_TRUE(errors.empty());

    addFiles({makeFile("keep.txt", "x")});
    open(makeFile("empty.X", QByteArray("\x00\x02\x00\x00", 4)));
    EXPECT_TRUE(window->nodeNames().empty());
    EXPECT_EQ(window->frame().EntryCount(), 0);
    EXPECT_TRUE(errors.empty());
    window->TimerTimer();
    EXPECT_FALSE(window->btnOpslaan->isEnabled());
    EXPECT_FALSE(window->btnDecomprimeren->isEnabled());
}

TEST_F(ArchiveWindowTest, AFailedCommandReturnsToIdleAndShowsTheError)
{
    answerYes = true; // unsaved entries may go
    addFiles({makeFile("a.txt", "kept")});
    // A damaged archive: the directory claims more bytes than the file has.
    open(makeFile("bad.X", QByteArray("\x00\x40\x00\x01xyz", 7)));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("bad.X"))) << errors[0].toStdString();
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->btnStop->isEnabled());
    // The archive in the window is kept.
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt"}));
    EXPECT_EQ(window->frame().EntryCount(), 1);

    // A file that vanished between dialog and command.
    addFiles({makeFile("b.txt", "b"), path("missing.txt")});
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_TRUE(errors[1].contains(QStringLiteral("missing.txt"))) << errors[1].toStdString();
    EXPECT_TRUE(window->Idle);
    EXPECT_FALSE(window->ProgressVisible);
    EXPECT_FALSE(window->btnStop->isEnabled());
    // The file added before the failure is listed and in the container.
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(window->frame().EntryCount(), 2);
}

TEST_F(ArchiveWindowTest, CloseAsksOnlyAboutUnsavedEntries)
{
    QSignalSpy closedSpy(window.get(), &tq::TfrmCompressie::closed);
    const QString expected = QStringLiteral("Het bestand is nog niet opgeslagen weet u\r           zeker dat u wilt afsluiten");

    // Empty list: no question.
    window->show();
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(closedSpy.count(), 1);

    // After Add: the question; No keeps the window open.
    window->show();
    addFiles({makeFile("a.txt", "a")});
    answerYes = false;
    EXPECT_FALSE(window->close());
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], expected);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(closedSpy.count(), 1);
    // Yes hides it, and the archive stays.
    answerYes = true;
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(closedSpy.count(), 2);
    EXPECT_EQ(window->nodeNames(), (Names{"a.txt"}));

    // After Save and after Open: no question.
    window->show();
    saveAs(path("a.X"));
    EXPECT_TRUE(window->close());
    window->show();
    open(path("a.X"));
    EXPECT_TRUE(window->close());
    EXPECT_EQ(questions.size(), 2u);
}

TEST_F(ArchiveWindowTest, NewAndOpenAskBeforeDroppingUnsavedEntries)
{
    const QString question = QStringLiteral("Het bestand is nog niet opgeslagen weet u\r           ");
    makeFile("saved/b.txt", "b");
    addFolder(path("saved"));
    saveAs(path("other.X"));
    struct Case {
        const char* name;
        std::function<void()> run;
        const char* ending;
        Names after;
    };
    const Case cases[] = {
        {"New", [&] { window->btnNieuwClick(); }, "zeker dat u een nieuw bestand wilt maken", {}},
        {"Open", [&] { open(path("other.X")); }, "zeker dat u een ander bestand wilt openen", {"saved\\b.txt"}},
        {"ReadFile", [&] { window->ReadFile(path("other.X")); }, "zeker dat u een ander bestand wilt openen",
         {"saved\\b.txt"}},
    };
    for (const Case& c : cases) {
        for (const bool yes : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (yes ? ", Yes" : ", No"));
            answerYes = true;
            window->btnNieuwClick();
            addFiles({makeFile("a.txt", "a")});
            questions.clear();
            fileRequests.clear();
            answerYes = yes;
            c.run();
            ASSERT_EQ(questions.size(), 1u);
            EXPECT_EQ(questions[0], question + QString::fromLatin1(c.ending));
            if (yes) {
                EXPECT_EQ(window->nodeNames(), c.after);
                continue;
            }
            fileAnswers.clear();
            EXPECT_TRUE(fileRequests.empty()) << "no file dialog after No";
            EXPECT_EQ(window->nodeNames(), (Names{"a.txt"}));
            EXPECT_FALSE(window->Saved);
            EXPECT_EQ(window->windowTitle(), QStringLiteral("Compressie"));
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(ArchiveWindowTest, AnAddPastTheDirectoryLimitIsRefusedWholeAndTheArchiveStaysAsItWas)
{
    addFiles({makeFile("a.txt", "kept")});
    saveAs(path("a.X"));
    const std::vector<std::uint8_t> before = window->frame().ToBytes();
    QStringList many;
    for (int i = 0; i < 3000; ++i) {
        many << makeFile(QStringLiteral("big/f%1.txt").arg(i, 4, 10, QLatin1Char('0')), "x");
    }
    // Directory 2 + 14 + 5 = 21 bytes; a record of "big\\f0000.txt" takes 27 bytes,
    // one of "f0000.txt" 23: (65279 - 21) / 27 = 2416.96, (65279 - 21) / 23 = 2837.3.
    struct Case {
        const char* name;
        std::function<void()> run;
        const char* fit;
    };
    const Case cases[] = {
        {"Add folder", [&] { addFolder(path("big")); }, "only 2416 of the 3000 chosen files would fit"},
        {"Add files", [&] { addFiles(many); }, "only 2837 of the 3000 chosen files would fit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.clear();
        c.run();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].contains(QStringLiteral("limited to 65279 bytes"))) << errors[0].toStdString();
        EXPECT_TRUE(errors[0].contains(QString::fromLatin1(c.fit))) << errors[0].toStdString();
        EXPECT_TRUE(window->frame().ToBytes() == before);
        EXPECT_EQ(window->nodeNames(), (Names{"a.txt"}));
        EXPECT_TRUE(window->Saved);
        EXPECT_TRUE(window->Idle);
        EXPECT_FALSE(window->ProgressVisible);
    }
}

TEST_F(ArchiveWindowTest, IconsFollowTheExtensionTable)
{
    const std::pair<const char*, int> cases[] = {
        {"a.log", 1}, {"A.TXT", 1}, {"x.doc", 1}, {"arch.x", 2}, {"p.EXE", 3}, {"c.com", 3}, {"s.ini", 4},
        {"g.gif", 5}, {"j.jpg", 5}, {"b.bmp", 5}, {"r.reg", 6}, {"m.crp", 7}, {"l.dll", 8}, {"k.sys", 8},
        {"w.wav", 9}, {"s.mp3", 9}, {"v.avi", 9}, {"v.mpg", 9}, {"t.mid", 9}, {"readme", 0}, {"a.txt.bak", 0},
        {"docs.txt\\readme", 0}, {"docs\\a.Txt", 1}, {"x.", 0},
    };
    for (const auto& [name, icon] : cases) {
        EXPECT_EQ(tq::FileIconIndex(name), icon) << name;
    }
    // Ten different images.
    std::vector<QImage> images;
    for (int i = 0; i < tq::kEntryIconCount; ++i) {
        images.push_back(tq::entryIcon(i).pixmap(16, 16).toImage());
    }
    for (int i = 0; i < tq::kEntryIconCount; ++i) {
        for (int j = i + 1; j < tq::kEntryIconCount; ++j) {
            EXPECT_NE(images[i], images[j]) << i << " and " << j;
        }
    }
    // Nodes carry the icon of their extension.
    addFiles({makeFile("m.crp", "x"), makeFile("n.bin", "y")});
    const auto* crp = window->TreeView->topLevelItem(0);
    EXPECT_EQ(crp->icon(0).pixmap(16, 16).toImage(), images[7]);
    EXPECT_EQ(window->TreeView->topLevelItem(1)->icon(0).pixmap(16, 16).toImage(), images[0]);
}

} // namespace tqtest
