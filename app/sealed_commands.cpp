// The main window's sealed-file commands: File > "Save sealed..." and the
// opening of a sealed file chosen with File > Open. Both leave the key of the
// file with the window's lock (app/lock/memo_lock.h), which locks the memo and
// guards its clipboard copies.
#include "app/mainwindow.h"

#include "platform/freed_memory.h"
#include "app/lock/locked_panel.h"
#include "app/lock/memo_lock.h"
#include "app/seams.h"
#include "app/memoview.h"
#include "app/program.h"
#include "app/mail/mail_window.h"
#include "app/mail/mailontvangen_window.h"
#include "app/userfolders.h"
#include "crypto/sealed.h"
#include "platform/coredump.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>

#include <optional>
#include <string>

namespace tq {

sealed::Work TfrmMemo::sealedWork()
{
    sealed::Work work;
    work.yield = &yieldPump().hook();
    work.stop = &AbortRequested;
    work.progress = [this](int percent) {
        ProgressPercent = percent;
        UpdateStatusBar();
    };
    return work;
}

void TfrmMemo::SaveSealedCommand()
{
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = QStringLiteral("Save sealed file...");
    request.folder = desktopFolder();
    request.fileName = QStringLiteral("*.tqs");
    request.filter = QStringLiteral("Sealed memo files|*.tqs");
    request.defaultSuffix = QStringLiteral("tqs");
    const QString path = runSingleFileDialog(this, request);
    if (path.isEmpty()) {
        return;
    }
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Save sealed file");
    ask.text = QStringLiteral("Choose a passphrase for \"%1\". Anyone who has the file needs it to read the memo.")
                   .arg(QFileInfo(path).fileName());
    ask.confirm = true;
    ask.whenEmpty = QStringLiteral("The passphrase must not be empty; the memo was not saved.");
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(this, ask, passphrase)) {
        return;
    }

    stopCoreDumps();
    overwriteFreedMemory();
    beginBusy();
    startProgress();
    std::string text = Memo->text();
    bool written = false;
    sealed::SealKey key;
    try {
        // The key the file is sealed with is kept: the lock seals the memo with it.
        written = sealed::SealToFile(toFsPath(path), text, passphrase, SealParams, sealedWork(),
                                     sealed::Content::Memo, &key);
    } catch (...) {
        sealed::Wipe(text);
        setPanel(1, QStringLiteral("File not saved."));
        throw;
    }
    sealed::Wipe(text);
    if (written) {
        setWindowTitle(QStringLiteral("Tarnquill - ") + QFileInfo(path).fileName());
        setMemoModified(false);
        Lock->hold(std::move(key));
    }
    setPanel(1, written ? QStringLiteral("File saved...") : QStringLiteral("File not saved."));
    ProgressPercent = 0;
    endBusy();
}

void TfrmMemo::OpenSealedFile(const QString& path, const QString& caption)
{
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Open sealed file");
    ask.text = QStringLiteral("Passphrase of \"%1\":").arg(QFileInfo(path).fileName());
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(this, ask, passphrase)) {
        return;
    }

    // The memo and the caption change only once the whole file has been
    // authenticated; a refusal, an abort or a read error leaves both as they were.
    stopCoreDumps();
    // From here on freed memory is overwritten, before the text is first read.
    overwriteFreedMemory();
    beginBusy();
    startProgress();
    std::optional<std::string> text;
    sealed::SealKey key;
    try {
        text = sealed::UnsealFile(toFsPath(path), passphrase, sealedWork(), &key);
    } catch (const sealed::SealedError& e) {
        ProgressPercent = 0;
        endBusy();
        prompts::showError(this, QStringLiteral("Tarnquill"), QString::fromUtf8(e.what()));
        return;
    }
    ProgressPercent = 0;
    if (text) {
        Memo->setText(*text);
        setMemoModified(false);
        sealed::Wipe(*text);
        Memo->setSelection(Memo->textLength(), 0);
        setWindowTitle(caption);
        setPanel(1, QStringLiteral("File opened."));
        Lock->hold(std::move(key));
    }
    endBusy();
}

void TfrmMemo::applyLockState()
{
    const bool locked = Lock->locked();
    LockedPanel* panel = Lock->panel();
    if (locked) {
        // Only closing, the options and help stay: nothing reaches the memo.
        for (QAction* a : mainMenuItems()) {
            const bool stays = a == Afsluiten1 || a->parent() == Opties1 || a->parent() == Info1
                               || Opties1->actions().contains(a) || Info1->actions().contains(a);
            if (!stays) {
                a->setEnabled(false);
            }
        }
        toolRow_->setEnabled(false);
        if (Memo->isVisible() || !panel->isVisibleTo(this)) {
            // The mail windows read and write the memo: they go too (their
            // fields stay as they are for after the unlock).
            program_.mail().hide();
            program_.mailOntvangen().hide();
            const bool hadFocus = Memo->hasFocus();
            Memo->hide();
            panel->show();
            if (hadFocus || ControlsEnabled) {
                panel->setFocus();
            }
        }
    } else if (panel->isVisibleTo(this)) {
        panel->hide();
        Memo->show();
        toolRow_->setEnabled(true);
    }
}

void TfrmMemo::wipeMemoCopies()
{
    for (std::string& line : LineBackup) {
        sealed::Wipe(line);
    }
    LineBackup.clear();
    sealed::Wipe(textBackup_);
    // The search word may be a piece of the memo.
    txtZoekWoord->setText(QStringLiteral("Search"));
}

} // namespace tq
