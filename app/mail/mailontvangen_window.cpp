#include "app/mail/mailontvangen_window.h"

#include "app/seams.h"
#include "app/armor_commands.h"
#include "app/guard.h"
#include "app/mail/mail_form.h"
#include "app/mail/mail_settings.h"
#include "app/mail/mail_window.h"
#include "app/mail/security_box.h"
#include "app/mainwindow.h"
#include "app/memoview.h"
#include "app/windowsetup.h"
#include "crypto/armor.h"
#include "mail/message_text.h"
#include "platform/codepage.h"
#include "platform/desktop/settings.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>

namespace tq {
namespace {

constexpr int kWidth = 392;
constexpr int kHeight = 351;
constexpr int kFieldWidth = kWidth - mailform::kFieldX - 8;

std::string bytesOf(const QString& text)
{
    return cp1252::fromUtf8Lossy(text.toStdString());
}

QString textOf(const std::string& bytes)
{
    return QString::fromStdString(cp1252::toUtf8(bytes));
}

} // namespace

TmailOntvangen::TmailOntvangen(TfrmMemo& memo)
    : QWidget(nullptr)
    , memo_(memo)
{
    setObjectName(QStringLiteral("TmailOntvangen"));
    prepareWindow(this, QStringLiteral("Receive e-mail"), QSize(kWidth, kHeight), Frame::FixedDialog, true);
    buildControls();
    connectClient();
}

void TmailOntvangen::buildControls()
{
    pnlSettings = new QWidget(this);
    pnlSettings->setObjectName(QStringLiteral("pnlSettings"));
    pnlSettings->setGeometry(0, 0, kWidth, 3 * mailform::kRowPitch + 10);
    edtServername = mailform::addField(pnlSettings, "edtServername", QStringLiteral("POP3 server adress:"),
                                       QStringLiteral("POP3 mail server"), 6, kFieldWidth);
    edtUsername = mailform::addField(pnlSettings, "edtUsername", QStringLiteral("Username:"),
                                     QStringLiteral("Gebruikersnaam"), 6 + mailform::kRowPitch, kFieldWidth);
    edtPassword = mailform::addField(pnlSettings, "edtPassword", QStringLiteral("Password:"),
                                     QStringLiteral("Paswoord"), 6 + 2 * mailform::kRowPitch, kFieldWidth);
    edtPassword->setEchoMode(QLineEdit::Password);
    password_ = std::make_unique<TPasswordStore>(
        "InPassword",
        TPasswordStore::Obscured{
            [] { return mailsettings::load("InPassword", mailsettings::kReceiveKeys); },
            [](const QString& p) { mailsettings::store("InPassword", p, mailsettings::kReceiveKeys); },
            [] { settings::remove("InPassword"); }},
        [this] { return account(); });
    // Connection security lives in a dialog of its own, so that the window
    // keeps its layout.
    frmSecurity = new TMailSecurityDialog(mailsecurity::Direction::Receive, {}, this);
    pnlSecurity = frmSecurity->box;

    const int listTop = pnlSettings->height() + 20;
    auto* lblSubjects = new QLabel(QStringLiteral("Subjects:"), this);
    lblSubjects->setGeometry(mailform::kLabelX, listTop - 18, 200, 16);
    listBerichten = new QListWidget(this);
    listBerichten->setObjectName(QStringLiteral("listBerichten"));
    listBerichten->setToolTip(QStringLiteral("Ontvangen e-mail berichten"));
    listBerichten->setGeometry(8, listTop, kWidth - 16, kHeight - 19 - 37 - listTop);
    listBerichten->setEnabled(false);
    listBerichten->installEventFilter(this);
    lblSubjects->setBuddy(listBerichten);

    PopupMenu = new QMenu(this);
    Beantwoorden1 = PopupMenu->addAction(QStringLiteral("&Beantwoorden"));
    Beantwoorden1->setObjectName(QStringLiteral("Beantwoorden1"));
    Verwijderen = PopupMenu->addAction(QStringLiteral("Ver&wijderen"));
    Verwijderen->setObjectName(QStringLiteral("Verwijderen"));
    listBerichten->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(listBerichten, &QListWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QListWidgetItem* item = listBerichten->currentItem();
        const bool selected = item != nullptr && item->isSelected();
        Beantwoorden1->setEnabled(selected);
        Verwijderen->setEnabled(selected);
        PopupMenu->popup(listBerichten->viewport()->mapToGlobal(pos));
    });
    connect(Beantwoorden1, &QAction::triggered, this, [this] { Beantwoorden1Click(); });
    connect(Verwijderen, &QAction::triggered, this, [this] { VerwijderenClick(); });
    connect(listBerichten, &QListWidget::itemDoubleClicked, this, [this] { listBerichtenDblClick(); });

