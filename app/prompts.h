// Message boxes of the program, replaceable so that tests can answer them.
//
// Every question and error box of the windows goes through these functions. By
// default they show modal QMessageBoxes; a test installs its own handlers to
// answer questions and to record errors without a user.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace tq::sealed {
class SecretBytes;
}

namespace tq::prompts {

// The icon a Yes/No box shows: a question mark (confirmations), or the
// information sign.
enum class Icon { Question, Information };

// Asks a Yes/No question; true only for Yes.
using QuestionHandler =
    std::function<bool(QWidget* parent, const QString& title, const QString& text, Icon icon)>;
// Shows an error message.
using ErrorHandler = std::function<void(QWidget* parent, const QString& title, const QString& text)>;

// Asks whether to trust a server certificate that failed verification; true
// only when the user chose to trust exactly that certificate for that server.
using CertificateHandler = std::function<bool(QWidget* parent, const QString& server,
                                              const QString& problem, const QString& fingerprint)>;

// Asks for a line of text in an input box that starts with `value`; true on OK
// (`value` then holds the answer), false on Cancel (`value` unchanged).
using InputHandler =
    std::function<bool(QWidget* parent, const QString& title, const QString& label, QString& value)>;

bool askYesNo(QWidget* parent, const QString& title, const QString& text, Icon icon = Icon::Question);
bool askText(QWidget* parent, const QString& title, const QString& label, QString& value);
bool askTrustCertificate(QWidget* parent, const QString& server, const QString& problem,
                         const QString& fingerprint);
void showError(QWidget* parent, const QString& title, const QString& text);

// Installs handlers (an empty function restores the message box) and returns the
// previous one.
QuestionHandler setQuestionHandler(QuestionHandler handler);
ErrorHandler setErrorHandler(ErrorHandler handler);
CertificateHandler setCertificateHandler(CertificateHandler handler);
InputHandler setInputHandler(InputHandler handler);

// Asks for the passphrase of a sealed file. A new passphrase (`confirm`) is typed
// twice, with a strength hint, and an empty one is refused.
struct PassphraseRequest {
    QString title;
    QString text;
    bool confirm = false;
};
// Returns false when cancelled; otherwise `passphrase` holds the typed text as
// UTF-8 in locked memory. (The dialog lives in passphrase_dialog.cpp.)
using PassphraseHandler =
    std::function<bool(QWidget* parent, const PassphraseRequest& request, sealed::SecretBytes& passphrase)>;
bool askPassphrase(QWidget* parent, const PassphraseRequest& request, sealed::SecretBytes& passphrase);
PassphraseHandler setPassphraseHandler(PassphraseHandler handler);

} // namespace tq::prompts
