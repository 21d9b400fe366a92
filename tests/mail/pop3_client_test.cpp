// POP3 reader against a scripted server: greeting, login and its retry, STAT,
// retrieval (dot-stuffing, header-only messages, dropped connections), DELE.
#include "mail/attach_coder.h"
#include "mail/mail_errors.h"
#include "mail/net/pop3_client.h"
#include "tests/mail/fake_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tq {
namespace {

using test::FakeServer;

const std::string kPlain =
    "From: Piet <piet@quill.test>\r\n"
    "Subject: Plain one\r\n"
    "Message-ID: <p1@quill>\r\n"
    "\r\n"
    "first line\r\n"
    ".starts with a dot\r\n"
    "..two dots\r\n"
    "last line";

class Pop3Fake : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        server.greeting = "+OK fake POP3 ready";
        server.respond = FakeServer::pop3({kPlain});
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.UserID = "piet";
        client.Password = "pw";
        client.TimeOut = 5000;
        client.SetAttachFilePath(dir.path());
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

    QTemporaryDir dir;
    FakeServer server;
    TPop3Client client;
};

TEST_F(Pop3Fake, LoginAndCount)
{
    int connects = 0;
    client.OnConnect = [&] { ++connects; };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.MessageCount(), 1);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(server.commands, (std::vector<std::string>{"USER piet", "PASS pw", "STAT"}));
}

TEST_F(Pop3Fake, ErrGreetingFailsWithItsText)
{
    server.greeting = "-ERR too busy, try later";
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "-ERR too busy, try later");
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.commands.empty());
}

TEST_F(Pop3Fake, WrongPasswordRetriesOnceThroughTheHandler)
{
    client.Password = "wrong";
    int asked = 0;
    client.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        client.Password = "pw";
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(server.commands,
              (std::vector<std::string>{"USER piet", "PASS wrong", "USER piet", "PASS pw", "STAT"}));
}

TEST_F(Pop3Fake, SecondRefusalOrNoHandlerFails)
{
    client.Password = "wrong";
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Authentication failed");
    EXPECT_FALSE(client.Connected());
    int asked = 0;
    client.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Authentication failed");
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(client.Connected());
}

TEST_F(Pop3Fake, LineBreakInCredentialsIsRefused)
{
    client.Password = "pw\r\nDELE 1";
    EXPECT_THROW(client.Connect(), EMailError);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.commands, (std::vector<std::string>{"USER piet"}));
}

TEST_F(Pop3Fake, MissingCredentialsAreAskedFor)
{
    client.Password.clear();
    EXPECT_EQ(errorOf([&] { client.Connect(); }), "Authentication failed");
    EXPECT_EQ(server.connections, 0) << "no connection without credentials";
    client.OnAuthenticationNeeded = [&](bool& handled) {
        client.Password = "pw";
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Connected());
}

TEST_F(Pop3Fake, StatWithoutANumberCountsZero)
{
    server.respond = [](const std::string& line) {
        return line == "STAT" ? std::string("+OK lots") : FakeServer::pop3({})(line);
    };
    client.Connect();
    EXPECT_EQ(client.MessageCount(), 0);
}

TEST_F(Pop3Fake, RetrieveUnstuffsDotsAndKeepsFields)
{
    client.Connect();
    std::vector<std::string> events;
    client.OnRetrieveStart = [&] { events.push_back("start"); };
    client.OnRetrieveEnd = [&] { events.push_back("end"); };
    client.RetrieveMessage(1);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "end"}));
    const TMailMessage& m = client.MailMessage;
    EXPECT_EQ(m.Subject, "Plain one");
    EXPECT_EQ(m.From, "Piet <piet@quill.test>");
    EXPECT_EQ(m.MessageId, "<p1@quill>");
    EXPECT_EQ(m.Header.size(), 3u);
    EXPECT_EQ(m.RawBody, (std::vector<std::string>{"first line", ".starts with a dot", "..two dots",
                                                   "last line"}));
    EXPECT_EQ(m.Body, m.RawBody);
    EXPECT_EQ(server.commands.back(), "RETR 1");
    // The connection is in step: another command works.
    client.RetrieveMessage(1);
    EXPECT_EQ(client.MailMessage.Subject, "Plain one");
}

TEST_F(Pop3Fake, HeaderOnlyMessageEndsAtTheDot)
{
    server.respond = FakeServer::pop3({"Subject: no body\r\nFrom: x@y"});
    client.Connect();
    client.RetrieveMessage(1);
    EXPECT_EQ(client.MailMessage.Subject, "no body");
    EXPECT_TRUE(client.MailMessage.RawBody.empty());
}

TEST_F(Pop3Fake, LinesLongerThanTheBufferArriveWhole)
{
    const std::string longLine(150000, 'L');
    server.respond = FakeServer::pop3({"Subject: long\r\n\r\n" + longLine + "\r\nshort"});
    client.Connect();
    client.RetrieveMessage(1);
    EXPECT_EQ(client.MailMessage.RawBody, (std::vector<std::string>{longLine, "short"}));

    server.respond = FakeServer::pop3({"Subject: huge\r\n\r\n" + std::string(TPop3Client::kMaxLine + 10, 'H')});
    EXPECT_EQ(errorOf([&] { client.RetrieveMessage(1); }), "The server sent a line longer than 1 MiB");
}