    const int buttonY = kHeight - 19 - 31;
    btnOphalen = new QPushButton(QStringLiteral("&Receive"), this);
    btnOphalen->setObjectName(QStringLiteral("btnOphalen"));
    btnOphalen->setGeometry(kWidth - 2 * 88, buttonY, 80, 25);
    btnSluiten = new QPushButton(QStringLiteral("&Close"), this);
    btnSluiten->setObjectName(QStringLiteral("btnSluiten"));
    btnSluiten->setGeometry(kWidth - 88, buttonY, 80, 25);
    btnSecurity = new QPushButton(QStringLiteral("Securit&y..."), this);
    btnSecurity->setObjectName(QStringLiteral("btnSecurity"));
    btnSecurity->setToolTip(QStringLiteral("Connection security"));
    btnSecurity->setGeometry(8, buttonY, 88, 25);
    connect(btnSecurity, &QPushButton::clicked, this, guarded(this, [this] {
                pnlSecurity->load();
                frmSecurity->exec();
                // The port belongs to the account.
                settlePassword();
            }));
    connect(btnOphalen, &QPushButton::clicked, this, [this] { btnOphalenClick(); });
    connect(btnSluiten, &QPushButton::clicked, this, guarded(this, [this] { btnSluitenClick(); }));

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setGeometry(0, kHeight - 19, kWidth, 19);

    CloseTimer = new QTimer(this);
    CloseTimer->setObjectName(QStringLiteral("CloseTimer"));
    CloseTimer->setInterval(10000);
    CloseTimer->setSingleShot(true);
    connect(CloseTimer, &QTimer::timeout, this, guarded(this, [this] { CloseTimerTimer(); }));

    // The server name is stored when left, the user name at every change. The
    // password is stored when a field of its account is left (see
    // password_store.h); leaving the server or user name field for another
    // account brings that account's password.
    mailform::onLeave(edtServername, [this] {
        mailsettings::store("InServername", edtServername->text(), mailsettings::kReceiveKeys);
        settlePassword();
    });
    connect(edtUsername, &QLineEdit::textEdited, this, guarded(this, [this] {
                mailsettings::store("InUsername", edtUsername->text(), mailsettings::kReceiveKeys);
            }));
    mailform::onLeave(edtUsername, [this] { settlePassword(); });
    connect(edtPassword, &QLineEdit::textEdited, this,
            guarded(this, [this] { password_->edited(edtPassword->text()); }));
    mailform::onLeave(edtPassword, [this] { settlePassword(); });
}

void TmailOntvangen::connectClient()
{
    Pop3Client.Port = 110;
    Pop3Client.ReportLevel = 0;
    Pop3Client.Parse = false;
    Pop3Client.DeleteOnRead = false;
    Pop3Client.OnDisconnect = [this] { ReceiveStopped = true; };
    Pop3Client.OnFailure = [this] {
        ReceiveStopped = true;
        if (Pop3Client.Connected()) {
            Pop3Client.Disconnect();
        }
    };
    Pop3Client.OnInvalidHost = [this](bool& Handled) { Pop3ClientInvalidHost(Handled); };
    Pop3Client.OnAuthenticationFailed = [this](bool& Handled) { Pop3ClientAuthenticationFailed(Handled); };
    Pop3Client.OnDecodeStart = [this](std::string& FileName) { Pop3ClientDecodeStart(FileName); };
}

