// The mail windows' security pieces: the password between keyring and
// settings, the security controls and what they store, and the trust of a
// certificate that failed verification (asked, stored, listed, removed).
#include "app/mail/mail_security.h"
#include "app/mail/mail_settings.h"
#include "app/mail/password_store.h"
#include "app/mail/security_box.h"
#include "app/prompts.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "platform/codepage.h"
#include "platform/desktop/settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
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

// A keyring in memory that can be switched off, made to fail, and counts
// its writes.
class FakeKeyring : public TKeyring {
public:
    bool running = true;
    bool refuseWrites = false;
    bool failReads = false;
    int writes = 0;
    std::map<std::string, QString> secrets;

    bool available() override { return running; }
    std::optional<QString> read(const std::string& name) override
    {
        if (failReads) {
            throw EKeyringError("locked");
        }
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
        ++writes;
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

// Every window value, in the stored form of earlier versions (Windows-1252
// enciphered) and in today's: the earlier form still reads, today's keeps
// every character, and neither stands readable in the settings.
TEST_F(MailSecurity, StoredValuesReadInBothFormsAndKeepEveryCharacter)
{
    const std::vector<std::pair<const char*, CipherKeys>> names = {
        {"OutServername", mailsettings::kSendKeys}, {"OutUsername", mailsettings::kSendKeys},
        {"OutName", mailsettings::kSendKeys},       {"OutSender", mailsettings::kSendKeys},
        {"OutReplyadress", mailsettings::kSendKeys}, {"OutPassword", mailsettings::kSendKeys},
        {"InServername", mailsettings::kReceiveKeys}, {"InUsername", mailsettings::kReceiveKeys},
        {"InPassword", mailsettings::kReceiveKeys}};
    const std::vector<QString> texts = {QStringLiteral("\u0141ukasz"), QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c"),
                                        QStringLiteral("\u5bc6\u7801"), QStringLiteral("caf\u00e9 \u20ac 5"),
                                        QStringLiteral("*star"), QString()};
    LineCipher cipher;
    for (const auto& [name, keys] : names) {
        for (const QString& text : texts) {
            SCOPED_TRACE(std::string(name) + " " + text.toStdString());
            const std::string cp = cp1252::fromUtf8Lossy(text.toStdString());
            settings::writeString(name, cipher.CodeLine(cp, keys));
            EXPECT_EQ(mailsettings::load(name, keys), QString::fromStdString(cp1252::toUtf8(cp)));

            mailsettings::store(name, text, keys);
            const std::string stored = settings::readString(name);
            EXPECT_EQ(mailsettings::load(name, keys), text);
            EXPECT_EQ(stored.front(), mailsettings::kUtf8Marker);
            EXPECT_TRUE(text.size() < 2 || stored.find(text.toStdString()) == std::string::npos);
        }
    }
    // No earlier value can look like today's: whatever it held, its first code
    // is never the marker.
    for (const CipherKeys& keys : {mailsettings::kSendKeys, mailsettings::kReceiveKeys}) {
        for (int code = 0; code < 256; ++code) {
            EXPECT_NE(cipher.CodeLine(std::string(1, static_cast<char>(code)), keys).front(),
                      mailsettings::kUtf8Marker)
                << code;
        }
    }
}

// A password belongs to its account: a changed server or user never gets
// another one's. Entries of earlier versions (the bare name, the settings
// value) are found and moved; a keyring that fails is an error, and nothing
// is written while the password is unchanged.
TEST_F(MailSecurity, PasswordsAreKeptPerAccount)
{
    TMailAccount account{QStringLiteral("jan"), QStringLiteral("pop.a.test"), 110};
    TPasswordStore store("InPassword", obscured("InPassword"), [&] { return account; });
    const std::string entryA = "InPassword jan@pop.a.test:110";
    EXPECT_EQ(store.entryName(account), entryA);

    // An entry of earlier versions under the bare name moves to the account.
    keys->secrets["InPassword"] = QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c");
    EXPECT_EQ(store.read(), QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c"));
    EXPECT_EQ(keys->secrets.count("InPassword"), 0u);
    EXPECT_EQ(keys->secrets[entryA], QStringLiteral("\u043f\u0430\u0440\u043e\u043b\u044c"));

    // Unchanged: no write; changed: one.
    keys->writes = 0;
    EXPECT_EQ(store.settle(keys->secrets[entryA]), keys->secrets[entryA]);
    EXPECT_EQ(keys->writes, 0);
    EXPECT_EQ(store.settle(QStringLiteral("een")), QStringLiteral("een"));
    EXPECT_EQ(keys->writes, 1);

    // Another server, port or user: the field gets that account's password.
    struct Change {
        TMailAccount account;
        QString password;
    };
    for (const Change& c : {Change{{"jan", "pop.b.test", 110}, "twee"}, Change{{"jan", "pop.a.test", 995}, "drie"},
                            Change{{"piet", "pop.a.test", 110}, "vier"}}) {
        account = c.account;
        EXPECT_EQ(store.settle(QStringLiteral("een")), QString()) << c.account.text().toStdString();
        store.write(c.password);
    }
    EXPECT_EQ(keys->secrets.size(), 4u);
    EXPECT_EQ(keys->secrets[entryA], "een");
    EXPECT_EQ(keys->secrets["InPassword jan@pop.b.test:110"], "twee");
    account = {QStringLiteral("jan"), QStringLiteral("pop.a.test"), 110};
    EXPECT_EQ(store.settle(QStringLiteral("vier")), "een");

    // Without a keyring the settings value holds its account too; a value of
    // earlier versions is claimed by the first account that reads it.
    keys->running = false;
    settings::writeString("InPassword", "ouder");
    EXPECT_EQ(store.read(), "reduo");
    account.server = QStringLiteral("pop.c.test");
    EXPECT_EQ(store.read(), QString());
    store.write(QStringLiteral("zes"));
    keys->running = true;
    EXPECT_EQ(store.read(), "zes") << "moved into the keyring";
    EXPECT_EQ(keys->secrets["InPassword jan@pop.c.test:110"], "zes");
    EXPECT_FALSE(settings::contains("InPassword"));

    // A keyring that runs but fails: an error, and nothing kept elsewhere.
    keys->refuseWrites = true;
    EXPECT_THROW(store.write(QStringLiteral("zeven")), EKeyringError);
    EXPECT_FALSE(settings::contains("InPassword"));
    keys->failReads = true;
    EXPECT_THROW(store.read(), EKeyringError);
    // The empty field of that failed read never overwrites the password.
    keys->failReads = keys->refuseWrites = false;
    keys->writes = 0;
    EXPECT_EQ(store.settle(QString()), "zes");
    EXPECT_EQ(keys->writes, 0);
}

// A first run starts both windows on STARTTLS and its port; a choice stored
// before stays, and so does the plain connection of an account stored by a
// version that had no choice.
TEST_F(MailSecurity, FirstRunStartsOnStartTls)
{
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> stored;
        mailsecurity::Direction direction;
        TSecurity security;
        int port; // what the client gets; the window gave it 25 or 110
    };
    using D = mailsecurity::Direction;
    const std::vector<Case> cases = {
        {"first send", {}, D::Send, TSecurity::StartTls, 587},
        {"first receive", {}, D::Receive, TSecurity::StartTls, 110},
        {"chosen none", {{"OutSecurity", "0"}}, D::Send, TSecurity::None, 25},
        {"chosen none port", {{"InSecurity", "0"}, {"InPort", "1110"}}, D::Receive, TSecurity::None, 1110},
        {"chosen ssl", {{"OutSecurity", "2"}, {"OutPort", "465"}}, D::Send, TSecurity::SslTls, 465},
        {"earlier account", {{"OutServername", "x"}}, D::Send, TSecurity::None, 25},
        {"earlier receive", {{"InServername", "x"}}, D::Receive, TSecurity::None, 110},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* name : {"OutSecurity", "InSecurity", "OutPort", "InPort", "OutServername", "InServername"}) {
            settings::remove(name);
        }
        for (const auto& [name, value] : c.stored) {
            settings::writeString(name, value);
        }
        TMailSecurityBox box(c.direction, obscured("OutPassword"));
        EXPECT_EQ(box.cmbSecurity->currentIndex(), static_cast<int>(c.security));
        TPop3Client client;
        client.Host = "mail.quill.test";
        client.Port = c.direction == D::Send ? 25 : 110;
        mailsecurity::prepare(client, c.direction, nullptr);
        EXPECT_EQ(client.Security, c.security);
        EXPECT_EQ(client.Port, c.port);
        EXPECT_EQ(box.edtPort->value(), c.port);
    }
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
    // to the keyring when the field is left, not at every keystroke, and the
    // note shows only without one.
    send.setServer([] { return QStringLiteral("mail.quill.test"); });
    send.chkSignIn->setChecked(true);
    QTest::keyClicks(send.edtLogin, "jan");
    QFocusEvent leave(QEvent::FocusOut);
    QApplication::sendEvent(send.edtLogin, &leave);
    keys->writes = 0;
    QTest::keyClicks(send.edtSignInPassword, "pw!");
    EXPECT_EQ(keys->writes, 0);
    QApplication::sendEvent(send.edtSignInPassword, &leave);
    EXPECT_EQ(keys->writes, 1);
    EXPECT_EQ(keys->secrets["OutPassword jan@mail.quill.test:2525"], "pw!");
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
    again.setServer([] { return QStringLiteral("mail.quill.test"); });
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
