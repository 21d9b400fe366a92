#include "app/mail/mail_window.h"

#include "app/seams.h"
#include "app/armor_commands.h"
#include "app/guard.h"
#include "app/mail/delattach_window.h"
#include "app/mail/mail_form.h"
#include "app/mail/mail_settings.h"
#include "app/mail/security_box.h"
#include "app/mainwindow.h"
#include "app/memoview.h"
#include "app/windowsetup.h"
#include "mail/mail_errors.h"
#include "platform/codepage.h"
#include "platform/desktop/settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>

#include <cstdio>

namespace tq {
namespace {

constexpr int kWidth = 393;
constexpr int kHeight = 277;
constexpr int kFieldWidth = kWidth - mailform::kFieldX - 8;

// A field's text as the 8-bit text the mail carries.
std::string bytesOf(const QLineEdit* field)
{
    return cp1252::fromUtf8Lossy(field->text().toStdString());
}

} // namespace

TMail::TMail(TfrmMemo& memo)
    : QWidget(nullptr)
    , memo_(memo)
{
    setObjectName(QStringLiteral("TMail"));
    prepareWindow(this, QStringLiteral("Send e-mail"), QSize(kWidth, kHeight), Frame::FixedDialog, false);
    buildControls();
    connectClient();
}

void TMail::buildControls()
{
    pnlHeader = new QWidget(this);
    pnlHeader->setObjectName(QStringLiteral("pnlHeader"));
    pnlHeader->setGeometry(0, 0, kWidth, 8 * mailform::kRowPitch + 8);

    // Field, label, hint; the five account fields start empty and are filled
    // from the stored values on activation.
    int y = 6;
    auto row = [&](const char* name, const char* caption, const char* hint, QLabel** label = nullptr) {
        QLineEdit* field = mailform::addField(pnlHeader, name, QString::fromUtf8(caption), QString::fromUtf8(hint),
                                              y, kFieldWidth, label);
        y += mailform::kRowPitch;
        return field;
    };
    edtServername = row("edtServername", "SMTP server adress:", "SMTP server adres");
    edtUsername = row("edtUsername", "Username:", "Gebruikersnaam");
    edtName = row("edtName", "Sender name:", "Naam verzender");
    edtSender = row("edtSender", "Sender adress:", "Verzend adres");
    edtReplyAdress = row("edtReplyAdress", "Reply adress:", "Antwoord adres");
    edtOntvanger = row("edtOntvanger", "Send to...:", "Email adres ontvanger", &lblOntvanger);
    edtOnderwerp = row("edtOnderwerp", "Subject:", "Onderwerp van email");
    edtOnderwerp->setText(QStringLiteral("Geen"));

    auto* lblDate = new QLabel(QStringLiteral("Send date:"), pnlHeader);
    lblDate->setGeometry(mailform::kLabelX, y, mailform::kFieldX - mailform::kLabelX - 4, mailform::kFieldHeight);
    mailDateTime = new QDateEdit(pnlHeader);
    mailDateTime->setObjectName(QStringLiteral("mailDateTime"));
    mailDateTime->setGeometry(mailform::kFieldX, y, 120, mailform::kFieldHeight);
    mailDateTime->setToolTip(QStringLiteral("Datum van verzending"));
    mailDateTime->setCalendarPopup(true);
    mailDateTime->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    mailDateTime->setDateTime(QDateTime(QDate(1981, 10, 15), QTime(14, 20, 53)));
    lblDate->setBuddy(mailDateTime);
    connect(mailDateTime, &QDateEdit::dateChanged, this, [this] { dateChosen_ = true; });

    // Connection security and sign-in live in a dialog of their own, so that
    // the window keeps its layout.
    frmSecurity = new TMailSecurityDialog(
        mailsecurity::Direction::Send,
        {[] { return mailsettings::load("OutPassword", mailsettings::kSendKeys); },
         [](const QString& p) { mailsettings::store("OutPassword", p, mailsettings::kSendKeys); },
         [] { settings::remove("OutPassword"); }},
        this);
    pnlSecurity = frmSecurity->box;
    pnlSecurity->setServer([this] { return edtServername->text(); });

    chkCoderen = new QCheckBox(QStringLiteral("Encrypt before sending"), this);
    chkCoderen->setObjectName(QStringLiteral("chkCoderen"));
    chkCoderen->setToolTip(QStringLiteral("Bericht eerst coderen voor verzending"));
    chkCoderen->setGeometry(mailform::kLabelX, pnlHeader->height() + 2, 184, 20);
    chkVerzegelen = new QCheckBox(QStringLiteral("Seal before sending"), this);
    chkVerzegelen->setObjectName(QStringLiteral("chkVerzegelen"));
    chkVerzegelen->setToolTip(
        QStringLiteral("Bericht verzegelen met een wachtwoordzin (alleen de tekst; bijlagen gaan zoals ze zijn)"));
    chkVerzegelen->setGeometry(200, pnlHeader->height() + 2, kWidth - 200 - 8, 20);
    // Encrypted or sealed: one of the two, or neither.
    connect(chkCoderen, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            chkVerzegelen->setChecked(false);
        }
    });
    connect(chkVerzegelen, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            chkCoderen->setChecked(false);
        }
    });

    const int buttonY = pnlHeader->height() + 28;
    btnBijlagen = new QPushButton(QStringLiteral("&Attachments"), this);
    btnBijlagen->setObjectName(QStringLiteral("btnBijlagen"));
    btnBijlagen->setGeometry(8, buttonY, 96, 25);
    btnSecurity = new QPushButton(QStringLiteral("Securit&y..."), this);
    btnSecurity->setObjectName(QStringLiteral("btnSecurity"));
    btnSecurity->setToolTip(QStringLiteral("Connection security and signing in"));
    btnSecurity->setGeometry(112, buttonY, 88, 25);
    connect(btnSecurity, &QPushButton::clicked, this, guarded(this, [this] {
                pnlSecurity->load();
                frmSecurity->exec();
            }));
    btnVerzenden = new QPushButton(QStringLiteral("&Send"), this);
    btnVerzenden->setObjectName(QStringLiteral("btnVerzenden"));
    btnVerzenden->setGeometry(kWidth - 2 * 88, buttonY, 80, 25);
    btnVerzenden->setDefault(true);
    btnAnnuleren = new QPushButton(QStringLiteral("&Cancel"), this);
    btnAnnuleren->setObjectName(QStringLiteral("btnAnnuleren"));
    btnAnnuleren->setGeometry(kWidth - 88, buttonY, 80, 25);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setGeometry(0, kHeight - 19, kWidth, 19);

    connect(btnVerzenden, &QPushButton::clicked, this, [this] { btnVerzendenClick(); });
    connect(btnAnnuleren, &QPushButton::clicked, this, guarded(this, [this] { btnAnnulerenClick(); }));
    connect(btnBijlagen, &QPushButton::clicked, this, guarded(this, [this] { btnBijlagenClick(); }));

    for (QLineEdit* field : {edtServername, edtUsername, edtName, edtSender, edtReplyAdress}) {
        mailform::onLeave(field, [this, field] { storeField(field); });
    }
}