TMailAccount TmailOntvangen::account() const
{
    return {edtUsername->text(), edtServername->text(),
            pnlSecurity != nullptr ? static_cast<std::uint16_t>(pnlSecurity->edtPort->value()) : Pop3Client.Port};
}

void TmailOntvangen::settlePassword()
{
    mailform::settlePassword(*password_, edtPassword);
}

bool TmailOntvangen::clearTextAgreed()
{
    if (Pop3Client.Security != TSecurity::None || Pop3Client.Connected()) {
        return true;
    }
    const QString name = account().text();
    if (mailsecurity::clearTextAccepted(name)) {
        return true;
    }
    const QString question =
        QStringLiteral("The connection to %1 is not secured (Security: None): your user name and password will "
                       "cross the network readable for anyone on the way. Connect anyway?")
            .arg(edtServername->text());
    if (!prompts::askYesNo(this, QStringLiteral("Tarnquill"), question)) {
        return false;
    }
    mailsecurity::acceptClearText(name);
    return true;
}

void TmailOntvangen::FormActivate()
{
    pnlSettings->setEnabled(true);
    btnOphalen->setEnabled(true);
    btnOphalen->setFocus();
    listBerichten->clear();
    listBerichten->setEnabled(false);
    Beantwoorden1->setEnabled(false);
    memo_.setEnabled(false);
    edtServername->setText(mailsettings::load("InServername", mailsettings::kReceiveKeys));
    edtUsername->setText(mailsettings::load("InUsername", mailsettings::kReceiveKeys));
    pnlSecurity->load();
    edtPassword->clear();
    mailform::loadOnActivation(StatusBar, [this] { edtPassword->setText(password_->read()); });
}

QString TmailOntvangen::statusText() const
{
    return StatusBar->currentMessage();
}

void TmailOntvangen::showStatus(const QString& text)
{
    StatusBar->showMessage(text);
}

// Commands run inside the guard; whatever way they end, Receive and the
// settings come back. An error is shown unless the program is closing.
void TmailOntvangen::runCommand(const std::function<void()>& command)
{
    if (busy_) {
        return;
    }
    busy_ = true;
    stopRequested_ = false;
    mailform::run(
        this, command,
        [this] {
            busy_ = false;
            btnOphalen->setEnabled(true);
            pnlSettings->setEnabled(true);
        },
        [this] { return memo_.ClosingConfirmed || stopRequested_; });
}

void TmailOntvangen::btnOphalenClick()
{
    runCommand([this] { receive(); });
}

void TmailOntvangen::receive()
{
    // 1.
    pnlSettings->setEnabled(false);
    btnOphalen->setEnabled(false);
    AskForAttachments = false;
    // 2.
    if (edtServername->text().size() < 2) {
        return;
    }
    ReceiveStopped = false;
    // User name and password go to the server as UTF-8.
    settlePassword();
    Pop3Client.UserID = edtUsername->text().toStdString();
    Pop3Client.Password = edtPassword->text().toStdString();
    Pop3Client.Host = bytesOf(edtServername->text());
    pnlSecurity->prepare(Pop3Client);
    if (!clearTextAgreed()) {
        showStatus(QStringLiteral("Not connected: the password would cross the network readable."));
        return;
    }
    while (!Pop3Client.Connected() && !ReceiveStopped) {
        memo_.yieldPump().pumpNow();
        showStatus(QStringLiteral("Busy connecting."));
        if (!Pop3Client.Connected() && !ReceiveStopped) {
            Pop3Client.Connect();
            if (!Pop3Client.Connected()) {
                break; // a connect already running elsewhere
            }
        }
    }
    listBerichten->clear();
    int count = 0;
    if (Pop3Client.Connected()) {
        listBerichten->setEnabled(true);
        count = Pop3Client.MessageCount();
        const QString connection = QStringLiteral("Connection, Nr. of messages: ") + QString::number(count);
        showStatus(connection);
        // Only the headers are read (attachments wait until a message is
        // opened or answered); the status bar counts the messages listed.
        for (int number = 1; number <= count && !ReceiveStopped; ++number) {
            memo_.yieldPump().pumpNow();
            if (ReceiveStopped) {
                break;
            }
            showStatus(connection + QStringLiteral(", ") + QString::number(number) + QStringLiteral(" of ") +
                       QString::number(count));
            Pop3Client.RetrieveSummary(number);
            listBerichten->addItem(textOf(Pop3Client.Summary.Subject));
        }
    }
    Beantwoorden1->setEnabled(count >= 1);
}

