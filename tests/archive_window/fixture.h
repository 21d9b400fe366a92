// Shared set-up of the archive window tests: the window with its key dialog,
// folder picker and settings window, a scratch folder, and file dialogs, folder
// picker and message boxes answered by the test.
#pragma once

#include "app/archive/compresskey_window.h"
#include "app/archive/compressie_window.h"
#include "app/seams.h"
#include "app/archive/pathdialog_window.h"
#include "app/keys/niveau_window.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tqtest {

// What the folder picker answers: a folder with "&Ok", "&Ok" with nothing
// selected, or "Annuleren".
struct FolderAnswer {
    enum class Kind { Folder, OkWithoutSelection, Cancel } kind = Kind::Cancel;
    QString folder;
};

class ArchiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A file below the scratch folder (folders made as needed); returns its path.
    QString makeFile(const QString& relative, const QByteArray& content);
    QString path(const QString& relative) const { return dir.filePath(relative); }
    static QByteArray readAll(const QString& file);
    // Text-like bytes that compress well, and bytes that do not.
    static QByteArray textBytes(int size, unsigned seed);
    static QByteArray noiseBytes(int size, unsigned seed);

    // Queues the answer of the next file dialog (an empty list cancels it).
    void answerFiles(const QStringList& files) { fileAnswers.push_back(files); }
    // Queues the answer of the next folder picker.
    void answerFolder(const QString& folder) { folderAnswers.push_back({FolderAnswer::Kind::Folder, folder}); }
    void answerFolderCancel() { folderAnswers.push_back({FolderAnswer::Kind::Cancel, {}}); }

    // Commands with their dialogs answered.
    void addFiles(const QStringList& files);
    void addFolder(const QString& folder);
    void extractTo(const QString& folder);
    void saveAs(const QString& file);
    void open(const QString& file);

    // Sort time limit off, so that compressed output does not depend on speed.
    void timeLimitOff();

    // The relative paths of all files below `folder`, sorted.
    static std::vector<std::string> filesBelow(const QString& folder);

    QTemporaryDir dir;
    std::unique_ptr<tq::TNiveau> niveau;
    std::unique_ptr<tq::TPathDialog> pathDialog;
    std::unique_ptr<tq::TfrmCompressKey> keys;
    std::unique_ptr<tq::TfrmCompressie> window;

    std::deque<QStringList> fileAnswers;
    std::vector<tq::FileRequest> fileRequests;
    std::deque<FolderAnswer> folderAnswers;
    std::vector<QString> pickerCaptions;
    // Runs inside a file dialog, while its command is under way.
    std::function<void()> duringFileDialog;

    bool answerYes = false;
    // The answer to "replace the existing file?" (asked through the same list).
    tq::prompts::Answer replaceAnswer = tq::prompts::Answer::No;
    std::vector<QString> questions;
    std::vector<QString> errors;
};

} // namespace tqtest
