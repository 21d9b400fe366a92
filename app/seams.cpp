#include "app/seams.h"

#include "app/mail/certificate_dialog.h"

#include <QAbstractPrintDialog>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>

namespace tq {
namespace {

struct QuestionSeam;
struct AnswerSeam;
struct ErrorSeam;
struct InputSeam;
struct CertificateSeam;
struct FileDialogSeam;
struct PrintDialogSeam;

const QString kAllFilesPattern = QStringLiteral("*.*");

// A start name or pattern as the dialog shows it: "*.*" is every file.
QString dialogName(const QString& name)
{
    return name == kAllFilesPattern ? QStringLiteral("*") : name;
}

// "*.X|*.X" as a Qt name filter: the description and the dialog's patterns.
QString qtFilter(const QString& filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString description = bar < 0 ? filter : filter.left(bar);
    return description + QStringLiteral(" (") + dialogPatterns(filter).join(QLatin1Char(' ')) + QLatin1Char(')');
}

QStringList runQtDialog(QWidget* parent, const FileRequest& request)
{
    // A start folder that does not exist (a missing desktop folder is common on
    // Linux) would otherwise turn into a proposed file name.
    QString folder = request.folder;
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    QFileDialog dialog(dialogParent(parent), request.title, folder);
    QStringList filters{qtFilter(request.filter)};
    for (const QString& more : request.moreFilters) {
        filters.push_back(qtFilter(more));
    }
    dialog.setNameFilters(filters);
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
    }
    switch (request.kind) {
    case FileRequest::Kind::OpenOne:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        break;
    case FileRequest::Kind::OpenMany:
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        break;
    case FileRequest::Kind::Save:
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
        break;
    }
    // The start name may be a pattern ("*.crp"), as on Windows: typed over, or
    // confirmed, it filters the list.
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(dialogName(request.fileName));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

} // namespace

QWidget* dialogParent(QWidget* parent)
{
    // A dialog whose parent is disabled is disabled itself and takes neither
    // clicks nor keys; a window that blocks its owner (the send window over
    // the main window) would leave such a question unanswerable.
    if (parent == nullptr || parent->window()->isEnabled()) {
        return parent;
    }
    for (QWidget* candidate : {QApplication::activeModalWidget(), QApplication::activeWindow()}) {
        if (candidate != nullptr && candidate->isEnabled() && candidate->isVisible()) {
            return candidate;
        }
    }
    return nullptr;
}

QStringList dialogPatterns(const QString& filter)
{
    const int bar = filter.indexOf(QLatin1Char('|'));
    const QString patterns = bar < 0 ? filter : filter.mid(bar + 1);
    QStringList all;
    for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString p = dialogName(pattern.trimmed());
        // File systems that tell letter case apart would hide "a.x" behind the
        // pattern "*.X", so each pattern is offered in both cases.
        for (const QString& variant : {p, p.toLower(), p.toUpper()}) {
            if (!all.contains(variant)) {
                all.push_back(variant);
            }
        }
    }
    return all;
}

// --- Message boxes

namespace prompts {

bool askYesNo(QWidget* parent, const QString& title, const QString& text, Icon icon)
{
    if (const auto& handler = installedHandler<QuestionSeam, QuestionHandler>()) {
        return handler(parent, title, text, icon);
    }
    parent = dialogParent(parent);
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto answer = icon == Icon::Information
                            ? QMessageBox::information(parent, title, text, buttons, QMessageBox::No)
                            : QMessageBox::question(parent, title, text, buttons, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

Answer askYesNoAllCancel(QWidget* parent, const QString& title, const QString& text)
{
    if (const auto& handler = installedHandler<AnswerSeam, AnswerHandler>()) {
        return handler(parent, title, text);
    }
    const auto answer = QMessageBox::question(
        dialogParent(parent), title, text,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::Cancel,
        QMessageBox::No);
    switch (answer) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::YesToAll:
        return Answer::YesToAll;
    default:
        return Answer::Cancel;
    }
}

bool askTrustCertificate(QWidget* parent, const QString& server, const QString& problem,
                         const QString& fingerprint)
{
    if (const auto& handler = installedHandler<CertificateSeam, CertificateHandler>()) {
        return handler(parent, server, problem, fingerprint);
    }
    TCertificateDialog dialog(server, problem, fingerprint, dialogParent(parent));
    return dialog.exec() == QDialog::Accepted;
}

bool askText(QWidget* parent, const QString& title, const QString& label, QString& value, Echo echo)
{
    if (const auto& handler = installedHandler<InputSeam, InputHandler>()) {
        return handler(parent, title, label, value, echo);
    }
    bool ok = false;
    const QString answer = QInputDialog::getText(dialogParent(parent), title, label,
                                                 echo == Echo::Password ? QLineEdit::Password : QLineEdit::Normal,
                                                 value, &ok);
    if (ok) {
        value = answer;
    }
    return ok;
}

void showError(QWidget* parent, const QString& title, const QString& text)
{
    if (const auto& handler = installedHandler<ErrorSeam, ErrorHandler>()) {
        handler(parent, title, text);
        return;
    }
    QMessageBox::critical(dialogParent(parent), title, text);
}

QuestionHandler setQuestionHandler(QuestionHandler handler)
{
    return replaceHandler<QuestionSeam>(std::move(handler));
}

AnswerHandler setAnswerHandler(AnswerHandler handler)
{
    return replaceHandler<AnswerSeam>(std::move(handler));
}

ErrorHandler setErrorHandler(ErrorHandler handler)
{
    return replaceHandler<ErrorSeam>(std::move(handler));
}

InputHandler setInputHandler(InputHandler handler)
{
    return replaceHandler<InputSeam>(std::move(handler));
}

CertificateHandler setCertificateHandler(CertificateHandler handler)
{
    return replaceHandler<CertificateSeam>(std::move(handler));
}

} // namespace prompts

// --- File dialogs

QStringList runFileDialog(QWidget* parent, const FileRequest& request)
{
    if (const auto& runner = installedHandler<FileDialogSeam, FileDialogRunner>()) {
        return runner(parent, request);
    }
    return runQtDialog(parent, request);
}

QString runSingleFileDialog(QWidget* parent, const FileRequest& request)
{
    const QStringList chosen = runFileDialog(parent, request);
    return chosen.isEmpty() ? QString() : chosen.first();
}

FileDialogRunner setFileDialogRunner(FileDialogRunner runner)
{
    return replaceHandler<FileDialogSeam>(std::move(runner));
}

// --- The print dialog

bool runPrintDialog(QPrinter& printer, QWidget* parent)
{
    if (const auto& handler = installedHandler<PrintDialogSeam, PrintDialogHandler>()) {
        return handler(printer, parent);
    }
    QPrintDialog dialog(&printer, dialogParent(parent));
    // Printing to a file is not offered.
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    return dialog.exec() == QDialog::Accepted;
}

PrintDialogHandler setPrintDialogHandler(PrintDialogHandler handler)
{
    return replaceHandler<PrintDialogSeam>(std::move(handler));
}

} // namespace tq