void TMail::connectClient()
{
    SmtpClient.Port = 25;
    SmtpClient.ReportLevel = 0;
    SmtpClient.EncodeType = uuMime;
    SmtpClient.ClearParams = true;
    SmtpClient.SubType = mtPlain;
    SmtpClient.Charset = "us-ascii";
    SmtpClient.PostMessage.LocalProgram = kLocalProgram;
    SmtpClient.OnSuccess = [this] {
        showStatus(QStringLiteral("Disconnected"));
        // The server took the message: a goodbye it refuses (or a connection
        // it drops) does not undo that. The connection is closed in any case.
        try {
            SmtpClient.Disconnect();
        } catch (const EMailError& e) {
            quitProblem_ = e.what();
        }
    };
    SmtpClient.OnInvalidHost = [this](bool& Handled) {
        Handled = true;
        SendStopped = true;
    };
    SmtpClient.OnFailure = [this] { SendStopped = true; };
    SmtpClient.OnConnectionFailed = [this] { SendStopped = true; };
    SmtpClient.OnAuthenticationFailed = [this](bool& Handled) { SmtpClientAuthenticationFailed(Handled); };
}

// The stored values and the side effects of leaving a field.
void TMail::storeField(QLineEdit* field)
{
    if (field == edtServername) {
        mailsettings::store("OutServername", field->text(), mailsettings::kSendKeys);
        SmtpClient.Host = bytesOf(field);
        // The sign-in password belongs to the server.
        pnlSecurity->settlePassword();
    } else if (field == edtUsername) {
        mailsettings::store("OutUsername", field->text(), mailsettings::kSendKeys);
        SmtpClient.UserID = bytesOf(field);
    } else if (field == edtName) {
        mailsettings::store("OutName", field->text(), mailsettings::kSendKeys);
    } else if (field == edtSender) {
        mailsettings::store("OutSender", field->text(), mailsettings::kSendKeys);
        // The reply address follows the sender until the user changes it; it is
        // stored when the reply field itself is left.
        edtReplyAdress->setText(field->text());
    } else if (field == edtReplyAdress) {
        mailsettings::store("OutReplyadress", field->text(), mailsettings::kSendKeys);
    }
}

