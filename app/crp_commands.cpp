// The main window's text-encryption commands: the key set and key files, the
// encrypt and decrypt commands, and opening and saving .crp files.
#include "app/mainwindow.h"

#include "app/lock/memo_lock.h"

#include "app/seams.h"
#include "app/userfolders.h"
#include "app/memoview.h"
#include "app/program.h"
#include "compress/compress.h"
#include "app/keys/key_value.h"
#include "app/keys/niveau_window.h"
#include "crypto/crpfile.h"
#include "app/keys/sleutel_window.h"
#include "platform/atomicfile.h"
#include "platform/codepage.h"
#include "platform/fileio.h"

#include <QAction>
#include <QFileInfo>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <limits>
#include <stdexcept>

namespace tq {
namespace {

// The file-name part of a path with A to Z in lower case (other letters kept).
QString asciiLowerName(const QString& path)
{
    QString name = QFileInfo(path).fileName();
    for (QChar& c : name) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            c = QChar(c.unicode() + ('a' - 'A'));
        }
    }
    return name;
}

// Keeps the memo's modified flag through a change of the text's form (encrypt,
// decrypt, the saved form of cipher text): whatever happens to the text inside
// the scope, the flag is as it was before.
class KeepModified {
public:
    explicit KeepModified(TfrmMemo& window) : window_(window), was_(window.memoModified()) {}
    ~KeepModified() { window_.setMemoModified(was_); }
    KeepModified(const KeepModified&) = delete;
    KeepModified& operator=(const KeepModified&) = delete;

private:
    TfrmMemo& window_;
    bool was_;
};

} // namespace

// ---------------------------------------------------------------------------
// Key set

QLineEdit* TfrmMemo::keyField(int n) const
{
    return keyEdits_.at(static_cast<std::size_t>(n - 1));
}

QSpinBox* TfrmMemo::keyUpDown(int n) const
{
    return keyUpDowns_.at(static_cast<std::size_t>(n - 1));
}

int TfrmMemo::keyNumber(int n) const
{
    return keyUpDown(n)->value();
}

void TfrmMemo::setKeyNumber(int n, int value)
{
    keyUpDown(n)->setValue(value);
}

QString TfrmMemo::keyText(int n) const
{
    return keyField(n)->text();
}

void TfrmMemo::setKeyText(int n, const QString& text)
{
    keyField(n)->setText(text);
}

void TfrmMemo::CodeKey1Change()
{
    if (CursorTimer != nullptr) {
        CursorTimer->start();
    }
    WorkingKeys.key1 = static_cast<std::uint8_t>(Scale1->value() & 0xFF);
    WorkingKeys.key2 = static_cast<std::uint8_t>(scale2->value() & 0xFF);
    WorkingKeys.key3 = static_cast<std::uint8_t>(Scale3->value() & 0xFF);
    WorkingKeys.key4 = Scale4->value();
}

CipherKeys TfrmMemo::workingTriple() const
{
    CipherKeys keys;
    keys.key1 = WorkingKeys.key1;
    keys.key2 = WorkingKeys.key2;
    keys.key3 = WorkingKeys.key3;
    return keys;
}

void TfrmMemo::SaveKeysCommand()
{
    const QString folder = desktopFolder();
    CursorTimer->start();
    QString texts[4];
    for (int n = 1; n <= 4; ++n) {
        texts[n - 1] = keyField(n)->text();
    }
    int written = 0;
    setPanel(0, QString());
    for (int n = 1; n <= 4; ++n) {
        FileRequest request;
        request.kind = FileRequest::Kind::Save;
        request.filter = QStringLiteral("*.ky%1").arg(n);
        request.defaultSuffix = QStringLiteral("ky%1").arg(n);
        request.fileName = request.filter;
        request.title = QStringLiteral("Save keys...");
        request.folder = folder;
        const QString path = runSingleFileDialog(this, request);
        if (path.isEmpty()) {
            break;
        }
        // The field's text as the only line: the text followed by CR LF. The
        // file is a document: replaced atomically, through a link in its place.
        const std::string bytes = cp1252::fromUtf8Lossy(texts[n - 1].toStdString()) + "\r\n";
        AtomicFile file(toFsPath(path));
        file.write(bytes.data(), bytes.size());
        file.commit();
        ++written;
    }
    setPanel(0, written == 4 ? QStringLiteral("Keys saved.") : QString());
}

