// SMTP sender and socket layer against a scripted server: greeting, HELO and
// its retry, the commands of a send and their order, the data on the wire,
// refusals at every step, aborts, dropped connections, time-outs and the
// connect errors.
#include "mail/mail_errors.h"
#include "mail/net/smtp_client.h"
#include "tests/mail/fake_server.h"

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTest>

#include <filesystem>
#include <fstream>

namespace tq {
namespace {

using test::FakeServer;

class SmtpFake : public ::testing::Test {
protected:
    void SetUp() override
    {
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.UserID = "quill.test";
        client.TimeOut = 5000;
    }

    void fillMessage()
    {
        client.PostMessage.FromAddress = "jan@quill.test";
        client.PostMessage.FromName = "Jan";
        client.PostMessage.ToAddress = {"Piet <piet@quill.test>"};
        client.PostMessage.Subject = "Test";
        client.PostMessage.Body = {"Hello", ".", "Bye"};
    }

    // The commands after the greeting's HELO.
    std::vector<std::string> commandsAfterHelo() const
    {
        std::vector<std::string> out;
        bool seen = false;
        for (const auto& c : server.commands) {
            if (seen) {
                out.push_back(c);
            }
            if (c.rfind("HELO", 0) == 0) {
                seen = true;
            }
        }
        return out;
    }

    static std::string errorOf(const std::function<void()>& f)
    {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }

    FakeServer server;
    TSmtpClient client;
};

TEST_F(SmtpFake, GreetingWithContinuationLinesThenHelo)
{
    server.greeting = "220-fake.test first line\n220-second line\n 220 odd continuation\n220 ready";
    int connects = 0;
    client.OnConnect = [&] { ++connects; };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(server.commands, (std::vector<std::string>{"HELO quill.test"}));
    EXPECT_EQ(client.ReplyNumber(), 250);
}

TEST_F(SmtpFake, RefusingGreetingFailsWithItsText)
{
    server.greeting = "554 go away";
    int disconnects = 0;
    client.OnDisconnect = [&] { ++disconnects; };
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "554 go away");
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(server.commands.empty());
    // The refused greeting's number belongs to that dialogue, not to a later
    // Disconnect (which has nothing to say goodbye to).
    EXPECT_EQ(errorOf([&] { client.Disconnect(); }), "(no error)");
}

TEST_F(SmtpFake, RefusedHeloIsRetriedOnceThroughTheHandler)
{
    server.respond = [](const std::string& line) {
        if (line.rfind("HELO", 0) == 0) {
            return std::string(line == "HELO good.id" ? "250 welcome" : "501 who are you");
        }
        return FakeServer::smtpDefault(line);
    };
    int asked = 0;
    client.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        client.UserID = "good.id";
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.commands, (std::vector<std::string>{"HELO quill.test", "HELO good.id"}));
}

TEST_F(SmtpFake, SecondRefusalOrNoHandlerFailsTheConnect)
{
    server.respond = [](const std::string&) { return std::string("550 no"); };
    int asked = 0;
    client.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Authentication failed");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.commands.size(), 2u);
    EXPECT_FALSE(client.Connected());

    TSmtpClient bare;
    bare.Host = "127.0.0.1";
    bare.Port = server.port();
    bare.OnAuthenticationFailed = [](bool& handled) { handled = false; };
    EXPECT_EQ(errorOf([&] { bare.Connect(); }), "Authentication failed");
    EXPECT_FALSE(bare.Connected());
    EXPECT_EQ(errorOf([&] { bare.Disconnect(); }), "(no error)");
}

TEST_F(SmtpFake, SendRunsTheCommandsInOrderWithBareAddresses)
{
    client.Connect();
    fillMessage();
    client.PostMessage.ToAddress = {"Piet <piet@quill.test>", "SMTP:kees@quill.test", "anna@quill.test",
                                    "  "};
    client.PostMessage.ToCarbonCopy = {"cc@quill.test"};
    client.PostMessage.ToBlindCarbonCopy = {"Geheim <bcc@quill.test>"};
    std::vector<std::string> events;
    client.OnSendStart = [&] { events.push_back("start"); };
    client.OnPacketSent = [&] { events.push_back("packet"); };
    client.OnSuccess = [&] { events.push_back("success"); };
    client.SendPostMessage();
    EXPECT_EQ(commandsAfterHelo(),
              (std::vector<std::string>{"RSET", "MAIL FROM:<jan@quill.test>", "RCPT TO:<piet@quill.test>",
                                        "RCPT TO:<kees@quill.test>", "RCPT TO:<anna@quill.test>",
                                        "RCPT TO:<cc@quill.test>", "RCPT TO:<bcc@quill.test>", "DATA",
                                        "."}));
    EXPECT_EQ(events, (std::vector<std::string>{"start", "packet", "success"}));
}