void TMail::FormActivate()
{
    edtServername->setText(mailsettings::load("OutServername", mailsettings::kSendKeys));
    edtUsername->setText(mailsettings::load("OutUsername", mailsettings::kSendKeys));
    edtName->setText(mailsettings::load("OutName", mailsettings::kSendKeys));
    edtSender->setText(mailsettings::load("OutSender", mailsettings::kSendKeys));
    edtReplyAdress->setText(mailsettings::load("OutReplyadress", mailsettings::kSendKeys));
    mailform::loadOnActivation(StatusBar, [this] { pnlSecurity->load(); });
    pnlHeader->setEnabled(true);
    memo_.setEnabled(false);
    QFont bold = lblOntvanger->font();
    bold.setBold(true);
    lblOntvanger->setFont(bold);
    edtServername->setFocus();
}

QString TMail::statusText() const
{
    return StatusBar->currentMessage();
}

void TMail::showStatus(const QString& text)
{
    StatusBar->showMessage(text);
}

void TMail::enableControls()
{
    btnVerzenden->setEnabled(true);
    btnBijlagen->setEnabled(true);
    pnlHeader->setEnabled(true);
}

std::string TMail::dateHeader(const QDateTime& moment)
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    return mail::dateText(date.year(), date.month(), date.day(), date.dayOfWeek(), time.hour(), time.minute(),
                          time.second(), moment.offsetFromUtc() / 60);
}

QDateTime TMail::sendMoment() const
{
    const QDateTime now = QDateTime::currentDateTime();
    if (!dateChosen_) {
        return now;
    }
    return QDateTime(mailDateTime->date(), now.time());
}

void TMail::btnVerzendenClick()
{
    mailform::run(
        this, [this] { sendCommand(); },
        [this] {
            // A failed or stopped send: the memo as it was, the main window out
            // of its busy state, the controls ready for another try.
            restoreMemo();
            if (!memo_.ControlsEnabled) {
                memo_.EnableAll();
            }
            enableControls();
        },
        [this] { return closedWhileSending_; },
        [this](const QString& error) {
            showStatus(closedWhileSending_ ? QStringLiteral("Not sent: the send was stopped.")
                                           : QStringLiteral("Not sent: ") + error);
        });
}

void TMail::restoreMemo()
{
    if (memoBeforeSend_) {
        memo_.Memo->setText(*memoBeforeSend_);
        memoBeforeSend_.reset();
    }
}

