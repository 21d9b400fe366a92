// Secure connections: nothing is sent in plain text when a secure connection
// was asked for and cannot be had (scripted servers); sending and reading over
// STARTTLS/STLS and over TLS from the first byte with sign-in, a refused
// password, the server's size limit, and certificates that fail verification
// (real Dovecot and OpenSMTPD started by tests/mail/servers.sh, and a scripted
// TLS server with the certificates servers.sh made).
#include "mail/mail_errors.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "tests/mail/mail_clients_fixture.h"
#include "tests/mail/fake_server.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

namespace tq {
namespace {

using test::FakeServer;

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

std::string ehloWith(const std::vector<std::string>& extensions)
{
    std::string reply = "250-fake.test";
    for (const auto& e : extensions) {
        reply += "\n250-" + e;
    }
    return reply + "\n250 HELP";
}

// A secure connection that cannot be had ends the connect before any
// command beyond the negotiation is sent.
struct Downgrade {
    const char* name;
    bool pop3;
    TSecurity security;
    bool signIn;
    // The server's replies to the commands it gets.
    std::function<std::string(const std::string&)> respond;
    std::vector<std::string> expectedCommands;
    std::string expectedErrorAfterServer; // the error text after "127.0.0.1:<port>"
};

std::vector<Downgrade> downgrades()
{
    return {
        {"SmtpWithoutStartTls", false, TSecurity::StartTls, true,
         [](const std::string& line) {
             return line.rfind("EHLO", 0) == 0 ? ehloWith({"AUTH PLAIN LOGIN", "SIZE 1000"})
                                               : FakeServer::smtpDefault(line);
         },
         {"EHLO quill.test"},
         " does not offer STARTTLS; the connection was closed and nothing was sent"},
        {"SmtpStartTlsRefused", false, TSecurity::StartTls, true,
         [](const std::string& line) {
             if (line.rfind("EHLO", 0) == 0) {
                 return ehloWith({"STARTTLS", "AUTH PLAIN"});
             }
             return line == "STARTTLS" ? std::string("454 TLS not available") : FakeServer::smtpDefault(line);
         },
         {"EHLO quill.test", "STARTTLS"},
         " refused STARTTLS (454 TLS not available); nothing was sent"},
        {"SmtpHandshakeFails", false, TSecurity::StartTls, true,
         [](const std::string& line) {
             if (line.rfind("EHLO", 0) == 0) {
                 return ehloWith({"STARTTLS", "AUTH PLAIN"});
             }
             // Agrees, then hangs up instead of the handshake.
             return line == "STARTTLS" ? FakeServer::kDropPrefix + "220 go ahead\r\n"
                                       : FakeServer::smtpDefault(line);
         },
         {"EHLO quill.test", "STARTTLS"},
         ""},
        {"SmtpSignInWithoutSecurity", false, TSecurity::None, true, FakeServer::smtpDefault, {},
         ""},
        {"Pop3WithoutStls", true, TSecurity::StartTls, false,
         [](const std::string& line) {
             if (line == "CAPA") {
                 return std::string("+OK\nTOP\nUSER\nSASL PLAIN\n.");
             }
             return FakeServer::pop3({})(line);
         },
         {"CAPA"},
         " does not offer STLS; the connection was closed and nothing was sent"},
        {"Pop3WithoutCapa", true, TSecurity::StartTls, false, FakeServer::pop3({}), {"CAPA"},
         " does not offer STLS; the connection was closed and nothing was sent"},
    };
}

class NoDowngrade : public ::testing::TestWithParam<Downgrade> {};

TEST_P(NoDowngrade, NothingIsSentInPlainText)
{
    const Downgrade& c = GetParam();
    FakeServer server;
    server.respond = c.respond;
    std::unique_ptr<TLineSocket> client;
    if (c.pop3) {
        server.greeting = "+OK fake POP3 ready";
        auto pop3 = std::make_unique<TPop3Client>();
        pop3->UserID = "piet";
        pop3->Password = "secret-pw";
        client = std::move(pop3);
    } else {
        auto smtp = std::make_unique<TSmtpClient>();
        smtp->UserID = "quill.test";
        smtp->SignIn = c.signIn;
        smtp->Login = "piet";
        smtp->Password = "secret-pw";
        client = std::move(smtp);
    }
    client->Host = "127.0.0.1";
    client->Port = server.port();
    client->TimeOut = 5000;
    client->Security = c.security;
    const std::string error = errorOf([&] { client->Connect(); });
    const std::string serverName = "127.0.0.1:" + std::to_string(server.port());
    if (!c.expectedErrorAfterServer.empty()) {
        EXPECT_EQ(error, serverName + c.expectedErrorAfterServer);
    } else {
        EXPECT_NE(error.find(serverName), std::string::npos) << error;
        EXPECT_TRUE(error.size() > 5 && error.substr(error.size() - 5) == " sent") << error;
    }
    EXPECT_FALSE(client->Connected());
    // Let whatever the client might still send arrive.
    QTest::qWait(50);
    EXPECT_EQ(server.commands, c.expectedCommands);
    for (const auto& line : server.lines) {
        EXPECT_EQ(line.find("secret-pw"), std::string::npos);
        EXPECT_EQ(line.find("AUTH"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NoDowngrade, ::testing::ValuesIn(downgrades()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- real servers and certificates from tests/mail/servers.sh ----

QList<QSslCertificate> testAuthority()
{
    return QSslCertificate::fromPath(QString::fromStdString(env("TQ_TEST_CA")));
}

struct Mode {
    const char* name;
    TSecurity security;
    const char* smtpPortVariable;
    const char* pop3PortVariable;
};

class SecureServers : public MailClientsFixture<::testing::TestWithParam<Mode>> {
protected:
    void SetUp() override
    {
        if (env("TQ_SUBMISSION_PORT").empty() || env("TQ_TEST_CA").empty()) {
            GTEST_SKIP() << "secure mail servers not running: start them with "
                            "`bash tests/mail/servers.sh start DIR` and source DIR/env";
        }
        ASSERT_TRUE(files.isValid());
        ASSERT_TRUE(attachments.isValid());
        ASSERT_FALSE(testAuthority().isEmpty());
        const Mode& m = GetParam();
        smtp.Host = "localhost";
        smtp.Port = static_cast<std::uint16_t>(std::stoi(env(m.smtpPortVariable)));
        smtp.Security = m.security;
        smtp.CaCertificates = testAuthority();
        smtp.UserID = "client.quill.test";
        smtp.SignIn = true;
        smtp.Login = env("TQ_MAIL_USER");
        smtp.Password = env("TQ_MAIL_PASSWORD");
        smtp.TimeOut = 10000;
        pop3.Host = "localhost";
        pop3.Port = static_cast<std::uint16_t>(std::stoi(env(m.pop3PortVariable)));
        pop3.Security = m.security;
        pop3.CaCertificates = testAuthority();
        pop3.UserID = env("TQ_MAIL_USER");
        pop3.Password = env("TQ_MAIL_PASSWORD");
        pop3.TimeOut = 10000;
        pop3.Parse = false;
        pop3.SetAttachFilePath(attachments.path());
    }

    void fillMessage(const std::string& subject)
    {
        smtp.PostMessage.FromAddress = env("TQ_MAIL_ADDRESS");
        smtp.PostMessage.FromName = "Quill Sender";
        smtp.PostMessage.ToAddress = {"Tester <" + env("TQ_MAIL_ADDRESS") + ">"};
        smtp.PostMessage.Subject = subject;
        smtp.PostMessage.LocalProgram = "Microsoft Office Outlook, Build 11.0.5510";
    }

    // Polls the mailbox (delivery is asynchronous) for the message and leaves
    // the session open; 0 when it never came.
    int findMessage(const std::string& subject)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            pop3.Connect();
            EXPECT_TRUE(pop3.Encrypted());
            for (int n = pop3.MessageCount(); n >= 1; --n) {
                pop3.RetrieveMessage(n);
                if (pop3.MailMessage.Subject == subject) {
                    return n;
                }
            }
            pop3.Disconnect();
            QTest::qWait(100);
        }
        return 0;
    }

};

TEST_P(SecureServers, MemoAndAttachmentArriveIdentical)
{
    std::string binary;
    for (int i = 0; i < 70000; ++i) {
        binary += static_cast<char>((i * 97 + i / 251) & 0xFF);
    }
    const std::string path = writeFile("secret.bin", binary);
    static std::mt19937_64 rng(std::random_device{}());
    const std::string subject = std::string("Secure ") + GetParam().name + " " + std::to_string(rng());
    const std::vector<std::string> memo = {"Dear tester,", "", ".", "\xE9\xE8 8-bit \xA0 text", "Bye"};

    smtp.Connect();
    EXPECT_TRUE(smtp.Encrypted());
    EXPECT_TRUE(smtp.ServerExtensions().authPlain);
    fillMessage(subject);
    smtp.PostMessage.Body = memo;
    smtp.PostMessage.Attachments = {path};
    smtp.SendPostMessage();
    smtp.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0) << "the message did not arrive";
    // The empty line in front of the first part is preamble, not text.
    std::vector<std::string> expected = memo;
    expected.push_back("\r\nFile \"secret.bin\" extracted");
    EXPECT_EQ(pop3.MailMessage.Body, expected);
    std::ifstream in(std::filesystem::u8path(pop3.AttachFilePath().toStdString() + "secret.bin"),
                     std::ios::binary);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_TRUE(got.str() == binary) << "the attachment changed on its way";
    pop3.DeleteMessage(n);
    pop3.Disconnect();
}

TEST_P(SecureServers, WrongPasswordGoesThroughTheRetryOnce)
{
    // SMTP sign-in and POP3 login alike: refused, the handler corrects the
    // password and the second try gets in; without a correction it fails.
    const std::string right = env("TQ_MAIL_PASSWORD");
    smtp.Password = "wrong";
    pop3.Password = "wrong";
    int asked = 0;
    smtp.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        smtp.Password = right;
        handled = true;
    };
    pop3.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        pop3.Password = right;
        handled = true;
    };
    smtp.Connect();
    pop3.Connect();
    EXPECT_TRUE(smtp.Connected());
    EXPECT_TRUE(pop3.Connected());
    EXPECT_EQ(asked, 2);
    smtp.Disconnect();
    pop3.Disconnect();

    smtp.Password = "wrong";
    pop3.Password = "wrong";
    smtp.OnAuthenticationFailed = [](bool& handled) { handled = true; }; // but still wrong
    pop3.OnAuthenticationFailed = nullptr;
    EXPECT_EQ(errorOf([&] { smtp.Connect(); }), "Authentication failed");
    EXPECT_EQ(errorOf([&] { pop3.Connect(); }), "Authentication failed");
    EXPECT_FALSE(smtp.Connected());
    EXPECT_FALSE(pop3.Connected());
}

TEST_P(SecureServers, AccountBeyondAsciiSignsInWithUtf8)
{
    // Name and password hold letters Windows-1252 has no place for; the
    // servers store them as UTF-8.
    const std::string user = env("TQ_MAIL_USER2");
    ASSERT_NE(user.find("\xC5\x82"), std::string::npos) << "servers.sh makes the account \u0142ukasz";
    smtp.Login = pop3.UserID = user;
    smtp.Password = pop3.Password = env("TQ_MAIL_PASSWORD2");
    smtp.Connect();
    pop3.Connect();
    EXPECT_TRUE(smtp.Connected());
    EXPECT_TRUE(pop3.Connected());
    EXPECT_EQ(pop3.MessageCount(), 0) << "a mailbox of its own";
}

TEST_P(SecureServers, MessageAboveTheServersSizeIsRefusedBeforeSending)
{
    smtp.Connect();
    const std::uint64_t limit = smtp.ServerExtensions().size;
    ASSERT_GT(limit, 0u) << "servers.sh sets a size limit";
    const std::string path = writeFile("big.bin", std::string(limit, 'x'));
    fillMessage("too big");
    smtp.PostMessage.Body = {"big"};
    smtp.PostMessage.Attachments = {path};
    const std::string error = errorOf([&] { smtp.SendPostMessage(); });
    EXPECT_NE(error.find("bytes localhost:" + std::to_string(smtp.Port) + " accepts; nothing was sent"),
              std::string::npos)
        << error;
    // Nothing of the transaction started: the session is still good.
    EXPECT_TRUE(smtp.Connected());
    EXPECT_EQ(errorOf([&] { smtp.Disconnect(); }), "(no error)");
}

INSTANTIATE_TEST_SUITE_P(Modes, SecureServers,
                         ::testing::Values(Mode{"StartTls", TSecurity::StartTls, "TQ_SUBMISSION_PORT",
                                                "TQ_POP3_PORT"},
                                           Mode{"SslTls", TSecurity::SslTls, "TQ_SUBMISSIONS_PORT",
                                                "TQ_POP3S_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Certificates, WrongNameIsRefusedUntilExactlyThatCertificateIsTrusted)
{
    const QString folder = QString::fromStdString(env("TQ_CERT_FOLDER"));
    if (folder.isEmpty()) {
        GTEST_SKIP() << "test certificates not made: start tests/mail/servers.sh";
    }
    FakeServer server;
    server.implicitTls = true;
    ASSERT_TRUE(server.useCertificate(folder + "/other.pem", folder + "/other-key.pem"));
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = server.port();
    client.Security = TSecurity::SslTls;
    client.UserID = "quill.test";
    client.TimeOut = 5000;

    auto rejection = [&]() -> std::unique_ptr<ECertificateError> {
        try {
            client.Connect();
        } catch (const ECertificateError& e) {
            return std::make_unique<ECertificateError>(e);
        }
        return nullptr;
    };

    // Without the test authority the issuer is unknown as well.
    auto unknown = rejection();
    ASSERT_TRUE(unknown);
    EXPECT_NE(unknown->Problem().find("authority this computer does not trust"), std::string::npos);

    client.CaCertificates = testAuthority();
    auto wrongName = rejection();
    ASSERT_TRUE(wrongName);
    const std::string other = TLineSocket::fingerprintOf(server.certificate);
    EXPECT_EQ(wrongName->Problem(), "it is issued for another name");
    EXPECT_EQ(wrongName->Fingerprint(), other);
    EXPECT_EQ(wrongName->Server(), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(std::string(wrongName->what()),
              "The certificate of " + wrongName->Server() +
                  " is not trusted: it is issued for another name. SHA-256 fingerprint: " + other);
    EXPECT_EQ(other.size(), 32u * 3 - 1);
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.commands.empty());

    // The user trusts it when asked: the connect starts again and succeeds.
    int asked = 0;
    client.OnCertificateRejected = [&](const ECertificateError& e, bool& handled) {
        ++asked;
        client.TrustedCertificates.push_back(e.Fingerprint());
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Encrypted());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.commands, (std::vector<std::string>{"EHLO quill.test"}));
    client.Disconnect();

    // Trusted now without asking.
    client.Connect();
    EXPECT_EQ(asked, 1);
    client.Disconnect();

    // The server's certificate changes: the old trust does not cover it.
    ASSERT_TRUE(server.useCertificate(folder + "/renewed.pem", folder + "/renewed-key.pem"));
    client.OnCertificateRejected = nullptr;
    auto renewed = rejection();
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->Fingerprint(), other);
    EXPECT_EQ(renewed->Problem(), "it is issued for another name");
    EXPECT_FALSE(client.Connected());
}

} // namespace
} // namespace tq