void TfrmMemo::OpenKeysCommand()
{
    const QString folder = desktopFolder();
    CursorTimer->start();
    QString values[4] = {QString::number(WorkingKeys.key1), QString::number(WorkingKeys.key2),
                         QString::number(WorkingKeys.key3), QString::number(WorkingKeys.key4)};
    QString sources[4];
    bool cancelled = false;
    for (int n = 1; n <= 4; ++n) {
        FileRequest request;
        request.kind = FileRequest::Kind::OpenOne;
        request.filter = QStringLiteral("*.ky%1").arg(n);
        request.defaultSuffix = request.filter;
        request.fileName = request.filter;
        request.folder = folder;
        request.title = QStringLiteral("Open keys...");
        const QString path = runSingleFileDialog(this, request);
        if (path.isEmpty()) {
            cancelled = true;
            break;
        }
        const std::vector<std::string> lines =
            memoLines(readWholeText(toFsPath(path)));
        values[n - 1] = lines.empty() ? QString() : QString::fromStdString(cp1252::toUtf8(lines.front()));
        sources[n - 1] = QStringLiteral("key file \"%1\"").arg(path);
    }
    setPanel(0, cancelled ? QString() : QStringLiteral("Keys opened."));
    TfrmSleutel& dialog = program_.frmSleutel();
    if (dialog.isVisible()) {
        dialog.setBoxes(values);
    }
    // The working set takes the values one by one; a value that is not a whole
    // number ends the command there.
    std::int32_t numbers[4];
    for (int n = 1; n <= 4; ++n) {
        const QString where = sources[n - 1].isEmpty() ? QStringLiteral("key %1").arg(n) : sources[n - 1];
        numbers[n - 1] = keyValue(values[n - 1], where);
        switch (n) {
        case 1: WorkingKeys.key1 = static_cast<std::uint8_t>(numbers[0] & 0xFF); break;
        case 2: WorkingKeys.key2 = static_cast<std::uint8_t>(numbers[1] & 0xFF); break;
        case 3: WorkingKeys.key3 = static_cast<std::uint8_t>(numbers[2] & 0xFF); break;
        default: WorkingKeys.key4 = numbers[3]; break;
        }
    }
    // Up-downs first (a value outside the range sets the nearest bound), then
    // the fields' texts; each change of a field brings the working set in line
    // with the up-downs.
    for (int n = 1; n <= 4; ++n) {
        setKeyNumber(n, numbers[n - 1]);
    }
    for (int n = 1; n <= 4; ++n) {
        setKeyText(n, values[n - 1]);
    }
}

// ---------------------------------------------------------------------------
// Encrypted-text test and the cipher with this window's bar

bool TfrmMemo::RegelGecodeerd(std::string_view text)
{
    return IsCipherText(text);
}

bool TfrmMemo::Gecodeerd() const
{
    return RegelGecodeerd(Memo->text());
}

// Runs one cipher call with the progress bar shown over status panel 0.
std::string TfrmMemo::withCipherProgress(const std::function<std::string()>& run)
{
    ProgressPercent = 0;
    ProgressShown = true;
    drawStatusBar();
    std::string result;
    try {
        result = run();
    } catch (...) {
        ProgressShown = false;
        throw;
    }
    ProgressShown = false;
    setPanel(0, QString());
    StatusBar->update();
    return result;
}

std::string TfrmMemo::CodeLine(std::string_view text, const CipherKeys& keys)
{
    return withCipherProgress([&] { return cipher_->CodeLine(text, keys); });
}

std::string TfrmMemo::DeCodeLine(std::string_view cipher, const CipherKeys& keys)
{
    return withCipherProgress([&] { return cipher_->DeCodeLine(cipher, keys); });
}

std::string TfrmMemo::runCipherPasses(std::string_view text, bool encrypt, int passes)
{
    // Each pass's result is the next pass's input, kept as the cipher gave it
    // (a memo would turn a lone CR or LF into CR LF); only the last result goes
    // into the memo. The bar fills from empty for every pass.
    ProgressPercent = 0;
    ProgressShown = true;
    drawStatusBar();
    std::string result;
    try {
        result = encrypt ? cipher_->CodeLinePasses(text, workingTriple(), passes)
                         : cipher_->DeCodeLinePasses(text, workingTriple(), passes);
    } catch (...) {
        ProgressShown = false;
        throw;
    }
    ProgressShown = false;
    setPanel(0, QString());
    StatusBar->update();
    return result;
}

