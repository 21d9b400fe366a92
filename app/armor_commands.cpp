// Sealed text as ASCII armour: the helpers of the mail windows and the memo's
// Edit > "Unseal text".
#include "app/armor_commands.h"

#include "app/mainwindow.h"
#include "app/memoview.h"
#include "app/seams.h"
#include "crypto/armor.h"
#include "platform/coredump.h"

namespace tq {
namespace armourcommands {
namespace {

const QString kErrorTitle = QStringLiteral("Tarnquill");

} // namespace

std::optional<std::string> sealAsArmour(QWidget* parent, std::string_view plain, const sealed::Params& params,
                                        const sealed::Work& work)
{
    prompts::PassphraseRequest ask;
    ask.title = QStringLiteral("Seal before sending");
    ask.text = QStringLiteral("Choose a passphrase for this message. The recipient needs it to read the memo: "
                              "tell it to them in another way than by mail.");
    ask.confirm = true;
    ask.whenEmpty = QStringLiteral("The passphrase must not be empty; the message was not sealed.");
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(parent, ask, passphrase)) {
        return std::nullopt;
    }
    stopCoreDumps();
    std::optional<std::string> file = sealed::Seal(plain, passphrase, params, work);
    if (!file) {
        return std::nullopt;
    }
    return armor::Armor(*file, "\r\n");
}

std::optional<Unsealed> unsealArmour(QWidget* parent, std::string_view text, const QString& title,
                                     const sealed::Work& work, const std::function<void(bool busy)>& busy)
{
    std::optional<armor::Found> found;
    try {
        found = armor::Find(text);
    } catch (const armor::ArmorError& e) {
        prompts::showError(parent, kErrorTitle, QString::fromUtf8(e.what()));
        return std::nullopt;
    }
    if (!found) {
        return std::nullopt;
    }
    prompts::PassphraseRequest ask;
    ask.title = title;
    ask.text = QStringLiteral("Passphrase of the sealed text:");
    sealed::SecretBytes passphrase;
    if (!prompts::askPassphrase(parent, ask, passphrase)) {
        return std::nullopt;
    }
    stopCoreDumps();
    if (busy) {
        busy(true);
    }
    std::optional<std::string> plain;
    try {
        plain = sealed::Unseal(found->bytes, passphrase, work);
    } catch (const sealed::SealedError& e) {
        if (busy) {
            busy(false);
        }
        prompts::showError(parent, kErrorTitle, QString::fromUtf8(e.what()));
        return std::nullopt;
    } catch (...) {
        if (busy) {
            busy(false);
        }
        throw;
    }
    if (busy) {
        busy(false);
    }
    if (!plain) {
        return std::nullopt;
    }
    Unsealed out;
    out.plain = std::move(*plain);
    out.begin = found->begin;
    out.end = found->end;
    return out;
}

} // namespace armourcommands

// Edit > "Unseal text": the first armour block in the memo is replaced by the
// text it seals; text around it (a greeting, a signature) stays, and Undo
// brings the block back.
void TfrmMemo::UnsealTextCommand()
{
    const std::string text = Memo->text();
    if (!armor::ContainsArmor(text)) {
        prompts::showError(this, QStringLiteral("Tarnquill"),
                           QStringLiteral("The memo holds no sealed text. Paste a block from the line \"%1\" to "
                                          "the line \"%2\" into the memo first.")
                               .arg(QString::fromLatin1(armor::kBeginLine.data(), armor::kBeginLine.size()),
                                    QString::fromLatin1(armor::kEndLine.data(), armor::kEndLine.size())));
        return;
    }
    std::optional<armourcommands::Unsealed> unsealed =
        armourcommands::unsealArmour(this, text, QStringLiteral("Unseal text"), sealedWork(), [this](bool busy) {
            if (busy) {
                beginBusy();
                startProgress();
            } else {
                ProgressPercent = 0;
                endBusy();
            }
        });
    if (!unsealed) {
        return;
    }
    Memo->setSelection(static_cast<int>(unsealed->begin), static_cast<int>(unsealed->end - unsealed->begin));
    Memo->replaceSelection(unsealed->plain);
    sealed::Wipe(unsealed->plain);
    setPanel(1, QStringLiteral("Text unsealed."));
}

} // namespace tq
