// The receive-mail window TmailOntvangen: fetches the messages of a POP3
// mailbox, lists their subjects and puts a chosen message into the memo, to
// read it or to answer it; it can delete a message on the server.
//
// Created once at start-up with the other windows and only shown and hidden
// afterwards. While it is the active window the main window is disabled. After
// Open, Reply or Close hide it, the connection stays open for ten seconds
// (CloseTimer), so that coming back soon needs no new login.
//
// The listing reads only the headers of the messages (the status bar counts
// them, "n of N"); a message is read whole, and its attachments decoded, when
// it is opened or answered. Open of a message holding sealed text (ASCII
// armour, crypto/armor.h) asks for its passphrase and puts the text it seals
// in place of the block. What Open and Reply make of it comes from
// mail/message_text.h, which the command line's `mail read` uses too. Close
// during a connect or a retrieval stops it and ends the session, without an
// error box.
#pragma once

#include "app/mail/password_store.h"
#include "mail/net/pop3_client.h"

#include <QWidget>

#include <memory>

#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;

namespace tq {

class TfrmMemo;
class TMail;
class TMailSecurityBox;
class TMailSecurityDialog;

class TmailOntvangen : public QWidget {
    Q_OBJECT
public:
    // `memo` is the main window: messages go into its memo, and the window is
    // centred over it when shown.
    explicit TmailOntvangen(TfrmMemo& memo);

    // The send window a reply fills.
    void setSendWindow(TMail* window) { mail_ = window; }

    // --- Commands --------------------------------------------------------------
    void FormActivate();
    void btnOphalenClick();
    void btnSluitenClick();
    // Open, Reply and Delete work on the selected list entry.
    void listBerichtenDblClick();
    void Beantwoorden1Click();
    void VerwijderenClick();
    void CloseTimerTimer();
    // The component's questions.
    void Pop3ClientInvalidHost(bool& Handled);
    void Pop3ClientAuthenticationFailed(bool& Handled);
    void Pop3ClientDecodeStart(std::string& FileName);

    // The status bar's text.
    QString statusText() const;

    // --- Controls and state ------------------------------------------------------
    QWidget* pnlSettings = nullptr;
    QLineEdit* edtServername = nullptr;
    QLineEdit* edtUsername = nullptr;
    QLineEdit* edtPassword = nullptr;
    // Connection security: a dialog opened by btnSecurity.
    QPushButton* btnSecurity = nullptr;
    TMailSecurityDialog* frmSecurity = nullptr;
    TMailSecurityBox* pnlSecurity = nullptr;
    QListWidget* listBerichten = nullptr;
    QPushButton* btnOphalen = nullptr;
    QPushButton* btnSluiten = nullptr;
    QStatusBar* StatusBar = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* Beantwoorden1 = nullptr;
    QAction* Verwijderen = nullptr;
    QTimer* CloseTimer = nullptr;

    TPop3Client Pop3Client;
    bool ReceiveStopped = false;
    bool AskForAttachments = false;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Where the password is kept: the keyring, or the enciphered value.
    std::unique_ptr<TPasswordStore> password_;
    void buildControls();
    void connectClient();
    // The account of the fields: user name, server and the chosen port.
    TMailAccount account() const;
    // The password field holds the password of the account as it is now
    // (what was typed is stored first).
    void settlePassword();
    // With Security None and no connection yet: asks once per account whether
    // the password may cross the network readable; false when declined.
    bool clearTextAgreed();
    void showStatus(const QString& text);
    void receive();
    // Retrieves the selected message; false when nothing is selected.
    bool retrieveSelected();
    // Hides the window and gives control back to the main window.
    void handBack();
    void runCommand(const std::function<void()>& command);

    TfrmMemo& memo_;
    TMail* mail_ = nullptr;
    // True while a command runs; activation then leaves the controls alone.
    bool busy_ = false;
    // Set by Close during a command: its failure (the dropped connection)
    // is not shown.
    bool stopRequested_ = false;
};

} // namespace tq
