// Shared set-up of the lock tests: a window whose memo comes from a sealed file
// (cheap key derivation), passphrase questions answered by the test, and the
// tools the tests use to look from outside (another X client, another bus client).
#pragma once

#include "tests/support/window_fixture.h"

#include "app/lock/memo_lock.h"
#include "crypto/sealed.h"

#include <QProcess>

#include <deque>
#include <string>
#include <string_view>

namespace tqtest {

class LockTest : public WindowTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the window and opens a sealed file holding `memo` (sealed with
    // `passphrase`) into it.
    tq::TfrmMemo& startWithSealedMemo(std::string_view memo, const std::string& passphrase);
    // Clicks the locked panel's "Unlock..." button, answering `passphrase`.
    void clickUnlock(tq::TfrmMemo& w, const std::string& passphrase);

    static constexpr tq::sealed::Params kFast{1, 8};
    std::deque<std::string> passphraseAnswers;
    int passphraseQuestions = 0;
};

// Runs a program to its end while this process keeps handling events (it may
// own the X clipboard the program asks for). Returns its standard output;
// `exitCode` gets -1 when it did not end within 20 s.
QByteArray runPumping(const QString& program, const QStringList& args, int* exitCode = nullptr);

} // namespace tqtest