bool TmailOntvangen::retrieveSelected()
{
    const int row = listBerichten->currentRow();
    if (row < 0) {
        return false;
    }
    Pop3Client.RetrieveMessage(row + 1);
    return true;
}

void TmailOntvangen::handBack()
{
    memo_.setEnabled(true);
    hide();
    if (Pop3Client.Connected()) {
        CloseTimer->start();
    }
}

void TmailOntvangen::listBerichtenDblClick()
{
    runCommand([this] {
        if (listBerichten->currentRow() < 0 || !memo_.confirmDiscard(this)) {
            return;
        }
        AskForAttachments = true;
        Beantwoorden1->setEnabled(false);
        if (!retrieveSelected()) {
            return;
        }
        std::string text = mail::openText(Pop3Client.MailMessage);
        if (armor::ContainsArmor(text)) {
            // A sealed message: its block becomes the memo it seals. A wrong
            // passphrase, a damaged block or Cancel leave the memo and this
            // window as they are, for another try.
            sealed::Work work;
            work.yield = &memo_.yieldPump().hook();
            work.stop = &stopRequested_;
            work.progress = [this](int percent) {
                showStatus(QStringLiteral("Unsealing the message... %1%").arg(percent));
            };
            std::optional<armourcommands::Unsealed> unsealed =
                armourcommands::unsealArmour(this, text, QStringLiteral("Open sealed message"), work);
            if (!unsealed) {
                showStatus(QStringLiteral("The sealed message was not opened."));
                return;
            }
            std::string opened = text.substr(0, unsealed->begin);
            opened += unsealed->plain;
            opened += text.substr(unsealed->end);
            sealed::Wipe(unsealed->plain);
            text.swap(opened);
            sealed::Wipe(opened);
            showStatus(QStringLiteral("Sealed message opened."));
        }
        memo_.Memo->setText(text);
        sealed::Wipe(text);
        memo_.setMemoModified(false);
        handBack();
    });
}

void TmailOntvangen::Beantwoorden1Click()
{
    runCommand([this] {
        if (listBerichten->currentRow() < 0 || !memo_.confirmDiscard(this)) {
            return;
        }
        if (!retrieveSelected()) {
            return;
        }
        memo_.Memo->setText(mail::replyText(Pop3Client.MailMessage));
        memo_.setMemoModified(false);
        memo_.setPanel(0, QStringLiteral("Reply to message."));
        if (mail_ != nullptr) {
            const mail::ReplyFields reply = mail::replyFields(Pop3Client.MailMessage);
            mail_->edtOntvanger->setText(textOf(reply.recipient));
            mail_->edtOnderwerp->setText(textOf(reply.subject));
        }
        ReceiveStopped = true;
        handBack();
        if (memo_.isVisible()) {
            memo_.Memo->setSelection(0, 0);
            memo_.Memo->ensureCaretVisible();
            memo_.activateWindow();
            memo_.Memo->setFocus();
        }
    });
}

void TmailOntvangen::VerwijderenClick()
{
    runCommand([this] {
        const int row = listBerichten->currentRow();
        if (row < 0) {
            return;
        }
        // A message deleted on the server is gone for good: one stray key must
        // not do it.
        const QString subject = listBerichten->item(row)->text();
        if (!prompts::askYesNo(this, QStringLiteral("Tarnquill"),
                               QStringLiteral("Bericht \"%1\" van de server verwijderen?").arg(subject))) {
            return;
        }
        Pop3Client.DeleteMessage(row + 1);
        // The server removes the message when the session ends.
        if (Pop3Client.Connected()) {
            Pop3Client.Disconnect();
        }
        receive();
    });
}

