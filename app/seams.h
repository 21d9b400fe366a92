// The program's dialogs that wait for a user, made replaceable so that tests can
// answer them: message boxes (a question, an error, a line of text), the
// passphrase of sealed files, file dialogs, the archive window's folder picker
// and the print dialog.
//
// Every such dialog follows one style:
//   - the program calls one function that shows the dialog (askYesNo, askText,
//     showError, askPassphrase, runFileDialog, TPathDialog::ExeCute,
//     runPrintDialog);
//   - a handler type says what a replacement gets and answers;
//   - a set...Handler function installs a handler and returns the previous one;
//     an empty handler restores the real dialog.
// A test installs its handlers in SetUp and puts the previous ones back (or
// empty ones) in TearDown. A new kind of dialog is added here in the same way.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class QPrinter;
class QWidget;

namespace tq::sealed {
class SecretBytes;
}

namespace tq {

class TPathDialog;

// The storage of one seam's handler; `Tag` tells seams with equal handler
// types apart.
template <typename Tag, typename Handler>
Handler& installedHandler()
{
    static Handler handler;
    return handler;
}

// Installs `handler` for the seam and returns the previous one.
template <typename Tag, typename Handler>
Handler replaceHandler(Handler handler)
{
    Handler old = std::move(installedHandler<Tag, Handler>());
    installedHandler<Tag, Handler>() = std::move(handler);
    return old;
}

// The parent a dialog for `parent` gets: `parent` itself when its window is
// enabled, otherwise the active modal dialog or the active window when that is
// enabled, otherwise none (a top-level dialog). Every dialog below goes
// through it, so that a question asked for a disabled window takes clicks and
// keys.
QWidget* dialogParent(QWidget* parent);

// --- Message boxes -----------------------------------------------------------------

namespace prompts {

// The icon a Yes/No box shows: a question mark (confirmations), or the
// information sign.
enum class Icon { Question, Information };

// Asks a Yes/No question; true only for Yes.
using QuestionHandler =
    std::function<bool(QWidget* parent, const QString& title, const QString& text, Icon icon)>;
// Shows an error message.
using ErrorHandler = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
// How an input box shows what is typed: as it is, or masked (a password).
enum class Echo { Normal, Password };

// Asks for a line of text in an input box that starts with `value`; true on OK
// (`value` then holds the answer), false on Cancel (`value` unchanged).
using InputHandler = std::function<bool(QWidget* parent, const QString& title, const QString& label,
                                        QString& value, Echo echo)>;

// Asks whether to trust a server certificate that failed verification; true
// only when the user chose to trust exactly that certificate for that server.
using CertificateHandler = std::function<bool(QWidget* parent, const QString& server,
                                              const QString& problem, const QString& fingerprint)>;

// The answers of a question with the buttons Yes, No, Yes to all and Cancel.
enum class Answer { Yes, No, YesToAll, Cancel };
// Asks such a question (closing the box is Cancel).
using AnswerHandler = std::function<Answer(QWidget* parent, const QString& title, const QString& text)>;

bool askYesNo(QWidget* parent, const QString& title, const QString& text, Icon icon = Icon::Question);
Answer askYesNoAllCancel(QWidget* parent, const QString& title, const QString& text);
bool askTrustCertificate(QWidget* parent, const QString& server, const QString& problem,
                         const QString& fingerprint);
bool askText(QWidget* parent, const QString& title, const QString& label, QString& value,
             Echo echo = Echo::Normal);
void showError(QWidget* parent, const QString& title, const QString& text);

QuestionHandler setQuestionHandler(QuestionHandler handler);
AnswerHandler setAnswerHandler(AnswerHandler handler);
ErrorHandler setErrorHandler(ErrorHandler handler);
InputHandler setInputHandler(InputHandler handler);
CertificateHandler setCertificateHandler(CertificateHandler handler);

// Asks for the passphrase of a sealed file. A new passphrase (`confirm`) is typed
// twice, with a strength hint, and an empty one is refused.
struct PassphraseRequest {
    QString title;
    QString text;
    bool confirm = false;
    // For a new passphrase: the error shown when it comes back empty anyway
    // (askPassphrase then returns false), saying what was not done.
    QString whenEmpty;
};
// Returns false when cancelled or refused; otherwise `passphrase` holds the typed text as
// UTF-8 in locked memory. (The dialog lives in passphrase_dialog.cpp.)
using PassphraseHandler =
    std::function<bool(QWidget* parent, const PassphraseRequest& request, sealed::SecretBytes& passphrase)>;
bool askPassphrase(QWidget* parent, const PassphraseRequest& request, sealed::SecretBytes& passphrase);
PassphraseHandler setPassphraseHandler(PassphraseHandler handler);

} // namespace prompts

// --- File dialogs (memo files, key files, archives) ---------------------------------

struct FileRequest {
    enum class Kind {
        OpenOne,  // one existing file
        OpenMany, // one or more existing files
        Save,     // a file name to write
    };
    Kind kind = Kind::OpenOne;
    QString title;
    // Folder the dialog starts in (empty or missing: the home folder).
    QString folder;
    // The name the dialog starts with ("*.X").
    QString fileName;
    // The pattern offered ("*.crp"), or a description and patterns separated by '|'
    // ("*.X|*.X").
    QString filter;
    // Further patterns the user may switch to, in the same form as `filter`.
    QStringList moreFilters;
    // Extension added to a name typed without one ("X", "ky1"); empty for none.
    QString defaultSuffix;
    // Save only: ask before replacing an existing file.
    bool confirmOverwrite = true;
};

// The file-name patterns a dialog offers for a request's filter ("*.X|*.X" gives
// *.X, *.x). "*.*" means every file, as on Windows, so it becomes "*": on other
// systems "*.*" would hide names without a dot (README, Makefile).
QStringList dialogPatterns(const QString& filter);

// Returns the chosen files (empty when the dialog was cancelled).
using FileDialogRunner = std::function<QStringList(QWidget* parent, const FileRequest& request)>;

// Shows a QFileDialog for the request (or asks the installed runner).
QStringList runFileDialog(QWidget* parent, const FileRequest& request);
// The one chosen file of an OpenOne or Save request, or an empty string.
QString runSingleFileDialog(QWidget* parent, const FileRequest& request);

FileDialogRunner setFileDialogRunner(FileDialogRunner runner);

// --- The archive window's folder picker ------------------------------------------------

// Called by TPathDialog::ExeCute once the picker is shown, in place of a user;
// it answers the picker (selectFolder, btnOkClick, btnCancelClick, close).
using FolderPickerHandler = std::function<void(TPathDialog& dialog)>;

FolderPickerHandler setFolderPickerHandler(FolderPickerHandler handler);

// --- The print dialog -------------------------------------------------------------------

// Sets up `printer`; false when the user cancels.
using PrintDialogHandler = std::function<bool(QPrinter& printer, QWidget* parent)>;

// Shows a QPrintDialog (printing to a file is not offered), or asks the handler.
bool runPrintDialog(QPrinter& printer, QWidget* parent);

PrintDialogHandler setPrintDialogHandler(PrintDialogHandler handler);

} // namespace tq
