// Shared set-up of the window tests: settings and autostart in a temporary
// folder, message boxes answered by the test, and a program built from given
// command-line arguments.
#pragma once

#include "app/mainwindow.h"
#include "app/memoview.h"
#include "app/program.h"
#include "app/seams.h"

#include <QStringList>
#include <QTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tqtest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the program with `arguments` and starts it (shows the main window).
    tq::TfrmMemo& start(const QStringList& arguments = {});
    // Creates the program without showing anything.
    tq::TfrmMemo& create(const QStringList& arguments = {});
    // Writes a file into the temporary folder and returns its path.
    QString makeFile(const QString& name, const QByteArray& content = "x");

    tq::TProgram& program() { return *program_; }

    QTemporaryDir dir;
    std::unique_ptr<tq::TProgram> program_;
    bool answerYes = false;
    int questions = 0;
    QString lastQuestion;
    tq::prompts::Icon lastQuestionIcon = tq::prompts::Icon::Question;
    std::vector<QString> errors;
};

// Answers the next real question boxes by key, in order: Yes with the space bar
// on its button, No with Escape. Their texts go to `texts`.
void answerBoxes(std::vector<bool> answers, QStringList& texts);

// Texts of a menu's entries, separators as "-".
std::vector<QString> captions(const class QMenu* menu);

} // namespace tqtest
