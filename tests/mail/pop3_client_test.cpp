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


namespace listing {

// A POP3 server holding `messages` that answers CAPA with `capa` and TOP
// (headers only) when `top` is set.
std::function<std::string(const std::string&)> withTop(const std::vector<std::string>& messages,
                                                       const std::string& capa, bool top)
{
    auto plain = FakeServer::pop3(messages);
    return [=](const std::string& line) -> std::string {
        if (line == "CAPA") {
            return capa;
        }
        if (line.rfind("TOP ", 0) == 0) {
            if (!top) {
                return "-ERR unknown command";
            }
            std::string header = messages[std::stoul(line.substr(4)) - 1];
            header = header.substr(0, header.find("\r\n\r\n"));
            std::string out = "+OK\n";
            for (std::size_t pos = 0; pos <= header.size();) {
                const auto end = std::min(header.find("\r\n", pos), header.size());
                out += header.substr(pos, end - pos) + "\n";
                pos = end + 2;
            }
            return out + ".";
        }
        return plain(line);
    };
}

} // namespace listing

TEST_F(Pop3Fake, ListingReadsHeadersOnlyWithTopWhereTheServerHasIt)
{
    const std::vector<std::string> messages = {
        kPlain, "Subject: With a file\r\nContent-Type: multipart/mixed; boundary=B\r\n\r\n--B\r\n"
                "Content-Type: application/octet-stream; name=\"big.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                    std::string(76, 'A') + "\r\n--B--"};
    struct Case {
        const char* name;
        std::string capa;
        bool top;
        std::vector<std::string> commands;
    };
    const std::vector<Case> cases = {
        {"CAPA lists TOP", "+OK\nUIDL\nTOP\n.", true, {"CAPA", "TOP 1 0", "TOP 2 0"}},
        {"CAPA without TOP", "+OK\nUIDL\n.", true, {"CAPA", "RETR 1", "RETR 2"}},
        {"no CAPA, TOP known", "-ERR unknown command", true, {"CAPA", "TOP 1 0", "TOP 2 0"}},
        {"no CAPA, no TOP", "-ERR unknown command", false, {"CAPA", "TOP 1 0", "RETR 1", "RETR 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.respond = listing::withTop(messages, c.capa, c.top);
        int decoded = 0;
        client.OnDecodeStart = [&](std::string&) { ++decoded; };
        client.Connect();
        const std::size_t before = server.commands.size();
        std::vector<std::string> subjects;
        for (int n = 1; n <= client.MessageCount(); ++n) {
            client.RetrieveSummary(n);
            subjects.push_back(client.Summary.Subject);
        }
        EXPECT_EQ(subjects, (std::vector<std::string>{"Plain one", "With a file"}));
        EXPECT_EQ(std::vector<std::string>(server.commands.begin() + static_cast<std::ptrdiff_t>(before),
                                           server.commands.end()),
                  c.commands);
        EXPECT_EQ(decoded, 0);
        EXPECT_TRUE(QDir(dir.path()).isEmpty()) << "no attachment written while listing";
        client.Disconnect();
    }
}

// A broken or hostile server: endless replies, a trickle that never ends,
// "+OK" anywhere but at the start. Each ends with an error naming the limit,
// never with a hang or a success.
TEST_F(Pop3Fake, HostileServersEndWithTheLimitNamed)
{
    const std::string shortLines = [] {
        std::string s;
        while (s.size() < 65536) {
            s += "Xx: y\r\n";
        }
        return s;
    }();
    struct Case {
        const char* name;
        std::string command; // the command whose reply misbehaves
        std::string reply;
        int intervalMs;
        bool summary; // listed (RetrieveSummary) or retrieved
        std::string error;
        bool closed = true; // a refusal leaves the session usable
    };
    const std::vector<Case> cases = {
        {"endless message", "RETR", FakeServer::kStream + "+OK", 0, false,
         "Message 1 is larger than 1 MiB (the limit for one message)"},
        {"endless header", "TOP", FakeServer::kStream + "+OK", 0, true,
         "The server's reply is longer than 1 MiB (the limit for one reply)"},
        {"endless capability list", "CAPA", FakeServer::kStream + "+OK", 0, true,
         "The server's capability list has more than 100 lines (the limit)"},
        {"trickle", "RETR", FakeServer::kStream + "+OK", 20, false,
         "The server did not complete the command within 1500 ms (the limit for one command)"},
        {"+OK not at the start of RETR", "RETR", "-ERR not now +OK", 0, false, "-ERR not now +OK", false},
        {"+OK not at the start of TOP", "TOP", "-ERR not now +OK", 0, true, "-ERR not now +OK", false},
        {"+OK not at the start of STAT", "STAT", "-ERR locked +OK", 0, false, "-ERR locked +OK"},
        {"+OK not at the start of PASS", "PASS", "-ERR +OK", 0, false, "Authentication failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto normal = listing::withTop({kPlain}, "+OK\nTOP\n.", true);
        server.respond = [&](const std::string& line) {
            return line.rfind(c.command, 0) == 0 ? c.reply : normal(line);
        };
        server.stream = [&] { return c.intervalMs > 0 ? std::string("Xx: y\r\n") : shortLines; };
        server.streamIntervalMs = c.intervalMs;
        client.MaxMessageSize = std::size_t{1} << 20;
        client.Deadline = 1500;
        const std::string error = errorOf([&] {
            client.Connect();
            if (c.summary) {
                client.RetrieveSummary(1);
            } else {
                client.RetrieveMessage(1);
            }
        });
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(client.Connected(), !c.closed);
        if (client.Connected()) {
            client.Disconnect();
        }
    }
}

} // namespace
} // namespace tq