void TMail::sendCommand()
{
    sending_ = true;
    closedWhileSending_ = false;
    memoBeforeSend_.reset();
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{sending_};

    // 1.
    pnlHeader->setEnabled(false);
    btnVerzenden->setEnabled(false);
    btnBijlagen->setEnabled(false);
    SendStopped = false;
    // 2. The message. The subject ends with a no-break space (0xA0). Every
    // recipient named in the field (separated by "," or ";") gets the mail.
    TPostMessage& message = SmtpClient.PostMessage;
    SmtpClient.Host = bytesOf(edtServername);
    SmtpClient.UserID = bytesOf(edtUsername);
    pnlSecurity->prepare(SmtpClient);
    message.FromAddress = bytesOf(edtSender);
    message.ToAddress = mail::splitRecipients(bytesOf(edtOntvanger));
    message.Subject = bytesOf(edtOnderwerp) + "\xA0";
    message.FromName = bytesOf(edtName);
    message.ReplyTo = bytesOf(edtReplyAdress);
    message.Date = dateHeader(sendMoment());
    message.LocalProgram = kLocalProgram;

    // 3.
    bool filled = true;
    for (const QLineEdit* field :
         {edtServername, edtUsername, edtName, edtSender, edtReplyAdress, edtOntvanger, edtOnderwerp}) {
        filled = filled && field->text().size() >= 2;
    }
    if (filled) {
        const bool encrypt = chkCoderen->isChecked();
        if (encrypt && !memo_.Gecodeerd()) {
            // The whole memo, whatever is selected: the mail must decrypt with
            // the key set alone. Kept so that a send that fails gives it back.
            memoBeforeSend_ = memo_.Memo->text();
            memo_.EncryptWholeMemo();
            if (closedWhileSending_) {
                throw EAbortError("Sending stopped");
            }
            // Declined (the bits question) or aborted: the text must not go out
            // in the clear when the user asked for it to be encrypted.
            bool hasText = false;
            for (const std::string& line : memo_.Memo->lines()) {
                hasText = hasText || !line.empty();
            }
            if (hasText && !memo_.Gecodeerd()) {
                throw EMailError("The memo was not encrypted, so the message was not sent.");
            }
        }
        if (chkVerzegelen->isChecked()) {
            // The memo sealed, as armour; the memo itself stays as it is.
            std::string plain = memo_.Memo->text();
            memo_.AbortRequested = false;
            sealed::Work work;
            work.yield = &memo_.yieldPump().hook();
            work.stop = &memo_.AbortRequested;
            work.progress = [this](int percent) {
                showStatus(QStringLiteral("Sealing the memo... %1%").arg(percent));
            };
            std::optional<std::string> armour;
            try {
                armour = armourcommands::sealAsArmour(this, plain, memo_.SealParams, work);
            } catch (...) {
                sealed::Wipe(plain);
                throw;
            }
            sealed::Wipe(plain);
            if (closedWhileSending_) {
                throw EAbortError("Sending stopped");
            }
            if (!armour) {
                showStatus(QStringLiteral("Not sent: the memo was not sealed."));
                return;
            }
            message.Body = {*armour};
        } else {
            message.Body = memo_.Memo->lines();
        }
        while (!SmtpClient.Connected() && !SendStopped) {
            memo_.yieldPump().pumpNow();
            showStatus(QStringLiteral("Busy connecting."));
            if (SendStopped) {
                break;
            }
            SmtpClient.Connect();
            if (!SmtpClient.Connected()) {
                break; // a connect already running elsewhere
            }
        }
    }
    if (closedWhileSending_) {
        throw EAbortError("Sending stopped");
    }
    // 4. and 5.
    if (SmtpClient.Connected()) {
        if (edtOntvanger->text().size() < 5) {
            showStatus(QStringLiteral("Not all fields filled in."));
        } else {
            showStatus(QStringLiteral("Connected."));
            quitProblem_.clear();
            SmtpClient.SendPostMessage();
            // Sent: the memo is decrypted as a whole, the next send takes the
            // current date again.
            memoBeforeSend_.reset();
            resetDate();
            showStatus(quitProblem_.empty()
                           ? QStringLiteral("Disconnected")
                           : QStringLiteral("Message sent; the server answered QUIT with: ") +
                                 QString::fromStdString(cp1252::toUtf8(quitProblem_)));
            if (chkCoderen->isChecked()) {
                memo_.DecryptWholeMemo();
            }
            sending_ = false;
            close();
            return;
        }
    } else {
        showStatus(QStringLiteral("Not all fields filled in."));
    }
    // Not sent: an encrypted memo is given back as it was.
    restoreMemo();
    // 6. Controls come back through the command's restore step.
}

