// The connection-security controls of a mail window, ready to be placed in it:
// the mode ("None", "STARTTLS", "SSL/TLS"), the port, a button that shows the
// trusted certificates, and for sending "Sign in" with user name and password.
// Every change of a choice is stored at once (mail_security.h); the sign-in
// password (TPasswordStore) when its field or the login is left and when a
// send starts. When no keyring runs, a note says that the password is only
// obscured.
#pragma once

#include "app/mail/mail_security.h"
#include "app/mail/password_store.h"

#include <QDialog>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace tq {

class TMailSecurityBox : public QWidget {
    Q_OBJECT
public:
    // `password` keeps the sign-in password (sending only; ignored otherwise).
    TMailSecurityBox(mailsecurity::Direction direction, TPasswordStore::Obscured password,
                     QWidget* parent = nullptr);
    ~TMailSecurityBox() override;

    // Puts the stored choices and the sign-in password into the controls (the
    // window's activation).
    void load();
    // The server the sign-in password belongs to (the owner's server field).
    void setServer(std::function<QString()> server) { server_ = std::move(server); }
    // After a field of the sign-in account was left: the password field holds
    // the password of the account as it is now.
    void settlePassword();
    // Sets up a client from the stored choices, the sign-in password included.
    void prepare(TSmtpClient& client);
    void prepare(TPop3Client& client);
    // Whether the note that the password is only obscured is wanted (for the
    // receive window, whose own password field it concerns).
    void setPasswordNoteShown(bool shown);

    QComboBox* cmbSecurity = nullptr;
    QSpinBox* edtPort = nullptr;
    QPushButton* btnCertificates = nullptr;
    QCheckBox* chkSignIn = nullptr;
    QLineEdit* edtLogin = nullptr;
    QLineEdit* edtSignInPassword = nullptr;
    QLabel* lblObscured = nullptr;

private:
    void loadChoice();
    TMailAccount signInAccount() const;
    void storeChoice();
    void securityChanged(int index);
    void updateEnabled();
    void showCertificates();

    mailsecurity::Direction direction_;
    std::unique_ptr<TPasswordStore> password_;
    std::function<QString()> server_;
    bool loading_ = false;
    bool noteWanted_ = true;
    TSecurity shown_ = TSecurity::None;
};

// A small dialog holding a window's security controls, opened by its
// "Security..." button, so that the window keeps its own layout and size.
class TMailSecurityDialog : public QDialog {
    Q_OBJECT
public:
    TMailSecurityDialog(mailsecurity::Direction direction, TPasswordStore::Obscured password,
                        QWidget* parent);
    TMailSecurityBox* box = nullptr;
};

// The certificates the user trusts, one per line ("host:port" and
// fingerprint), with Remove.
class TTrustedCertificates : public QDialog {
    Q_OBJECT
public:
    explicit TTrustedCertificates(QWidget* parent = nullptr);
    void refill();

    QListWidget* lstCertificates = nullptr;
    QPushButton* btnRemove = nullptr;

private:
    void removeSelected();
};

} // namespace tq