void TmailOntvangen::btnSluitenClick()
{
    ReceiveStopped = true;
    if (busy_) {
        // Close while a connect or a retrieval runs: the work stops and the
        // session ends (a wait in progress drops the connection, between two
        // commands QUIT is said), so that the mailbox is not left locked.
        // The running command then ends quietly.
        stopRequested_ = true;
        try {
            Pop3Client.Disconnect();
        } catch (const std::exception&) {
            // A refused or broken-off QUIT: the connection is closed all the same.
        }
    }
    hide();
    memo_.setEnabled(true);
    if (Pop3Client.Connected()) {
        CloseTimer->start();
    }
    if (memo_.isVisible()) {
        memo_.activateWindow();
    }
}

void TmailOntvangen::CloseTimerTimer()
{
    if (!isVisible() && Pop3Client.Connected()) {
        Pop3Client.Disconnect();
        close();
    }
    CloseTimer->stop();
}

void TmailOntvangen::Pop3ClientInvalidHost(bool& Handled)
{
    QString server;
    if (prompts::askText(this, QStringLiteral("Incorrect servername:"), QStringLiteral("Servername:"), server)) {
        Pop3Client.Host = bytesOf(server);
        Handled = true;
    }
}

void TmailOntvangen::Pop3ClientAuthenticationFailed(bool& Handled)
{
    ReceiveStopped = true;
    if (!prompts::askYesNo(this, QStringLiteral("Tarnquill"), QStringLiteral("Incorrect username / password, Retry?."))) {
        Handled = false;
        return;
    }
    // The password is asked for masked, in an empty box; a cancelled box
    // keeps the value tried.
    const QString title = QStringLiteral("Incorrect username / password");
    QString user = QString::fromStdString(Pop3Client.UserID);
    QString password;
    prompts::askText(this, title, QStringLiteral("Username"), user);
    if (prompts::askText(this, title, QStringLiteral("Password"), password, prompts::Echo::Password)) {
        Pop3Client.Password = password.toStdString();
    }
    Pop3Client.UserID = user.toStdString();
    Handled = true;
}

void TmailOntvangen::Pop3ClientDecodeStart(std::string& FileName)
{
    if (!AskForAttachments) {
        return;
    }
    FileRequest request;
    request.kind = FileRequest::Kind::Save;
    request.title = QStringLiteral("Save attachments in...");
    request.folder = Pop3Client.AttachFilePath();
    request.fileName = textOf(FileName);
    request.filter = QStringLiteral("*.*");
    request.confirmOverwrite = true;
    const QString chosen = runSingleFileDialog(this, request);
    if (chosen.isEmpty()) {
        return;
    }
    const QFileInfo info(chosen);
    Pop3Client.SetAttachFilePath(info.absolutePath());
    FileName = bytesOf(info.fileName());
}

void TmailOntvangen::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        centreOver(this, &memo_);
    }
    QWidget::showEvent(event);
}

void TmailOntvangen::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A command that runs keeps its controls as they are (a question box it
    // shows gives the activation back when it closes).
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !busy_) {
        runGuarded(this, [this] { FormActivate(); });
    }
}

bool TmailOntvangen::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == listBerichten && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            listBerichtenDblClick();
            return true;
        }
        if (key == Qt::Key_Delete && Verwijderen->isEnabled()) {
            VerwijderenClick();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TmailOntvangen::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        runGuarded(this, [this] { btnSluitenClick(); });
        return;
    }
    QWidget::keyPressEvent(event);
}

void TmailOntvangen::closeEvent(QCloseEvent* event)
{
    // However the window is closed, the main window is not left disabled.
    memo_.setEnabled(true);
    btnOphalen->setEnabled(true);
    btnSluiten->setEnabled(true);
    ReceiveStopped = true;
    event->accept();
}

} // namespace tq