void TfrmMemo::restoreMemoBackup()
{
    Memo->setText(textBackup_);
    Memo->setSelection(Memo->textLength(), 0);
}

// ---------------------------------------------------------------------------
// Encrypt and decrypt commands

void TfrmMemo::EncryptCommand()
{
    runCipherCommand(true);
}

void TfrmMemo::DecryptCommand()
{
    runCipherCommand(false);
}

void TfrmMemo::EncryptWholeMemo()
{
    runCipherCommand(true, true);
}

void TfrmMemo::DecryptWholeMemo()
{
    runCipherCommand(false, true);
}

// Encrypts or decrypts the selection (one pass, unless `wholeMemo`) or the
// whole memo (key 4 + 1 passes). An abort, or a pass that cannot be done, gives the memo back exactly as
// it was: fewer passes than key 4 + 1 would give a file that never opens again.
void TfrmMemo::runCipherCommand(bool encrypt, bool wholeMemo)
{
    const KeepModified keep(*this);
    AbortRequested = false;
    DisableAll();
    Memo->setBusy(true);
    LineBackup = Memo->lines();
    textBackup_ = Memo->text();
    std::size_t total = 0;
    for (const std::string& line : LineBackup) {
        total += line.size();
    }
    try {
        const int key4 = Scale4->value();
        // Every pass makes the text four times longer: ask before many passes.
        const bool go =
            total > 0 &&
            (!encrypt || key4 < 3 ||
             prompts::askYesNo(this, QStringLiteral("Tarnquill"),
                               QStringLiteral("Weet u zeker dat u ") + QString::number(key4 * 32) +
                                   QStringLiteral(" bits codering wilt gebruiken."),
                               prompts::Icon::Information));
        if (go && !wholeMemo && Memo->selLength() > 0) {
            const std::string selection = Memo->selectedText();
            const std::string result =
                encrypt ? CodeLine(selection, workingTriple()) : DeCodeLine(selection, workingTriple());
            if (!AbortRequested) {
                Memo->replaceSelection(result);
            }
        } else if (go) {
            const std::string result = runCipherPasses(textBackup_, encrypt, key4 + 1);
            if (!AbortRequested) {
                Memo->selectAll();
                Memo->replaceSelection(result);
            }
        }
    } catch (...) {
        restoreMemoBackup();
        Memo->setBusy(false);
        throw;
    }
    if (AbortRequested && !ClosingConfirmed) {
        restoreMemoBackup();
    }
    ProgressPercent = 0;
    ProgressShown = false;
    Memo->setBusy(false);
    EnableAll();
    Memo->setFocus();
}

// ---------------------------------------------------------------------------
// .crp files

void TfrmMemo::enableAllMenuItems()
{
    for (QAction* a : mainMenuItems()) {
        a->setEnabled(true);
    }
}

void TfrmMemo::OpenCommand()
{
    if (!confirmDiscard()) {
        return;
    }
    FileRequest request;
    request.kind = FileRequest::Kind::OpenOne;
    request.folder = desktopFolder();
    request.fileName = QStringLiteral("*.crp");
    AbortRequested = false;
    request.filter = QStringLiteral("*.crp");
    request.title = QStringLiteral("Open encrypted file...");
    // Sealed files open through the same command (recognised by their content).
    request.moreFilters = QStringList{QStringLiteral("Sealed memo files|*.tqs"), QStringLiteral("All files|*")};
    const QString path = runSingleFileDialog(this, request);
    if (!path.isEmpty()) {
        OpenTarnFile(path);
    }
}