TEST_F(Pop3Fake, RetrieveErrorsAndDroppedConnection)
{
    client.Connect();
    EXPECT_EQ(errorOf([&] { client.RetrieveMessage(5); }), "-ERR no such message");
    server.respond = [](const std::string& line) {
        return line.rfind("RETR", 0) == 0 ? FakeServer::kDropPrefix + "+OK 100 octets\r\nSubject: cut\r\n\r\nhalf a li"
                                          : FakeServer::pop3({})(line);
    };
    EXPECT_EQ(errorOf([&] { client.RetrieveMessage(1); }), "Connection closed by the server");
}

TEST_F(Pop3Fake, NotConnected)
{
    int required = 0;
    client.OnConnectionRequired = [&] { ++required; };
    EXPECT_EQ(errorOf([&] { client.RetrieveMessage(1); }), "Not Connected");
    EXPECT_EQ(errorOf([&] { client.DeleteMessage(1); }), "Not Connected");
    EXPECT_EQ(required, 2);
}

TEST_F(Pop3Fake, DeleteReportsSuccessOrFailure)
{
    client.Connect();
    int successes = 0;
    int failures = 0;
    client.OnSuccess = [&] { ++successes; };
    client.OnFailure = [&] { ++failures; };
    client.DeleteMessage(1);
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(errorOf([&] { client.DeleteMessage(9); }), "-ERR no such message");
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(successes, 1);
}

TEST_F(Pop3Fake, DeleteOnReadSendsDele)
{
    client.DeleteOnRead = true;
    client.Connect();
    client.RetrieveMessage(1);
    EXPECT_EQ(server.commands.back(), "DELE 1");
}

TEST_F(Pop3Fake, AttachmentsGoToTheFolderWithFreeNames)
{
    const std::string b64 = TAttachCoder::encodeBytes("payload", 0);
    const std::string message = "Subject: with files\r\n"
                                "Content-Type: multipart/mixed; boundary=\"BB\"\r\n"
                                "\r\n"
                                "--BB\r\n"
                                "Content-Type: text/plain\r\n"
                                "\r\n"
                                "see attached\r\n"
                                "--BB\r\n"
                                "Content-Type: application/octet-stream; name=\"../x.bin\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "\r\n" + b64 +
                                "--BB--\r\n";
    server.respond = FakeServer::pop3({message});
    client.Connect();
    std::vector<std::string> decodeNames;
    client.OnDecodeStart = [&](std::string& name) { decodeNames.push_back(name); };
    client.RetrieveMessage(1);
    client.RetrieveMessage(1);
    EXPECT_EQ(decodeNames, (std::vector<std::string>{"x.bin", "x_1.bin"}));
    EXPECT_EQ(client.MailMessage.Body,
              (std::vector<std::string>{"see attached", "\r\nFile \"x_1.bin\" extracted"}));
    QDir folder(dir.path());
    EXPECT_EQ(folder.entryList(QDir::Files, QDir::Name), (QStringList{"x.bin", "x_1.bin"}));
    std::ifstream in(std::filesystem::u8path((dir.path() + "/x_1.bin").toStdString()), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_EQ(s.str(), "payload");
}

TEST_F(Pop3Fake, HandlerMayMoveTheFolder)
{
    QTemporaryDir other;
    const std::string message = "Content-Type: multipart/mixed; boundary=BB\r\n\r\n--BB\r\n"
                                "Content-Type: application/octet-stream; name=\"a.bin\"\r\n\r\nraw\r\n--BB--";
    server.respond = FakeServer::pop3({message});
    client.Connect();
    client.OnDecodeStart = [&](std::string& name) {
        client.SetAttachFilePath(other.path());
        name = "chosen.bin";
    };
    client.RetrieveMessage(1);
    EXPECT_TRUE(QFile::exists(other.path() + "/chosen.bin"));
    EXPECT_TRUE(client.AttachFilePath().endsWith('/'));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(Pop3Fake, DefaultFolderIsTheProgramsOwn)
{
    TPop3Client fresh;
    const QString folder = fresh.AttachFilePath();
    EXPECT_TRUE(folder.endsWith('/'));
    EXPECT_TRUE(folder.contains(QStringLiteral("attachments"))) << folder.toStdString();
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    ASSERT_FALSE(cache.isEmpty());
    EXPECT_TRUE(folder.startsWith(cache + '/')) << folder.toStdString();
}

TEST_F(Pop3Fake, QuitOnDisconnectAndReentryBlocked)
{
    client.Connect();
    int nested = 0;
    client.OnRetrieveStart = [&] {
        ++nested;
        client.RetrieveMessage(1);
    };
    client.RetrieveMessage(1);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(std::count(server.commands.begin(), server.commands.end(), "RETR 1"), 1);
    client.Disconnect();
    EXPECT_EQ(server.commands.back(), "QUIT");
    EXPECT_FALSE(client.Connected());
}

TEST_F(Pop3Fake, DisconnectDuringAWaitCancelsIt)
{
    server.respond = [this](const std::string& line) {
        if (line.rfind("RETR", 0) == 0) {
            client.Disconnect(); // the window closes while the client waits
            return FakeServer::kSilent;
        }
        return FakeServer::pop3({kPlain})(line);
    };
    client.Connect();
    EXPECT_EQ(errorOf([&] { client.RetrieveMessage(1); }), "Socket readln aborted");
    EXPECT_FALSE(client.Connected());
}

} // namespace
} // namespace tq
