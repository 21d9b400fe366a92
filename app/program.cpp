#include "app/program.h"

#include "app/guard.h"
#include "app/help_window.h"
#include "app/info_window.h"
#include "app/mainwindow.h"
#include "app/systray.h"
#include "app/archive/compresskey_window.h"
#include "app/archive/compressie_window.h"
#include "app/archive/pathdialog_window.h"
#include "app/keys/niveau_window.h"
#include "app/keys/sleutel_window.h"
#include "app/mail/delattach_window.h"
#include "app/mail/mail_window.h"
#include "app/mail/mailontvangen_window.h"

#include <QTimer>
#include <QWidget>

namespace tq {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // Last line of defence: command handlers run inside runGuarded already, but
    // an exception from any other handler (paint, timers of other windows) ends
    // here instead of unwinding through the event loop.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const QString message = describeException(std::current_exception());
        QWidget* parent = receiver != nullptr && receiver->isWidgetType()
                              ? static_cast<QWidget*>(receiver)->window()
                              : nullptr;
        reportCommandFailure(parent, message);
        return false;
    }
}

TProgram::TProgram(const QStringList& arguments)
{
    const QString argument = arguments.isEmpty() ? QString() : arguments.first();
    frmMemo_ = std::make_unique<TfrmMemo>(*this, argument);
    QWidget* owner = frmMemo_.get();
    frmSleutel_ = std::make_unique<TfrmSleutel>(frmMemo_.get());
    mail_ = std::make_unique<TMail>(*frmMemo_);
    mailOntvangen_ = std::make_unique<TmailOntvangen>(*frmMemo_);
    frmDelAttach_ = std::make_unique<TfrmDelAttach>(owner);
    mail_->setAttachmentWindow(frmDelAttach_.get());
    frmDelAttach_->setAttachments(&mail_->SmtpClient.PostMessage.Attachments);
    mailOntvangen_->setSendWindow(mail_.get());
    frmHelp_ = std::make_unique<TfrmHelp>(owner);
    info_ = std::make_unique<Tinfo>(owner);
    niveau_ = std::make_unique<TNiveau>(owner);
    frmCompressie_ = std::make_unique<TfrmCompressie>(owner);
    pathDialog_ = std::make_unique<TPathDialog>(owner);
    frmCompressKey_ = std::make_unique<TfrmCompressKey>(owner);
    frmCompressie_->setDialogs(pathDialog_.get(), frmCompressKey_.get(), niveau_.get());

    if (frmMemo_->invisibleMode()) {
        // Only the archive window is seen, so closing it ends the program (after
        // the main window's usual question); a refused close shows it again.
        QObject::connect(frmCompressie_.get(), &TfrmCompressie::closed, frmMemo_.get(), [this] {
            QTimer::singleShot(0, frmMemo_.get(), [this] {
                if (!frmMemo_->close()) {
                    frmCompressie_->show();
                }
            });
        });
    }
}

TProgram::~TProgram()
{
    // The secondary windows go first: they may refer to the main window.
    frmCompressKey_.reset();
    pathDialog_.reset();
    frmCompressie_.reset();
    niveau_.reset();
    info_.reset();
    frmHelp_.reset();
    frmDelAttach_.reset();
    mailOntvangen_.reset();
    mail_.reset();
    frmSleutel_.reset();
    frmMemo_.reset();
}

void TProgram::start()
{
    TfrmMemo& memo = *frmMemo_;
    if (memo.invisibleMode()) {
        // Only the archive window may be seen: the main window is never shown, but
        // its start-up steps run all the same.
        memo.FormShow();
        return;
    }
    if (memo.startsMinimized()) {
        memo.Systray->startMinimized();
    } else {
        memo.show();
    }
}

std::vector<QWidget*> TProgram::windows() const
{
    return {frmMemo_.get(),  frmSleutel_.get(), mail_.get(),          mailOntvangen_.get(),
            frmDelAttach_.get(), frmHelp_.get(), info_.get(),        niveau_.get(),
            frmCompressie_.get(), pathDialog_.get(), frmCompressKey_.get()};
}

} // namespace tq