void TfrmMemo::OpenTarnFile(const QString& path)
{
    if (sealed::IsSealedFile(toFsPath(path))) {
        try {
            // A sealed archive belongs in the archive window, which asks its passphrase.
            if (sealed::StoredFileContent(toFsPath(path)) == sealed::Content::Archive) {
                openArgument(path);
                return;
            }
        } catch (const std::exception&) {
            // A damaged header: the memo's opening reports it.
        }
        OpenSealedFile(path, QStringLiteral("Tarnquill - ") + asciiLowerName(path));
        return;
    }
    setPanel(0, QString());
    DisableAll();
    CursorTimer->start();
    // The load cannot be aborted.
    imgBtnStop->hide();
    imgBtnStopBW->show();
    Memo->setBusy(true);
    const std::string previousText = Memo->text();
    const QString previousCaption = windowTitle();
    const bool previousModified = memoModified();
    Memo->clear();
    setWindowTitle(QStringLiteral("Tarnquill - ") + asciiLowerName(path));
    drawStatusBar();
    ProgressPercent = 0;
    ProgressShown = true;
    std::string stored;
    try {
        stored = crp::LoadText(*engine_, toFsPath(path), [this](int percent) {
            ProgressPercent = percent;
            UpdateStatusBar();
        });
    } catch (...) {
        // A file that cannot be read leaves the memo and the caption as they were.
        ProgressShown = false;
        Memo->setText(previousText);
        setWindowTitle(previousCaption);
        setMemoModified(previousModified);
        engine_->Bytes.ReleaseSpare();
        throw;
    }
    ProgressPercent = 0;
    engine_->Bytes.ReleaseSpare();
    Memo->clear();
    Memo->appendLine(stored);
    Memo->setSelection(Memo->textLength(), 0);
    DecryptCommand();
    setMemoModified(false);
    Lock->drop(); // the memo now belongs to this file, not to a sealed one
    setPanel(1, QStringLiteral("File opened."));
    imgBtnStop->hide();
    imgBtnStopBW->show();
    Memo->setBusy(false);
    EnableAll();
    enableAllMenuItems();
    ProgressShown = false;
    StatusBar->update();
}

void TfrmMemo::SaveCommand()
{
    const QString folder = desktopFolder();
    // A long command starts with the abort flag clear; otherwise an Abort
    // clicked during an earlier command would skip this save's dialog.
    AbortRequested = false;
    DisableAll();
    imgBtnStop->hide();
    imgBtnStopBW->show();
    CursorTimer->start();
    // Releases the engine's grown buffers whatever happens below.
    struct Release {
        TCompress& engine;
        ~Release() { engine.Bytes.ReleaseSpare(); }
    } release{*engine_};

    if (!Gecodeerd()) {
        EncryptCommand();
        // "No" to the bits question leaves the memo plain: saving it so takes a
        // second yes.
        if (!AbortRequested && !Gecodeerd() && !Memo->text().empty() &&
            !prompts::askYesNo(this, QStringLiteral("Tarnquill"),
                               QStringLiteral("Save the memo without encryption?"))) {
            AbortRequested = true;
        }
    } else if (const std::string text = Memo->text(); WithoutTrailingBreaks(text).size() != text.size()) {
        // Empty lines typed after cipher text: the file never holds them, so the
        // memo shows the one line it stores.
        const KeepModified keep(*this);
        Memo->setText(std::string(WithoutTrailingBreaks(text)));
    }
    DisableAll();
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.filter = QStringLiteral("*.crp");
    request.fileName = QStringLiteral("*.crp");
    request.defaultSuffix = QStringLiteral("crp");
    request.title = QStringLiteral("Save encryption file...");
    request.folder = folder;
    const QString path = AbortRequested ? QString() : runSingleFileDialog(this, request);
    if (!path.isEmpty()) {
        setPanel(0, QString());
        engine_->Reset();
        ProgressPercent = 0;
        ProgressShown = true;
        drawStatusBar();
        const std::int32_t skip = program_.niveau().UpDownSkipBytes->value();
        bool written = false;
        try {
            written = crp::SaveLines(*engine_, Memo->lines(), skip, toFsPath(path), [this](int percent) {
                ProgressPercent = percent;
                UpdateStatusBar();
            });
        } catch (...) {
            // The error's text says why; the caption keeps the name it had.
            ProgressShown = false;
            ProgressPercent = 0;
            setPanel(1, QStringLiteral("File not saved."));
            throw;
        }
        setPanel(0, QString());
        // A second Abort click keeps the file from being written: say so
        // instead of reporting a save. The caption names only a file written.
        if (written) {
            setWindowTitle(QStringLiteral("Tarnquill - ") + QFileInfo(path).fileName());
            setMemoModified(false);
        }
        setPanel(1, written ? QStringLiteral("File saved...") : QStringLiteral("File not saved."));
        ProgressShown = false;
        ProgressPercent = 0;
        StatusBar->update();
    }
    EnableAll();
    enableAllMenuItems();
}

} // namespace tq