void TMail::resetDate()
{
    const QSignalBlocker quiet(mailDateTime);
    mailDateTime->setDateTime(QDateTime(QDate(1981, 10, 15), QTime(14, 20, 53)));
    dateChosen_ = false;
}

void TMail::btnAnnulerenClick()
{
    btnVerzenden->setEnabled(true);
    btnBijlagen->setEnabled(true);
    close();
}

void TMail::btnBijlagenClick()
{
    std::vector<std::string>& attachments = SmtpClient.PostMessage.Attachments;
    if (attachments.empty() || frmDelAttach_ == nullptr) {
        const QString path = askAttachmentFile(this);
        if (!path.isEmpty()) {
            attachments.push_back(path.toStdString());
        }
        return;
    }
    frmDelAttach_->show();
    frmDelAttach_->raise();
    frmDelAttach_->activateWindow();
}

void TMail::SmtpClientAuthenticationFailed(bool& Handled)
{
    SendStopped = true;
    const QString title = QStringLiteral("Incorrect username / password");
    if (!prompts::askYesNo(this, QStringLiteral("Tarnquill"), QStringLiteral("Incorrect username / password, Retry?."))) {
        Handled = false;
        return;
    }
    if (SmtpClient.SignInRefused()) {
        // Sign-in names and passwords are UTF-8; the password is asked for
        // masked, in an empty box (a cancelled box keeps the one tried).
        QString login = QString::fromStdString(SmtpClient.Login);
        QString password;
        prompts::askText(this, title, QStringLiteral("Username"), login);
        if (prompts::askText(this, title, QStringLiteral("Password"), password, prompts::Echo::Password)) {
            SmtpClient.Password = password.toStdString();
        }
        SmtpClient.Login = login.toStdString();
        Handled = true;
        return;
    }
    QString user = QString::fromStdString(cp1252::toUtf8(SmtpClient.UserID));
    prompts::askText(this, title, QStringLiteral("Username"), user);
    QString server;
    prompts::askText(this, title, QStringLiteral("Servername"), server);
    SmtpClient.UserID = cp1252::fromUtf8Lossy(user.toStdString());
    SmtpClient.Host = cp1252::fromUtf8Lossy(server.toStdString());
    Handled = true;
}

void TMail::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, &memo_);
    }
    QWidget::showEvent(event);
}

void TMail::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A running send keeps its controls as they are (a question box it shows
    // gives the activation back when it closes).
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !sending_) {
        runGuarded(this, [this] { FormActivate(); });
    }
}

void TMail::keyPressEvent(QKeyEvent* event)
{
    // The default and cancel buttons of the window.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && btnVerzenden->isEnabled()) {
        btnVerzenden->click();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        btnAnnuleren->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMail::closeEvent(QCloseEvent* event)
{
    memo_.setEnabled(true);
    memo_.IOFunctions->setEnabled(true);
    SendStopped = true;
    if (sending_) {
        // The running send ends at once (an encryption for it too); its error
        // is not shown.
        closedWhileSending_ = true;
        memo_.AbortRequested = true;
        SmtpClient.Abort();
    }
    if (SmtpClient.Connected()) {
        runGuarded(this, [this] { SmtpClient.Disconnect(); });
    }
    event->accept();
}

} // namespace tq
