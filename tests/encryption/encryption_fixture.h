// Shared set-up of the encryption window tests: file dialogs answered from a
// queue (and every request recorded), the desktop folder in the temporary
// folder, and the main window's delayed clear stopped so that it cannot empty
// the memo while a command lets events through.
#pragma once

#include "app/seams.h"
#include "app/userfolders.h"
#include "tests/support/window_fixture.h"

#include <QString>

#include <deque>
#include <string>
#include <vector>

namespace tqtest {

class EncryptionTest : public WindowTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the program and shows the main window; the memo is empty.
    tq::TfrmMemo& window(const QStringList& arguments = {});

    // Answers of the coming file dialogs: a path, or "" for Cancel.
    std::deque<QString> dialogAnswers;
    std::vector<tq::FileRequest> dialogRequests;

    // The window lets events through at most every 10 ms of work; after this
    // pause the next command lets them through at its first opportunity, so a
    // click queued now arrives during that command's first unit of work.
    static void letEventsThrough();
    // Sets the four key fields as a user would, through the up-downs.
    static void setKeys(tq::TfrmMemo& w, int k1, int k2, int k3, int k4);
    static std::string readBytes(const QString& path);
    static void writeBytes(const QString& path, const std::string& bytes);
    // The stored text of a .crp file.
    static std::string storedText(const QString& path);
};

} // namespace tqtest
