// An edited memo is never replaced without a question: the modified flag and
// the questions of New, Open, the command-line file and closing.
#include "tests/support/window_fixture.h"

#include "app/keys/sleutel_window.h"
#include "app/seams.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace tqtest {
namespace {

const QString kDiscard = QStringLiteral("The memo has changes that are not saved. Discard them?");

class UnsavedMemo : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        tq::setFileDialogRunner([this](QWidget*, const tq::FileRequest&) { return QStringList{chosenFile}; });
    }
    void TearDown() override
    {
        tq::setFileDialogRunner({});
        WindowTest::TearDown();
    }
    // Saves `text` as a .crp file through Save as, then starts a new memo.
    QString savedMemo(tq::TfrmMemo& w, const std::string& text, const QString& name)
    {
        chosenFile = dir.filePath(name);
        w.Memo->setText(text);
        w.imgOpslaanClick();
        w.NewMemo(false);
        return chosenFile;
    }
    QString chosenFile;
};

TEST_F(UnsavedMemo, EveryCommandThatReplacesAnEditedMemoAsksAndNoKeepsMemoAndCaption)
{
    auto& w = start();
    const QString notes = savedMemo(w, "from the file", QStringLiteral("notes.crp"));
    tq::TfrmSleutel& keys = program().frmSleutel();
    struct Case {
        const char* name;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"File > New", [&] { w.Leegmaken1->trigger(); }},
        {"the New image", [&] { QTest::mouseClick(w.imgBtnLeegmaken, Qt::LeftButton); }},
        {"File > Open", [&] { w.open1->trigger(); }},
        {"the command-line file", [&] {
             keys.setStartFile(notes);
             keys.show();
             keys.btnOkClick();
         }},
    };
    for (const Case& c : cases) {
        for (const bool yes : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (yes ? ", Yes" : ", No"));
            w.Memo->setText("");
            w.setWindowTitle(QStringLiteral("Tarnquill - before.crp"));
            w.setMemoModified(false);
            w.Memo->setFocus();
            QTest::keyClicks(w.Memo, QStringLiteral("draft"));
            ASSERT_TRUE(w.memoModified());
            questions = 0;
            answerYes = yes;
            c.run();
            EXPECT_EQ(questions, 1);
            EXPECT_EQ(lastQuestion, kDiscard);
            if (!yes) {
                EXPECT_EQ(w.Memo->text(), "draft");
                EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill - before.crp"));
                EXPECT_TRUE(w.memoModified());
                continue;
            }
            EXPECT_NE(w.Memo->text(), "draft");
            EXPECT_FALSE(w.memoModified());
            // Unchanged now: the same command asks nothing.
            questions = 0;
            c.run();
            EXPECT_EQ(questions, 0);
        }
    }
    EXPECT_EQ(w.Memo->text(), "from the file");
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();

    // The close question names the changes.
    QTest::keyClicks(w.Memo, QStringLiteral("!"));
    answerYes = false;
    EXPECT_FALSE(w.close());
    EXPECT_EQ(lastQuestion, QStringLiteral("The memo has changes that are not saved.\n"
                                           "Are you sure you want to close Tarnquill ?"));
}

TEST_F(UnsavedMemo, EditsSetTheFlagWhileEncryptDecryptKeepItAndSaveOpenNewClearIt)
{
    auto& w = start();
    chosenFile = dir.filePath(QStringLiteral("flag.crp"));
    answerYes = true;
    QApplication::clipboard()->setText(QStringLiteral(" pasted"));
    struct Step {
        const char* name;
        std::function<void()> run;
        bool modified;
    };
    const Step steps[] = {
        {"typing", [&] { QTest::keyClicks(w.Memo, QStringLiteral("secret")); }, true},
        {"encrypt", [&] { w.imgBtnCoderenClick(); }, true},
        {"decrypt", [&] { w.imgButtonDecoderenClick(); }, true},
        {"save", [&] { w.imgOpslaanClick(); }, false},
        {"decrypt the saved text", [&] { w.imgButtonDecoderenClick(); }, false},
        {"encrypt it again", [&] { w.imgBtnCoderenClick(); }, false},
        {"paste", [&] { w.Plakken1->trigger(); }, true},
        {"New", [&] {
             w.Leegmaken1->trigger();
             w.delayedClear->stop(); // its second emptying would take the undo step
         }, false},
        {"undo (of New)", [&] { w.Ongedaanmaken1->trigger(); }, true},
        {"open", [&] { w.open1->trigger(); }, false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        const std::string before = w.Memo->text();
        s.run();
        EXPECT_NE(w.Memo->text(), before) << "the step changes the text";
        EXPECT_EQ(w.memoModified(), s.modified);
    }
    EXPECT_EQ(w.Memo->text(), "secret");
    EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
}

// The real message box: No is the default button, so Enter keeps the memo.
TEST_F(UnsavedMemo, TheRealQuestionDefaultsToNoAndKeepsEveryCharacter)
{
    auto& w = start();
    tq::prompts::setQuestionHandler({});
    w.Memo->setFocus();
    QTest::keyClicks(w.Memo, QStringLiteral("every character counts"));
    QString shown;
    bool defaultIsNo = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        poll.stop();
        shown = box->text();
        defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
        QTest::keyClick(box, Qt::Key_Return);
    });
    poll.start();
    w.Leegmaken1->trigger();
    EXPECT_EQ(shown, kDiscard);
    EXPECT_TRUE(defaultIsNo);
    EXPECT_EQ(w.Memo->text(), "every character counts");
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Tarnquill"));
}

} // namespace
} // namespace tqtest
