// The send-mail window TMail: mails the memo by SMTP, optionally encrypted first
// with the user's key set or sealed with a passphrase, with file attachments.
//
// "Seal before sending" seals the memo (crypto/sealed.h) under a passphrase
// asked twice and sends it as ASCII armour (crypto/armor.h): 7-bit us-ascii
// lines of at most 76 characters that every relay passes unchanged. The memo
// itself stays as it is. Attachments go as they are. The two boxes exclude
// each other; neither is stored.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards. While it is the active window the main window is disabled; closing
// it enables the main window again and drops an open connection. The five
// account fields are stored enciphered (see mail_settings.h) when they are left
// and loaded again every time the window becomes active.
#pragma once

#include "mail/net/smtp_client.h"

#include <QDateTime>
#include <QWidget>

#include <optional>
#include <string>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace tq {

class TfrmMemo;
class TfrmDelAttach;
class TMailSecurityBox;
class TMailSecurityDialog;

class TMail : public QWidget {
    Q_OBJECT
public:
    // `memo` is the main window: its memo is mailed, its encrypt and decrypt
    // commands are used, and the window is centred over it when shown.
    explicit TMail(TfrmMemo& memo);

    // The attachment list window opened by the second and later Attachments clicks.
    void setAttachmentWindow(TfrmDelAttach* window) { frmDelAttach_ = window; }

    // --- Commands --------------------------------------------------------------
    // Activation: loads the stored fields, disables the main window.
    void FormActivate();
    // The send command.
    void btnVerzendenClick();
    void btnAnnulerenClick();
    void btnBijlagenClick();
    // A refused HELO: offers to retry with another user name and server; a
    // refused sign-in: with another sign-in name and password.
    void SmtpClientAuthenticationFailed(bool& Handled);

    // The status bar's text.
    QString statusText() const;
    // The Date header for a message sent at `moment`: an RFC 5322 date-time in
    // the local zone ("Thu, 15 Oct 1981 14:20:53 +0200").
    static std::string dateHeader(const QDateTime& moment);
    // The moment a send happening now carries: now, or the date the user chose
    // in the date field with the current time of day.
    QDateTime sendMoment() const;

    // --- Controls and state ------------------------------------------------------
    QWidget* pnlHeader = nullptr;
    QLineEdit* edtServername = nullptr;
    QLineEdit* edtUsername = nullptr;
    QLineEdit* edtName = nullptr;
    QLineEdit* edtSender = nullptr;
    QLineEdit* edtReplyAdress = nullptr;
    QLineEdit* edtOntvanger = nullptr;
    QLineEdit* edtOnderwerp = nullptr;
    QDateEdit* mailDateTime = nullptr;
    QLabel* lblOntvanger = nullptr;
    QCheckBox* chkCoderen = nullptr;
    QCheckBox* chkVerzegelen = nullptr;
    QPushButton* btnVerzenden = nullptr;
    QPushButton* btnAnnuleren = nullptr;
    QPushButton* btnBijlagen = nullptr;
    QStatusBar* StatusBar = nullptr;
    // Connection security and sign-in: a dialog opened by btnSecurity.
    QPushButton* btnSecurity = nullptr;
    TMailSecurityDialog* frmSecurity = nullptr;
    TMailSecurityBox* pnlSecurity = nullptr;

    TSmtpClient SmtpClient;
    // Ends the connect loop; set by the failure events and by closing.
    bool SendStopped = false;

    // The X-Mailer text of every message.
    static constexpr const char* kLocalProgram = mail::kMailerName;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void connectClient();
    void storeField(QLineEdit* field);
    void showStatus(const QString& text);
    void enableControls();
    void sendCommand();
    // Puts back the memo an unsent message was encrypted from.
    void restoreMemo();
    // The date field back at its start value: a chosen date serves one send.
    void resetDate();

    TfrmMemo& memo_;
    TfrmDelAttach* frmDelAttach_ = nullptr;
    // True once the user changed the date field.
    bool dateChosen_ = false;
    // True while the send command runs, and when the user closed the window
    // during it (its error is then not shown).
    bool sending_ = false;
    bool closedWhileSending_ = false;
    // The memo's text before it was encrypted for the running send.
    std::optional<std::string> memoBeforeSend_;
    // What the server said to QUIT after it took the message.
    std::string quitProblem_;
};

} // namespace tq
