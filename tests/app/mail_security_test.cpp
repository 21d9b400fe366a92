// The mail windows' security pieces: the password between keyring and
// settings, the security controls and what they store, and the trust of a
// certificate that failed verification (asked, stored, listed, removed).
#include "app/mail/mail_security.h"
#include "app/mail/password_store.h"
#include "app/mail/security_box.h"
#include "app/prompts.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "platform/desktop/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace tq {
namespace {

// A keyring in memory that can be switched off and made to refuse writes.
class FakeKeyring : public TKeyring {
public:
    bool running = true;
    bool refuseWrites = false;
    std::map<std::string, QString> secrets;

    bool available() override { return running; }
    std::optional<QString> read(const std::string& name) override
    {
        const auto it = secrets.find(name);
        if (!running || it == secrets.end()) {
            return std::nullopt;
        }
        return it->second;
    }
    bool write(const std::string& name, const QString& secret) override
    {
        if (!running || refuseWrites) {
            return false;
        }
        secrets[name] = secret;
        return true;
    }
    void remove(const std::string& name) override { secrets.erase(name); }
};

class MailSecurity : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        settings::setStorageOverride(dir.filePath("tarnquill.ini").toStdString());
        auto k = std::make_unique<FakeKeyring>();
        keys = k.get();
        setKeyring(std::move(k));
    }
    void TearDown() override
    {
        setKeyring(nullptr);
        prompts::setCertificateHandler(nullptr);
        settings::setStorageOverride({});
    }

    // The enciphered settings value, here simply reversed so that the test sees
    // it is not the keyring's copy.
    TPasswordStore::Obscured obscured(const std::string& name)
    {
        return {[name] {
                    QString s = QString::fromStdString(settings::readString(name));
                    std::reverse(s.begin(), s.end());
                    return s;
                },
                [name](const QString& p) {
                    QString s = p;
                    std::reverse(s.begin(), s.end());
                    settings::writeString(name, s.toStdString());
                },
                [name] { settings::remove(name); }};
    }

    QTemporaryDir dir;
    FakeKeyring* keys = nullptr;
};

TEST_F(MailSecurity, PasswordMovesBetweenSettingsAndKeyringWithoutBeingLost)
{
    TPasswordStore store("InPassword", obscured("InPassword"));

    // No keyring: only the obscured settings value.
    keys->running = false;
    EXPECT_TRUE(store.obscuredOnly());
    store.write("geheim 1");
    EXPECT_EQ(settings::readString("InPassword"), "1 mieheg");
    EXPECT_EQ(store.read(), "geheim 1");

    // A keyring starts running: the password moves into it.
    keys->running = true;
    EXPECT_FALSE(store.obscuredOnly());
    EXPECT_EQ(store.read(), "geheim 1");
    EXPECT_EQ(keys->secrets["InPassword"], "geheim 1");
    EXPECT_FALSE(settings::contains("InPassword"));

    // Changes go to the keyring only.
    store.write("geheim 2");
    EXPECT_EQ(keys->secrets["InPassword"], "geheim 2");
    EXPECT_FALSE(settings::contains("InPassword"));
    EXPECT_EQ(store.read(), "geheim 2");

    // A keyring that refuses to store: the settings keep it.
    keys->refuseWrites = true;
    store.write("geheim 3");
    EXPECT_EQ(settings::readString("InPassword"), "3 mieheg");
}

