#include "app/mail/security_box.h"

#include "app/guard.h"
#include "app/mail/mail_form.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tq {

using mailsecurity::Direction;

TMailSecurityBox::TMailSecurityBox(Direction direction, TPasswordStore::Obscured password,
                                   QWidget* parent)
    : QWidget(parent)
    , direction_(direction)
{
    setObjectName(QStringLiteral("pnlSecurity"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    cmbSecurity = new QComboBox(this);
    cmbSecurity->setObjectName(QStringLiteral("cmbSecurity"));
    for (TSecurity s : {TSecurity::None, TSecurity::StartTls, TSecurity::SslTls}) {
        cmbSecurity->addItem(mailsecurity::securityName(s));
    }
    cmbSecurity->setToolTip(QStringLiteral("How the connection to the server is secured"));
    edtPort = new QSpinBox(this);
    edtPort->setObjectName(QStringLiteral("edtPort"));
    edtPort->setRange(1, 65535);
    edtPort->setToolTip(QStringLiteral("Port of the server"));
    btnCertificates = new QPushButton(QStringLiteral("C&ertificates..."), this);
    btnCertificates->setObjectName(QStringLiteral("btnCertificates"));
    btnCertificates->setToolTip(QStringLiteral("Certificates you chose to trust"));

    auto* securityLabel = new QLabel(QStringLiteral("Security:"), this);
    securityLabel->setBuddy(cmbSecurity);
    auto* portLabel = new QLabel(QStringLiteral("Port:"), this);
    portLabel->setBuddy(edtPort);
    grid->addWidget(securityLabel, 0, 0);
    grid->addWidget(cmbSecurity, 0, 1);
    grid->addWidget(portLabel, 0, 2);
    grid->addWidget(edtPort, 0, 3);
    grid->addWidget(btnCertificates, 0, 4);

    if (direction_ == Direction::Send) {
        password_ = std::make_unique<TPasswordStore>("OutPassword", std::move(password),
                                                     [this] { return signInAccount(); });
        chkSignIn = new QCheckBox(QStringLiteral("Sign in"), this);
        chkSignIn->setObjectName(QStringLiteral("chkSignIn"));
        chkSignIn->setToolTip(QStringLiteral("Sign in to the server with a user name and password"));
        edtLogin = new QLineEdit(this);
        edtLogin->setObjectName(QStringLiteral("edtLogin"));
        edtLogin->setPlaceholderText(QStringLiteral("User"));
        edtLogin->setToolTip(QStringLiteral("User name for signing in"));
        edtSignInPassword = new QLineEdit(this);
        edtSignInPassword->setObjectName(QStringLiteral("edtSignInPassword"));
        edtSignInPassword->setEchoMode(QLineEdit::Password);
        edtSignInPassword->setPlaceholderText(QStringLiteral("Password"));
        edtSignInPassword->setToolTip(QStringLiteral("Password for signing in"));
        grid->addWidget(chkSignIn, 1, 0);
        grid->addWidget(edtLogin, 1, 1);
        grid->addWidget(edtSignInPassword, 1, 2, 1, 3);
        connect(chkSignIn, &QCheckBox::toggled, this, guarded(this, [this] {
                    storeChoice();
                    updateEnabled();
                    settlePassword();
                }));
        connect(edtLogin, &QLineEdit::textEdited, this, [this] { storeChoice(); });
        connect(edtSignInPassword, &QLineEdit::textEdited, this,
                guarded(this, [this] { password_->edited(edtSignInPassword->text()); }));
        mailform::onLeave(edtLogin, [this] { settlePassword(); });
        mailform::onLeave(edtSignInPassword, [this] { settlePassword(); });
    }
    lblObscured = new QLabel(
        QStringLiteral("No keyring runs here: the password is only obscured, not encrypted."), this);
    lblObscured->setObjectName(QStringLiteral("lblObscured"));
    lblObscured->setWordWrap(true);
    QFont small = lblObscured->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    lblObscured->setFont(small);
    grid->addWidget(lblObscured, 2, 0, 1, 5);
    grid->setColumnStretch(1, 1);

    connect(cmbSecurity, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { runGuarded(this, [&] { securityChanged(index); }); });
    connect(edtPort, qOverload<int>(&QSpinBox::valueChanged), this, [this] { storeChoice(); });
    connect(edtPort, &QSpinBox::editingFinished, this, guarded(this, [this] { settlePassword(); }));
    connect(btnCertificates, &QPushButton::clicked, this, [this] { showCertificates(); });
    // The password is read when the window is shown, not at the program's start.
    loadChoice();
}

TMailSecurityBox::~TMailSecurityBox() = default;

void TMailSecurityBox::load()
{
    loadChoice();
    if (chkSignIn != nullptr && chkSignIn->isChecked()) {
        edtSignInPassword->clear();
        edtSignInPassword->setText(password_->read());
    }
}

void TMailSecurityBox::loadChoice()
{
    loading_ = true;
    const mailsecurity::Choice c = mailsecurity::load(direction_);
    shown_ = c.security;
    cmbSecurity->setCurrentIndex(static_cast<int>(c.security));
    edtPort->setValue(c.port);
    if (chkSignIn != nullptr) {
        chkSignIn->setChecked(c.signIn);
        edtLogin->setText(QString::fromStdString(c.login));
    }
    loading_ = false;
    updateEnabled();
}

void TMailSecurityBox::storeChoice()
{
    if (loading_) {
        return;
    }
    mailsecurity::Choice c;
    c.security = static_cast<TSecurity>(cmbSecurity->currentIndex());
    c.port = static_cast<std::uint16_t>(edtPort->value());
    if (chkSignIn != nullptr) {
        c.signIn = chkSignIn->isChecked();
        c.login = edtLogin->text().toStdString();
    }
    mailsecurity::store(direction_, c);
}

TMailAccount TMailSecurityBox::signInAccount() const
{
    return {edtLogin->text(), server_ ? server_() : QString(), static_cast<std::uint16_t>(edtPort->value())};
}

void TMailSecurityBox::settlePassword()
{
    // A password that is not used is neither read nor stored.
    if (edtSignInPassword == nullptr || loading_ || !chkSignIn->isChecked()) {
        return;
    }
    mailform::settlePassword(*password_, edtSignInPassword);
}

void TMailSecurityBox::securityChanged(int index)
{
    const auto chosen = static_cast<TSecurity>(index);
    if (!loading_ && edtPort->value() == mailsecurity::defaultPort(direction_, shown_)) {
        // The port followed the mode: it follows the new one.
        loading_ = true;
        edtPort->setValue(mailsecurity::defaultPort(direction_, chosen));
        loading_ = false;
    }
    shown_ = chosen;
    storeChoice();
    updateEnabled();
    if (!loading_) {
        settlePassword();
    }
}

void TMailSecurityBox::setPasswordNoteShown(bool shown)
{
    noteWanted_ = shown;
    updateEnabled();
}

void TMailSecurityBox::updateEnabled()
{
    const bool secure = cmbSecurity->currentIndex() != static_cast<int>(TSecurity::None);
    bool passwordUsed = noteWanted_;
    if (chkSignIn != nullptr) {
        // Signing in is offered only over a secure connection.
        chkSignIn->setEnabled(secure);
        const bool signIn = secure && chkSignIn->isChecked();
        edtLogin->setEnabled(signIn);
        edtSignInPassword->setEnabled(signIn);
        passwordUsed = signIn;
    }
    const bool obscured = passwordUsed && (password_ ? password_->obscuredOnly() : !keyring().available());
    lblObscured->setVisible(obscured);
}

void TMailSecurityBox::prepare(TSmtpClient& client)
{
    mailsecurity::prepare(client, window());
    // The sign-in password as UTF-8, stored first when it was typed.
    client.Password.clear();
    if (client.SignIn && password_) {
        settlePassword();
        client.Password = edtSignInPassword->text().toStdString();
    }
}

void TMailSecurityBox::prepare(TPop3Client& client)
{
    mailsecurity::prepare(client, Direction::Receive, window());
}

void TMailSecurityBox::showCertificates()
{
    TTrustedCertificates dialog(window());
    dialog.exec();
}

TMailSecurityDialog::TMailSecurityDialog(Direction direction, TPasswordStore::Obscured password,
                                         QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TMailSecurityDialog"));
    setWindowTitle(direction == Direction::Send ? QStringLiteral("Sending: connection security")
                                                : QStringLiteral("Receiving: connection security"));
    auto* layout = new QVBoxLayout(this);
    box = new TMailSecurityBox(direction, std::move(password), this);
    layout->addWidget(box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

TTrustedCertificates::TTrustedCertificates(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("TTrustedCertificates"));
    setWindowTitle(QStringLiteral("Trusted certificates"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Certificates you chose to trust although they could not be verified:"), this));
    lstCertificates = new QListWidget(this);
    lstCertificates->setObjectName(QStringLiteral("lstCertificates"));
    layout->addWidget(lstCertificates);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btnRemove = buttons->addButton(QStringLiteral("&Remove"), QDialogButtonBox::ActionRole);
    btnRemove->setObjectName(QStringLiteral("btnRemove"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(btnRemove, &QPushButton::clicked, this, [this] { removeSelected(); });
    connect(lstCertificates, &QListWidget::currentRowChanged, this,
            [this](int row) { btnRemove->setEnabled(row >= 0); });
    layout->addWidget(buttons);
    setMinimumWidth(520);
    refill();
}

void TTrustedCertificates::refill()
{
    lstCertificates->clear();
    for (const auto& t : mailsecurity::trustedCertificates()) {
        auto* item = new QListWidgetItem(QString::fromStdString(t.server + "\n" + t.fingerprint));
        item->setData(Qt::UserRole, QString::fromStdString(t.server));
        item->setData(Qt::UserRole + 1, QString::fromStdString(t.fingerprint));
        lstCertificates->addItem(item);
    }
    btnRemove->setEnabled(lstCertificates->currentRow() >= 0);
}

void TTrustedCertificates::removeSelected()
{
    QListWidgetItem* item = lstCertificates->currentItem();
    if (item == nullptr) {
        return;
    }
    mailsecurity::removeTrust(item->data(Qt::UserRole).toString().toStdString(),
                              item->data(Qt::UserRole + 1).toString().toStdString());
    refill();
}

} // namespace tq
