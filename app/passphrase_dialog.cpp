#include "app/passphrase_dialog.h"

#include "app/seams.h"
#include "crypto/sealed.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

namespace tq {
namespace {

struct PassphraseSeam;

// Overwrites a field's text before it is dropped (Qt keeps no undo history for
// password fields).
void wipeField(QLineEdit* field)
{
    QString text = field->text();
    field->clear();
    // Now the only holder of the characters: wiped in place.
    sealed::Wipe(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
}

bool runPassphraseDialog(QWidget* parent, const prompts::PassphraseRequest& request, sealed::SecretBytes& passphrase)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(request.title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro = new QLabel(request.text, &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    auto* first = new QLineEdit(&dialog);
    first->setEchoMode(QLineEdit::Password);
    first->setObjectName(QStringLiteral("edtPassphrase"));
    form->addRow(QStringLiteral("Passphrase:"), first);
    QLineEdit* second = nullptr;
    if (request.confirm) {
        second = new QLineEdit(&dialog);
        second->setEchoMode(QLineEdit::Password);
        second->setObjectName(QStringLiteral("edtPassphraseAgain"));
        form->addRow(QStringLiteral("Repeat:"), second);
    }
    layout->addLayout(form);
    auto* hint = new QLabel(&dialog);
    hint->setObjectName(QStringLiteral("lblStrength"));
    hint->setWordWrap(true);
    layout->addWidget(hint);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    // Ok only for a non-empty passphrase typed the same twice.
    auto refresh = [&] {
        const QString text = first->text();
        QString message;
        bool ok = !text.isEmpty();
        if (request.confirm) {
            message = text.isEmpty() ? QStringLiteral("Type a passphrase; an empty one is not accepted.")
                                     : passphraseStrengthHint(text);
            if (ok && second->text() != text) {
                ok = false;
                if (!second->text().isEmpty()) {
                    message += QStringLiteral("\nThe two passphrases differ.");
                }
            }
            message += QStringLiteral("\nA forgotten passphrase cannot be recovered.");
        }
        hint->setText(message);
        hint->setVisible(!message.isEmpty());
        buttons->button(QDialogButtonBox::Ok)->setEnabled(ok);
    };
    QObject::connect(first, &QLineEdit::textChanged, &dialog, refresh);
    if (second != nullptr) {
        QObject::connect(second, &QLineEdit::textChanged, &dialog, refresh);
    }
    refresh();

    const bool accepted = dialog.exec() == QDialog::Accepted && !first->text().isEmpty();
    if (accepted) {
        QByteArray utf8 = first->text().toUtf8();
        passphrase = sealed::SecretBytes::copyOf(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
        sealed::Wipe(utf8.data(), static_cast<std::size_t>(utf8.size()));
    }
    wipeField(first);
    if (second != nullptr) {
        wipeField(second);
    }
    return accepted;
}

} // namespace

QString passphraseStrengthHint(const QString& passphrase)
{
    // Works on the text itself: no set or copy of its characters is made.
    bool lower = false, upper = false, digit = false, other = false;
    qsizetype distinct = 0;
    for (qsizetype i = 0; i < passphrase.size(); ++i) {
        const QChar c = passphrase[i];
        if (passphrase.indexOf(c) == i) {
            ++distinct;
        }
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            lower = true;
        } else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            upper = true;
        } else if (c.isDigit()) {
            digit = true;
        } else {
            other = true;
        }
    }
    const int pool = (lower ? 26 : 0) + (upper ? 26 : 0) + (digit ? 10 : 0) + (other ? 33 : 0);
    // Repeats add little: characters beyond the distinct ones count half.
    const double length = static_cast<double>(distinct) + 0.5 * static_cast<double>(passphrase.size() - distinct);
    const int bits = pool > 0 ? static_cast<int>(length * std::log2(static_cast<double>(pool))) : 0;
    const char* word = bits < 40 ? "weak: easy to guess, use a longer one"
                       : bits < 60 ? "fair: add a few more words or characters"
                       : bits < 80 ? "good"
                                   : "strong";
    return QStringLiteral("Strength: %1 (about %2 bits).").arg(QString::fromLatin1(word)).arg(bits);
}

namespace prompts {

bool askPassphrase(QWidget* parent, const PassphraseRequest& request, sealed::SecretBytes& passphrase)
{
    const auto& handler = installedHandler<PassphraseSeam, PassphraseHandler>();
    const bool given = handler ? handler(parent, request, passphrase)
                               : runPassphraseDialog(dialogParent(parent), request, passphrase);
    if (given && request.confirm && passphrase.empty()) {
        showError(parent, request.title, request.whenEmpty);
        return false;
    }
    return given;
}

PassphraseHandler setPassphraseHandler(PassphraseHandler handler)
{
    return replaceHandler<PassphraseSeam>(std::move(handler));
}

} // namespace prompts
} // namespace tq