TEST_F(MailSecurity, ControlsStoreTheChoiceAndThePortFollowsTheMode)
{
    struct Case {
        mailsecurity::Direction direction;
        int index;
        int expectedPort;
    };
    for (const Case c : {Case{mailsecurity::Direction::Send, 1, 587}, Case{mailsecurity::Direction::Send, 2, 465},
                         Case{mailsecurity::Direction::Send, 0, 25},
                         Case{mailsecurity::Direction::Receive, 2, 995},
                         Case{mailsecurity::Direction::Receive, 1, 110}}) {
        TMailSecurityBox box(c.direction, obscured("OutPassword"));
        box.cmbSecurity->setCurrentIndex(c.index);
        EXPECT_EQ(box.edtPort->value(), c.expectedPort);
        const auto stored = mailsecurity::load(c.direction);
        EXPECT_EQ(static_cast<int>(stored.security), c.index);
        EXPECT_EQ(stored.port, c.expectedPort);
    }

    // A port the user typed stays when the mode changes.
    TMailSecurityBox send(mailsecurity::Direction::Send, obscured("OutPassword"));
    send.cmbSecurity->setCurrentIndex(1);
    send.edtPort->setValue(2525);
    send.cmbSecurity->setCurrentIndex(2);
    EXPECT_EQ(send.edtPort->value(), 2525);

    // Signing in is offered only over a secure connection; its password goes
    // to the keyring, and the note shows only without one.
    send.chkSignIn->setChecked(true);
    QTest::keyClicks(send.edtLogin, "jan");
    QTest::keyClicks(send.edtSignInPassword, "pw!");
    EXPECT_EQ(keys->secrets["OutPassword"], "pw!");
    EXPECT_FALSE(send.lblObscured->isVisibleTo(&send));
    send.cmbSecurity->setCurrentIndex(0);
    EXPECT_FALSE(send.chkSignIn->isEnabled());
    EXPECT_FALSE(send.edtSignInPassword->isEnabled());

    send.cmbSecurity->setCurrentIndex(1);
    keys->running = false;
    TMailSecurityBox again(mailsecurity::Direction::Send, obscured("OutPassword"));
    EXPECT_TRUE(again.lblObscured->isVisibleTo(&again));
    EXPECT_TRUE(again.chkSignIn->isChecked());
    EXPECT_EQ(again.edtLogin->text(), "jan");

    TSmtpClient client;
    client.Host = "mail.quill.test";
    keys->running = true;
    again.prepare(client);
    EXPECT_EQ(client.Security, TSecurity::StartTls);
    EXPECT_EQ(client.Port, 2525);
    EXPECT_TRUE(client.SignIn);
    EXPECT_EQ(client.Login, "jan");
    EXPECT_EQ(client.Password, "pw!");
}

TEST_F(MailSecurity, RefusedCertificateIsTrustedOnlyWhenTheUserSaysSo)
{
    std::vector<QString> asked;
    bool answer = false;
    prompts::setCertificateHandler([&](QWidget*, const QString& server, const QString& problem,
                                       const QString& fingerprint) {
        asked.push_back(server + "|" + problem + "|" + fingerprint);
        return answer;
    });
    mailsecurity::store(mailsecurity::Direction::Receive, {TSecurity::SslTls, 995, false, ""});
    TPop3Client client;
    client.Host = "pop.quill.test";
    mailsecurity::prepare(client, mailsecurity::Direction::Receive, nullptr);
    ASSERT_TRUE(client.OnCertificateRejected);
    const ECertificateError problem("pop.quill.test:995", "it is self-signed", "AA:BB", QSslCertificate());

    bool handled = false;
    client.OnCertificateRejected(problem, handled);
    EXPECT_FALSE(handled);
    EXPECT_TRUE(mailsecurity::trustedCertificates().empty());
    EXPECT_EQ(asked, (std::vector<QString>{"pop.quill.test:995|it is self-signed|AA:BB"}));

    answer = true;
    client.OnCertificateRejected(problem, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(client.TrustedCertificates, (std::vector<std::string>{"AA:BB"}));
    // Kept for exactly that server and port.
    EXPECT_EQ(mailsecurity::trustedFor("pop.quill.test:995"), (std::vector<std::string>{"AA:BB"}));
    EXPECT_TRUE(mailsecurity::trustedFor("pop.quill.test:110").empty());
    TPop3Client later;
    later.Host = "pop.quill.test";
    mailsecurity::prepare(later, mailsecurity::Direction::Receive, nullptr);
    EXPECT_EQ(later.TrustedCertificates, (std::vector<std::string>{"AA:BB"}));

    // Shown in the list and removable there.
    mailsecurity::trust("smtp.quill.test:465", "CC:DD");
    TTrustedCertificates list;
    ASSERT_EQ(list.lstCertificates->count(), 2);
    EXPECT_EQ(list.lstCertificates->item(0)->text(), "pop.quill.test:995\nAA:BB");
    EXPECT_FALSE(list.btnRemove->isEnabled());
    list.lstCertificates->setCurrentRow(0);
    list.btnRemove->click();
    ASSERT_EQ(list.lstCertificates->count(), 1);
    EXPECT_EQ(list.lstCertificates->item(0)->text(), "smtp.quill.test:465\nCC:DD");
    EXPECT_TRUE(mailsecurity::trustedFor("pop.quill.test:995").empty());
}

} // namespace
} // namespace tq