TEST_F(SmtpFake, DataOnTheWireIsHeaderTwoBlankLinesAndStuffedBody)
{
    client.Connect();
    fillMessage();
    client.PostMessage.LocalProgram = "Microsoft Office Outlook, Build 11.0.5510";
    client.SendPostMessage();
    std::string expected;
    for (const auto& line : client.FinalHeader) {
        expected += line + "\r\n";
    }
    expected += "\r\n\r\nHello\r\n..\r\nBye\r\n";
    EXPECT_EQ(server.data, expected);
    EXPECT_EQ(client.FinalHeader.front(), "From: Jan<jan@quill.test>");
    EXPECT_EQ(client.FinalHeader.back(), "Content-Type: text/plain; charset=us-ascii");
}

TEST_F(SmtpFake, ClearParamsDecidesWhetherTheMessageIsKept)
{
    client.Connect();
    fillMessage();
    client.SendPostMessage();
    EXPECT_TRUE(client.PostMessage.ToAddress.empty());
    EXPECT_TRUE(client.PostMessage.Body.empty());
    EXPECT_TRUE(client.PostMessage.FromAddress.empty());

    fillMessage();
    client.ClearParams = false;
    client.SendPostMessage();
    EXPECT_EQ(client.PostMessage.Subject, "Test");
    EXPECT_EQ(client.PostMessage.ToAddress.size(), 1u);
}

TEST_F(SmtpFake, RefusedRecipientIsReportedAndTheSendGoesOn)
{
    server.respond = [](const std::string& line) {
        return line == "RCPT TO:<nobody@quill.test>" ? std::string("550 no such user")
                                                      : FakeServer::smtpDefault(line);
    };
    client.Connect();
    fillMessage();
    client.PostMessage.ToAddress = {"Nobody <nobody@quill.test>", "piet@quill.test"};
    std::vector<std::string> notFound;
    client.OnRecipientNotFound = [&](const std::string& r) { notFound.push_back(r); };
    client.SendPostMessage();
    EXPECT_EQ(notFound, (std::vector<std::string>{"Nobody <nobody@quill.test>"}));
    EXPECT_EQ(server.commands.back(), ".");
    EXPECT_FALSE(server.data.empty());
}

struct RefusalCase {
    const char* command;
    bool failureEvent;
};

class SmtpRefusal : public SmtpFake, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SmtpRefusal, ReplyOf400OrMoreFailsWithItsText)
{
    const std::string refused = GetParam().command;
    server.respond = [refused](const std::string& line) {
        return line.rfind(refused, 0) == 0 ? std::string("451 try later") : FakeServer::smtpDefault(line);
    };
    client.Connect();
    fillMessage();
    int failures = 0;
    int successes = 0;
    client.OnFailure = [&] { ++failures; };
    client.OnSuccess = [&] { ++successes; };
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "451 try later");
    EXPECT_EQ(failures, GetParam().failureEvent ? 1 : 0);
    EXPECT_EQ(successes, 0);
    EXPECT_EQ(server.commands.back().rfind(refused, 0), 0u) << "nothing is sent after the refusal";
    EXPECT_EQ(client.PostMessage.Subject, "Test") << "a failed send keeps the message";
}

INSTANTIATE_TEST_SUITE_P(EveryStep, SmtpRefusal,
                         ::testing::Values(RefusalCase{"RSET", false}, RefusalCase{"MAIL FROM", false},
                                           RefusalCase{"DATA", false}, RefusalCase{".", true}));

TEST_F(SmtpFake, SendWithoutConnectionOrRecipients)
{
    fillMessage();
    int required = 0;
    client.OnConnectionRequired = [&] { ++required; };
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "Not Connected");
    EXPECT_EQ(required, 1);

    client.Connect();
    fillMessage();
    client.PostMessage.ToAddress.clear();
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "Incomplete Header");

    int asked = 0;
    client.OnHeaderIncomplete = [&](bool& handled, THeaderInfo type) {
        ++asked;
        EXPECT_EQ(type, hiToAddress);
        client.PostMessage.ToAddress = {"late@quill.test"};
        handled = true;
    };
    client.SendPostMessage();
    EXPECT_EQ(asked, 1);
    EXPECT_NE(std::find(server.commands.begin(), server.commands.end(), "RCPT TO:<late@quill.test>"),
              server.commands.end());
    EXPECT_NE(server.data.find("To: late@quill.test\r\n"), std::string::npos);
}

