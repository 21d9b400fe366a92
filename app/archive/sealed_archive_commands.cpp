// The archive window's sealed archives: "Verzegeld opslaan", and the opening and
// saving again of an archive kept in a sealed file.
#include "app/archive/compressie_window.h"

#include "app/seams.h"
#include "archive/sealed_archive.h"
#include "platform/coredump.h"

#include <QFileInfo>

#include <optional>
#include <string>

namespace tq {
sealed::Work TfrmCompressie::sealedWork()
{
    sealed::Work work;
    work.yield = &yield_.hook();
    work.stop = &StopRequested;
    work.progress = [this](int percent) {
        Progress = percent;
        updateStatusBar();
    };
    return work;
}

void TfrmCompressie::beginSealedWork()
{
    // Nothing of the archive may end up in a core file.
    stopCoreDumps();
    StopRequested = false;
    Progress = 0;
    drawStatusbar();
}

void TfrmCompressie::endSealedWork()
{
    Progress = 0;
    ProgressVisible = false;
    StopRequested = false;
    StatusBar->update();
}

bool TfrmCompressie::loadSealedArchive(const QString& path)
{
    // A sealed memo is refused before its passphrase is asked.
    sealed_archive::RequireArchive(path.toStdString());
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Verzegeld archief openen");
    ask.text = QStringLiteral("Wachtwoordzin van \"%1\":").arg(QFileInfo(path).fileName());
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(this, ask, passphrase)) {
        return false;
    }
    beginSealedWork();
    // The whole file is authenticated before the container is touched; a refusal
    // is reported by the guard and leaves the archive that was open.
    std::optional<sealed::SealKey> key = sealed_archive::Open(frame_, path.toStdString(), passphrase, sealedWork());
    endSealedWork();
    if (!key) {
        return false;
    }
    sealKey_ = std::move(key);
    return true;
}

bool TfrmCompressie::saveSealedArchive(const QString& path, const sealed::SealKey& key)
{
    beginSealedWork();
    const bool written = sealed_archive::Save(frame_, path.toStdString(), key, sealedWork());
    endSealedWork();
    return written;
}

void TfrmCompressie::saveSealedCommand()
{
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = QStringLiteral("Verzegeld opslaan");
    request.fileName = QStringLiteral("*.tqs");
    request.filter = QStringLiteral("Verzegelde archieven|*.tqs");
    request.defaultSuffix = QStringLiteral("tqs");
    request.confirmOverwrite = true;
    const QStringList chosen = runFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    const QString path = chosen.first();
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Verzegeld opslaan");
    ask.text = QStringLiteral("Kies een wachtwoordzin voor \"%1\". Zonder die wachtwoordzin is niets van "
                              "het archief te lezen, ook de namen van de bestanden niet.")
                   .arg(QFileInfo(path).fileName());
    ask.confirm = true;
    ask.whenEmpty = QStringLiteral("De wachtwoordzin mag niet leeg zijn; het archief is niet opgeslagen.");
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(this, ask, passphrase)) {
        return;
    }
    beginSealedWork();
    std::optional<sealed::SealKey> key =
        sealed_archive::SaveNew(frame_, path.toStdString(), passphrase, SealParams, sealedWork());
    endSealedWork();
    if (!key) {
        return;
    }
    // From now on Save writes the archive sealed with this key.
    sealKey_ = std::move(key);
    setWindowTitle(QStringLiteral("Compressie - ") + QFileInfo(path).fileName());
    Saved = true;
}

} // namespace tq
