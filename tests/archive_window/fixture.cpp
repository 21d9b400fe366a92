#include "tests/archive_window/fixture.h"

#include "app/guard.h"
#include "app/seams.h"

#include <QCheckBox>
#include <QTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <random>

namespace tqtest {

void ArchiveWindowTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    niveau = std::make_unique<tq::TNiveau>();
    pathDialog = std::make_unique<tq::TPathDialog>();
    keys = std::make_unique<tq::TfrmCompressKey>();
    window = std::make_unique<tq::TfrmCompressie>();
    window->setDialogs(pathDialog.get(), keys.get(), niveau.get());
    // The state timers are driven by the tests themselves.
    window->Timer->stop();
    window->StatusTimer->stop();

    tq::setFileDialogRunner([this](QWidget*, const tq::FileRequest& request) {
        fileRequests.push_back(request);
        if (duringFileDialog) {
            duringFileDialog();
        }
        if (fileAnswers.empty()) {
            ADD_FAILURE() << "unexpected file dialog: " << request.title.toStdString();
            return QStringList();
        }
        QStringList answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    });
    tq::setFolderPickerHandler([this](tq::TPathDialog& dialog) {
        pickerCaptions.push_back(dialog.windowTitle());
        if (folderAnswers.empty()) {
            ADD_FAILURE() << "unexpected folder picker";
            dialog.btnCancelClick();
            return;
        }
        const FolderAnswer answer = folderAnswers.front();
        folderAnswers.pop_front();
        switch (answer.kind) {
        case FolderAnswer::Kind::Folder:
            dialog.selectFolder(answer.folder);
            dialog.btnOkClick();
            break;
        case FolderAnswer::Kind::OkWithoutSelection:
            dialog.clearSelection();
            dialog.btnOkClick();
            break;
        case FolderAnswer::Kind::Cancel:
            dialog.btnCancelClick();
            break;
        }
    });
    tq::prompts::setQuestionHandler([this](QWidget*, const QString&, const QString& text, tq::prompts::Icon) {
        questions.push_back(text);
        return answerYes;
    });
    tq::prompts::setAnswerHandler([this](QWidget*, const QString&, const QString& text) {
        questions.push_back(text);
        return replaceAnswer;
    });
    tq::prompts::setErrorHandler([this](QWidget*, const QString&, const QString& text) { errors.push_back(text); });
    tq::setGuardRecovery({});
}

void ArchiveWindowTest::TearDown()
{
    window.reset();
    keys.reset();
    pathDialog.reset();
    niveau.reset();
    tq::setFileDialogRunner({});
    tq::setFolderPickerHandler({});
    tq::prompts::setQuestionHandler({});
    tq::prompts::setAnswerHandler({});
    tq::prompts::setErrorHandler({});
    EXPECT_TRUE(fileAnswers.empty()) << "file dialog answers left over";
    EXPECT_TRUE(folderAnswers.empty()) << "folder picker answers left over";
}

QString ArchiveWindowTest::makeFile(const QString& relative, const QByteArray& content)
{
    const QString file = dir.filePath(relative);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << file.toStdString();
    f.write(content);
    return file;
}

QByteArray ArchiveWindowTest::readAll(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << file.toStdString();
        return {};
    }
    return f.readAll();
}

QByteArray ArchiveWindowTest::textBytes(int size, unsigned seed)
{
    static const char* const words[] = {"the ", "archive ", "window ", "keeps ", "files ", "and ", "folders ",
                                        "compressed ", "in ", "one ", "frame ", "file.\r\n"};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 11);
    QByteArray out;
    while (out.size() < size) {
        out += words[pick(rng)];
    }
    out.truncate(size);
    return out;
}

QByteArray ArchiveWindowTest::noiseBytes(int size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    QByteArray out(size, '\0');
    for (char& c : out) {
        c = static_cast<char>(byte(rng));
    }
    return out;
}

void ArchiveWindowTest::addFiles(const QStringList& files)
{
    answerFiles(files);
    window->btnToevoegenClick();
}

void ArchiveWindowTest::addFolder(const QString& folder)
{
    answerFolder(folder);
    window->btnAddFolderClick();
}

void ArchiveWindowTest::extractTo(const QString& folder)
{
    QDir().mkpath(folder);
    answerFolder(folder);
    window->btnDecomprimerenClick();
}

void ArchiveWindowTest::saveAs(const QString& file)
{
    answerFiles({file});
    window->btnOpslaanClick();
}

void ArchiveWindowTest::open(const QString& file)
{
    answerFiles({file});
    window->btnOpenenClick();
}

void ArchiveWindowTest::timeLimitOff()
{
    niveau->chkMaxTime->setChecked(false);
}

std::vector<std::string> ArchiveWindowTest::filesBelow(const QString& folder)
{
    std::vector<std::string> out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        out.push_back(QDir(folder).relativeFilePath(it.next()).toStdString());
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace tqtest