TEST_F(SmtpFake, HeaderInjectionIsRefusedBeforeAnythingIsSent)
{
    client.Connect();
    const std::size_t before = server.commands.size();
    fillMessage();
    client.PostMessage.Subject = "Hi\r\nBcc: victim@elsewhere.test";
    EXPECT_THROW(client.SendPostMessage(), EMailError);
    fillMessage();
    client.PostMessage.ToAddress = {"piet@quill.test>\r\nRCPT TO:<victim@elsewhere.test"};
    EXPECT_THROW(client.SendPostMessage(), EMailError);
    EXPECT_EQ(server.commands.size(), before);
    EXPECT_TRUE(client.Connected());
}

TEST_F(SmtpFake, LineBreakInTheHeloNameIsRefused)
{
    client.UserID = "quill.test\r\nMAIL FROM:<spoof@elsewhere.test>";
    EXPECT_THROW(client.Connect(), EMailError);
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.commands.empty());
}

TEST_F(SmtpFake, EndlessContinuationLinesEnd)
{
    std::string greeting;
    for (int i = 0; i < 1200; ++i) {
        greeting += "220-more\n";
    }
    server.greeting = greeting + "220 done";
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "The server's reply does not end");
    EXPECT_FALSE(client.Connected());
}

TEST_F(SmtpFake, MissingAttachmentIsReportedBeforeTheDialogue)
{
    client.Connect();
    const std::size_t before = server.commands.size();
    fillMessage();
    const std::string missing = (std::filesystem::temp_directory_path() / "tq-no-such-file.bin").u8string();
    client.PostMessage.Attachments = {missing};
    std::string reported;
    client.OnAttachmentNotFound = [&](const std::string& f) { reported = f; };
    EXPECT_THROW(client.SendPostMessage(), EMailError);
    EXPECT_EQ(reported, missing);
    EXPECT_EQ(server.commands.size(), before);
}

TEST_F(SmtpFake, AbortPartWaySendsRsetAndRaises)
{
    client.Connect();
    fillMessage();
    client.OnSendStart = [&] { client.Abort(); };
    try {
        client.SendPostMessage();
        FAIL() << "expected an abort";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket send aborted");
    }
    // Nothing of the aborted send went out but an empty line and RSET.
    ASSERT_TRUE(QTest::qWaitFor([&] { return commandsAfterHelo().size() >= 2; }, 5000));
    // Once the RSET reply is in, the next send stays in step with the server.
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.DataAvailable(); }, 5000));
    EXPECT_EQ(commandsAfterHelo(), (std::vector<std::string>{"", "RSET"}));
    client.OnSendStart = nullptr;
    fillMessage();
    client.SendPostMessage();
    const auto after = commandsAfterHelo();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[0], "");
    EXPECT_EQ(after[1], "RSET");
    EXPECT_EQ(after.back(), ".");
}

TEST_F(SmtpFake, AbortDuringDataClosesTheConnection)
{
    client.Connect();
    fillMessage();
    client.ReportLevel = 8;
    client.OnStatus = [&](TLineSocket*, const std::string& status) {
        if (status == "SendStream") {
            client.Abort(); // Stop while the message goes out
        }
    };
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "Socket send aborted");
    // The server still reads the message: the connection cannot be used again.
    EXPECT_FALSE(client.Connected());
    client.OnStatus = nullptr;
    client.Connect();
    fillMessage();
    client.SendPostMessage();
    EXPECT_EQ(server.commands.back(), ".");
}

TEST_F(SmtpFake, ReentrantSendReturnsAtOnce)
{
    client.Connect();
    fillMessage();
    client.ClearParams = false;
    int nested = 0;
    client.OnSendStart = [&] {
        ++nested;
        client.SendPostMessage(); // a second click while the first send runs
    };
    client.SendPostMessage();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(std::count(server.commands.begin(), server.commands.end(), "MAIL FROM:<jan@quill.test>"), 1);
}

TEST_F(SmtpFake, CancelWhileWaitingForAReply)
{
    server.respond = [this](const std::string& line) {
        if (line.rfind("MAIL", 0) == 0) {
            client.Cancel(); // the user clicks Cancel while the client waits
            return FakeServer::kSilent;
        }
        return FakeServer::smtpDefault(line);
    };
    client.Connect();
    fillMessage();
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "Socket readln aborted");
}

TEST_F(SmtpFake, DroppedConnectionMidReplyIsAnError)
{
    server.respond = [](const std::string& line) {
        return line.rfind("MAIL", 0) == 0 ? FakeServer::kDropPrefix + "25" : FakeServer::smtpDefault(line);
    };
    client.Connect();
    fillMessage();
    EXPECT_EQ(errorOf([&] { client.SendPostMessage(); }), "Connection closed by the server");
}

TEST_F(SmtpFake, SilentServerTimesOut)
{
    server.greeting = FakeServer::kSilent;
    client.TimeOut = 200;
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Socket readln timed out");
    EXPECT_FALSE(client.Connected());
}

