#include "app/prompts.h"

#include "app/mail/certificate_dialog.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace tq::prompts {
namespace {

QuestionHandler& questionHandler()
{
    static QuestionHandler handler;
    return handler;
}

ErrorHandler& errorHandler()
{
    static ErrorHandler handler;
    return handler;
}

CertificateHandler& certificateHandler()
{
    static CertificateHandler handler;
    return handler;
}

InputHandler& inputHandler()
{
    static InputHandler handler;
    return handler;
}

} // namespace

bool askTrustCertificate(QWidget* parent, const QString& server, const QString& problem,
                         const QString& fingerprint)
{
    if (certificateHandler()) {
        return certificateHandler()(parent, server, problem, fingerprint);
    }
    TCertificateDialog dialog(server, problem, fingerprint, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool askText(QWidget* parent, const QString& title, const QString& label, QString& value)
{
    if (inputHandler()) {
        return inputHandler()(parent, title, label, value);
    }
    bool ok = false;
    const QString answer = QInputDialog::getText(parent, title, label, QLineEdit::Normal, value, &ok);
    if (ok) {
        value = answer;
    }
    return ok;
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text, Icon icon)
{
    if (questionHandler()) {
        return questionHandler()(parent, title, text, icon);
    }
    const auto buttons = QMessageBox::Yes | QMessageBox::No;
    const auto answer = icon == Icon::Information
                            ? QMessageBox::information(parent, title, text, buttons, QMessageBox::No)
                            : QMessageBox::question(parent, title, text, buttons, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void showError(QWidget* parent, const QString& title, const QString& text)
{
    if (errorHandler()) {
        errorHandler()(parent, title, text);
        return;
    }
    QMessageBox::critical(parent, title, text);
}

QuestionHandler setQuestionHandler(QuestionHandler handler)
{
    QuestionHandler old = std::move(questionHandler());
    questionHandler() = std::move(handler);
    return old;
}

ErrorHandler setErrorHandler(ErrorHandler handler)
{
    ErrorHandler old = std::move(errorHandler());
    errorHandler() = std::move(handler);
    return old;
}

CertificateHandler setCertificateHandler(CertificateHandler handler)
{
    CertificateHandler old = std::move(certificateHandler());
    certificateHandler() = std::move(handler);
    return old;
}

InputHandler setInputHandler(InputHandler handler)
{
    InputHandler old = std::move(inputHandler());
    inputHandler() = std::move(handler);
    return old;
}

} // namespace tq::prompts
