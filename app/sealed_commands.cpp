// The main window's sealed-file commands: File > "Save sealed..." and the
// opening of a sealed file chosen with File > Open.
#include "app/mainwindow.h"

#include "app/seams.h"
#include "app/memoview.h"
#include "app/userfolders.h"
#include "crypto/sealed.h"
#include "platform/coredump.h"

#include <QAction>
#include <QFileInfo>

#include <optional>
#include <string>

namespace tq {
namespace {

// Work for the sealed engine: this window's event pump, its abort flag and its bar.
sealed::Work windowWork(TfrmMemo& w)
{
    sealed::Work work;
    work.yield = &w.yieldPump().hook();
    work.stop = &w.AbortRequested;
    work.progress = [&w](int percent) {
        w.ProgressPercent = percent;
        w.UpdateStatusBar();
    };
    return work;
}

} // namespace

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
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(this, ask, passphrase)) {
        return;
    }
    if (passphrase.empty()) {
        prompts::showError(this, QStringLiteral("Tarnquill"),
                           QStringLiteral("The passphrase must not be empty; the memo was not saved."));
        return;
    }

    stopCoreDumps();
    beginBusy();
    startProgress();
    std::string text = Memo->text();
    bool written = false;
    try {
        written = sealed::SealToFile(toFsPath(path), text, passphrase, SealParams, windowWork(*this));
    } catch (...) {
        sealed::Wipe(text);
        setPanel(1, QStringLiteral("File not saved."));
        throw;
    }
    sealed::Wipe(text);
    if (written) {
        setWindowTitle(QStringLiteral("Tarnquill - ") + QFileInfo(path).fileName());
        setMemoModified(false);
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
    beginBusy();
    startProgress();
    std::optional<std::string> text;
    try {
        text = sealed::UnsealFile(toFsPath(path), passphrase, windowWork(*this));
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
    }
    endBusy();
}

} // namespace tq