TEST_F(SmtpFake, QuitClosesAndReportsARefusal)
{
    client.Connect();
    int disconnects = 0;
    client.OnDisconnect = [&] { ++disconnects; };
    client.Disconnect();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.commands.back(), "QUIT");
    EXPECT_EQ(disconnects, 1);

    server.respond = [](const std::string& line) {
        return line == "QUIT" ? std::string("500 confused") : FakeServer::smtpDefault(line);
    };
    client.Connect();
    EXPECT_EQ(errorOf([&] { client.Disconnect(); }), "500 confused");
    EXPECT_FALSE(client.Connected());
}

TEST_F(SmtpFake, SuccessHandlerMayDisconnectPolitely)
{
    client.Connect();
    fillMessage();
    client.OnSuccess = [&] { client.Disconnect(); };
    client.SendPostMessage();
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.commands.back(), "QUIT");
}

TEST_F(SmtpFake, AlreadyConnected)
{
    client.Connect();
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Already connected");
    EXPECT_TRUE(client.Connected());
}

TEST(LineSocketConnect, RefusedPortFailsWithEvent)
{
    // A port that was just free: nothing listens there.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const auto port = probe.serverPort();
    probe.close();
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 5000;
    int failed = 0;
    client.OnConnectionFailed = [&] { ++failed; };
    try {
        client.Connect();
        FAIL() << "expected a connect failure";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Connection Failed");
    }
    EXPECT_EQ(failed, 1);
    EXPECT_FALSE(client.Connected());
}

TEST(LineSocketConnect, InvalidHostIsOfferedOnce)
{
    FakeServer server;
    TSmtpClient client;
    client.Port = server.port();
    client.Host = "";
    int offered = 0;
    client.OnInvalidHost = [&](bool& handled) {
        ++offered;
        client.Host = "127.0.0.1";
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(offered, 1);

    TSmtpClient other;
    other.Host = "  ";
    offered = 0;
    other.OnInvalidHost = [&](bool& handled) {
        ++offered;
        handled = true; // but the host stays empty
    };
    try {
        other.Connect();
        FAIL() << "expected an error";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Null Remote Address");
    }
    EXPECT_EQ(offered, 1);
}

TEST(LineSocketConnect, UnknownHostNameFailsTheLookupWithoutAsking)
{
    // Only a lookup that timed out or was cancelled offers the correction.
    TSmtpClient client;
    client.Host = "no-such-host.invalid";
    client.Port = 25;
    client.TimeOut = 20000;
    int offered = 0;
    client.OnInvalidHost = [&](bool& handled) {
        ++offered;
        handled = false;
    };
    try {
        client.Connect();
        FAIL() << "expected an error";
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Host Lookup Failed");
    }
    EXPECT_EQ(offered, 0);
}

TEST(LineSocketConnect, HostNameIsLookedUp)
{
    FakeServer server;
    TSmtpClient client;
    client.Host = "localhost";
    client.Port = server.port();
    int resolved = 0;
    client.OnHostResolved = [&] { ++resolved; };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(resolved, 1);

    // A dotted address needs no lookup.
    TSmtpClient dotted;
    dotted.Host = "127.0.0.1";
    dotted.Port = server.port();
    dotted.OnHostResolved = [&] { ++resolved; };
    dotted.Connect();
    EXPECT_TRUE(dotted.Connected());
    EXPECT_EQ(resolved, 1);
}

TEST(LineSocketReplies, ReplyNumberFromLeadingDigits)
{
    EXPECT_EQ(TLineSocket::replyNumberOf("250 ok\r\n"), 250);
    EXPECT_EQ(TLineSocket::replyNumberOf("354\r\n"), 354);
    EXPECT_EQ(TLineSocket::replyNumberOf("+OK 2 200"), 0);
    EXPECT_EQ(TLineSocket::replyNumberOf(""), 0);
    EXPECT_EQ(TLineSocket::replyNumberOf("99999999999 huge"), 32767) << "held, not wrapped below 400";
}

TEST(LineSocketReports, LevelsFilterStatusTexts)
{
    std::vector<std::string> texts;
    FakeServer server;
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = server.port();
    client.OnStatus = [&](TLineSocket* sender, const std::string& s) {
        EXPECT_EQ(sender, &client);
        texts.push_back(s);
    };
    client.ReportLevel = 0;
    client.Connect();
    EXPECT_TRUE(texts.empty());
    client.Disconnect();
    client.ReportLevel = 1;
    client.Connect();
    EXPECT_EQ(texts, (std::vector<std::string>{"220 fake.test ESMTP\r\n", "250 fake.test\r\n"}));
    texts.clear();
    client.ReportLevel = 8;
    client.Disconnect();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Disconnecting"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Writeln"), texts.end());
}

} // namespace
} // namespace tq
