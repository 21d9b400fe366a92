// Round trips through real mail servers: OpenSMTPD receives what TSmtpClient
// sends and delivers it into a Maildir, Dovecot serves it to TPop3Client.
// The servers are started by tests/mail/servers.sh, whose DIR/env provides the
// TQ_* variables; without them these tests are skipped.
#include "mail/attach_coder.h"
#include "mail/net/line_socket.h"
#include "mail/mail_errors.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "tests/mail/mail_clients_fixture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tq {
namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

struct Servers {
    std::string smtpHost = env("TQ_SMTP_HOST");
    std::string smtpPort = env("TQ_SMTP_PORT");
    std::string pop3Host = env("TQ_POP3_HOST").empty() ? env("TQ_SMTP_HOST") : env("TQ_POP3_HOST");
    std::string pop3Port = env("TQ_POP3_PORT");
    std::string user = env("TQ_MAIL_USER");
    std::string password = env("TQ_MAIL_PASSWORD");
    std::string address = env("TQ_MAIL_ADDRESS");
    bool present() const
    {
        return !smtpHost.empty() && !smtpPort.empty() && !pop3Port.empty() && !user.empty() &&
               !password.empty() && !address.empty();
    }
};

std::string uniqueSubject(const std::string& what)
{
    static std::mt19937_64 rng(std::random_device{}());
    return what + " " + std::to_string(rng());
}

class RealServers : public MailClientsFixture<::testing::Test> {
protected:
    void SetUp() override
    {
        if (!servers.present()) {
            GTEST_SKIP() << "mail servers not running: start them with "
                            "`bash tests/mail/servers.sh start DIR` and source DIR/env";
        }
        ASSERT_TRUE(files.isValid());
        ASSERT_TRUE(attachments.isValid());
        smtp.Host = servers.smtpHost;
        smtp.Port = static_cast<std::uint16_t>(std::stoi(servers.smtpPort));
        smtp.UserID = "client.quill.test";
        smtp.TimeOut = 10000;
        pop3.Host = servers.pop3Host;
        pop3.Port = static_cast<std::uint16_t>(std::stoi(servers.pop3Port));
        pop3.UserID = servers.user;
        pop3.Password = servers.password;
        pop3.TimeOut = 10000;
        pop3.Parse = false;
        pop3.SetAttachFilePath(attachments.path());
    }

    std::string readAttachment(const std::string& name)
    {
        std::ifstream in(std::filesystem::u8path((pop3.AttachFilePath()).toStdString() + name),
                         std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Logs in and looks for the message with `subject`, polling (delivery is
    // asynchronous) for at most 15 seconds. Other messages are read into a
    // scratch folder; the one found is read again into the test's folder.
    // Leaves the POP3 session open and returns the message number, or 0 when
    // the message never came. Tests run in parallel on one mailbox, so a
    // message may vanish between STAT and RETR: the search then starts over.
    int findMessage(const std::string& subject)
    {
        QTemporaryDir scratch;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            try {
                pop3.SetAttachFilePath(scratch.path());
                pop3.Connect();
                for (int n = pop3.MessageCount(); n >= 1; --n) {
                    pop3.RetrieveMessage(n);
                    if (pop3.MailMessage.Subject == subject) {
                        pop3.SetAttachFilePath(attachments.path());
                        pop3.RetrieveMessage(n);
                        return n;
                    }
                }
                pop3.Disconnect();
            } catch (const EMailError& e) {
                expectOnlyVanishedMessage(e);
                if (pop3.Connected()) {
                    pop3.Disconnect();
                }
            }
            QTest::qWait(100);
        }
        return 0;
    }

    // Whether a message with `subject` is in the mailbox now (one scan).
    bool subjectPresent(const std::string& subject)
    {
        QTemporaryDir scratch;
        pop3.SetAttachFilePath(scratch.path());
        for (int attempt = 0; attempt < 5; ++attempt) {
            try {
                pop3.Connect();
                bool found = false;
                for (int n = pop3.MessageCount(); n >= 1 && !found; --n) {
                    pop3.RetrieveMessage(n);
                    found = pop3.MailMessage.Subject == subject;
                }
                pop3.Disconnect();
                return found;
            } catch (const EMailError& e) {
                expectOnlyVanishedMessage(e);
                if (pop3.Connected()) {
                    pop3.Disconnect();
                }
            }
        }
        ADD_FAILURE() << "the mailbox could not be read";
        return false;
    }

    // A failure other than a vanished message is a real one.
    static void expectOnlyVanishedMessage(const EMailError& e)
    {
        const std::string text = e.what();
        if (text.rfind("-ERR", 0) != 0 && text != "Connection closed by the server") {
            ADD_FAILURE() << "POP3 error: " << text;
        }
    }

    // Removes the message from the mailbox (the server removes it at QUIT).
    void removeMessage(int number)
    {
        pop3.DeleteMessage(number);
        pop3.Disconnect();
    }

    void fillMessage(const std::string& subject)
    {
        smtp.PostMessage.FromAddress = "sender@quill.test";
        smtp.PostMessage.FromName = "Quill Sender";
        smtp.PostMessage.ToAddress = {"Tester <" + servers.address + ">"};
        smtp.PostMessage.Subject = subject;
        smtp.PostMessage.LocalProgram = "Microsoft Office Outlook, Build 11.0.5510";
        smtp.PostMessage.Date = "14:20:53";
        smtp.PostMessage.ReplyTo = "reply@quill.test";
    }

    Servers servers;
};

// The listing reads headers only (Dovecot offers TOP): a message with a
// 300 KB attachment costs its header, and nothing is decoded until it is
// retrieved in full.
TEST_F(RealServers, ListingReadsOnlyTheHeaderWithTop)
{
    const std::string subject = uniqueSubject("Listed");
    const std::string attachment = writeFile("big.bin", std::string(300000, 'B'));
    smtp.Connect();
    fillMessage(subject);
    smtp.PostMessage.Body = {"text"};
    smtp.PostMessage.Attachments = {attachment};
    smtp.SendPostMessage();
    smtp.Disconnect();

    int decoded = 0;
    pop3.OnDecodeStart = [&](std::string&) { ++decoded; };
    int number = 0;
    QElapsedTimer clock;
    clock.start();
    while (number == 0 && clock.elapsed() < 15000) {
        pop3.Connect();
        for (int n = pop3.MessageCount(); n >= 1 && number == 0; --n) {
            pop3.RetrieveSummary(n);
            EXPECT_LT(pop3.BytesRecvd, 20000) << "message " << n << " was read whole";
            if (pop3.Summary.Subject == subject) {
                number = n;
            }
        }
        if (number == 0) {
            pop3.Disconnect();
            QTest::qWait(100);
        }
    }
    ASSERT_NE(number, 0) << "the message did not come";
    EXPECT_EQ(decoded, 0);
    EXPECT_TRUE(QDir(attachments.path()).isEmpty());
    pop3.RetrieveMessage(number);
    EXPECT_EQ(decoded, 1);
    EXPECT_EQ(readAttachment("big.bin"), std::string(300000, 'B'));
    removeMessage(number);
}

TEST_F(RealServers, MessageWithTwoAttachmentsComesBackTheSame)
{
    // Large enough to be written to the connection in several pieces.
    std::string binary;
    for (int i = 0; i < 300000; ++i) {
        binary += static_cast<char>((i * 131 + i / 256) & 0xFF);
    }
    const std::string text = "line one\r\n.line with a dot\r\nlast line without break";
    const std::string binPath = writeFile("image.bin", binary);
    const std::string txtPath = writeFile("notes.txt", text);
    const std::string subject = uniqueSubject("Round trip");
    const std::vector<std::string> body = {"Dear tester,", "", ".", ".hidden line", "..", "Regards"};

    smtp.Connect();
    fillMessage(subject);
    smtp.PostMessage.Body = body;
    smtp.PostMessage.Attachments = {binPath, txtPath};
    std::vector<std::string> notFound;
    smtp.OnRecipientNotFound = [&](const std::string& r) { notFound.push_back(r); };
    smtp.SendPostMessage();
    EXPECT_TRUE(notFound.empty());
    smtp.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0) << "the message did not arrive";
    const TMailMessage& m = pop3.MailMessage;
    EXPECT_EQ(m.From, "Quill Sender<sender@quill.test>");
    EXPECT_NE(m.ContentType.find("multipart/mixed"), std::string::npos);
    // The empty line in front of the first part is preamble, not text.
    std::vector<std::string> expected;
    expected.insert(expected.end(), body.begin(), body.end());
    expected.push_back("\r\nFile \"image.bin\" extracted");
    expected.push_back("\r\nFile \"notes.txt\" extracted");
    EXPECT_EQ(m.Body, expected);
    EXPECT_EQ(m.Attachments, (std::vector<std::string>{"image.bin", "notes.txt"}));
    EXPECT_EQ(readAttachment("image.bin"), binary);
    EXPECT_EQ(readAttachment("notes.txt"), text);
    removeMessage(n);
}

TEST_F(RealServers, UuencodedAttachmentComesBackTheSame)
{
    // 14 bytes in the last block: its line begins with "." and must survive
    // the SMTP and POP3 transparency rules.
    std::string data;
    for (int i = 0; i < 45 * 20 + 14; ++i) {
        data += static_cast<char>((i * 53) & 0xFF);
    }
    const std::string path = writeFile("old style.uue", data);
    const std::string subject = uniqueSubject("Uuencoded");
    smtp.Connect();
    fillMessage(subject);
    smtp.EncodeType = uuCode;
    smtp.PostMessage.Body = {"see attachment"};
    smtp.PostMessage.Attachments = {path};
    smtp.SendPostMessage();
    smtp.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0);
    EXPECT_EQ(pop3.MailMessage.Attachments, (std::vector<std::string>{"old style.uue"}));
    EXPECT_EQ(readAttachment("old style.uue"), data);
    removeMessage(n);
}

TEST_F(RealServers, PlainMessageKeepsItsLinesAndHeaders)
{
    const std::string subject = uniqueSubject("Plain");
    smtp.Connect();
    fillMessage(subject);
    smtp.PostMessage.Body = {"first", ".", "third"};
    smtp.SendPostMessage();
    smtp.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0);
    const TMailMessage& m = pop3.MailMessage;
    EXPECT_EQ(m.Body, (std::vector<std::string>{"", "first", ".", "third"}));
    auto has = [&](const std::string& line) {
        return std::find(m.Header.begin(), m.Header.end(), line) != m.Header.end();
    };
    EXPECT_TRUE(has("X-Mailer: Microsoft Office Outlook, Build 11.0.5510"));
    EXPECT_TRUE(has("Reply-To: reply@quill.test"));
    EXPECT_TRUE(has("Mime-Version: 1.0"));
    EXPECT_TRUE(has("Content-Type: text/plain; charset=us-ascii"));
    removeMessage(n);
}

TEST_F(RealServers, MessageFromAnotherProgramIsRead)
{
    // Written the way common mail programs write: boundary on a folded line,
    // quoted names with blanks, 76-character base64, a quoted-printable text,
    // and a name that tries to leave the folder.
    std::string data;
    for (int i = 0; i < 700; ++i) {
        data += static_cast<char>(255 - (i % 256));
    }
    const std::string encoded = [&] {
        const std::string lines = TAttachCoder::encodeBytes(data, 0);
        std::string flat;
        for (const char c : lines) {
            if (c != '\r' && c != '\n') {
                flat += c;
            }
        }
        std::string out;
        for (std::size_t i = 0; i < flat.size(); i += 76) {
            out += flat.substr(i, 76) + "\r\n";
        }
        return out;
    }();
    const std::string subject = uniqueSubject("Foreign");
    const std::string message =
        "From: \"Other, Program\" <other@elsewhere.test>\r\n"
        "To: " + servers.address + "\r\n"
        "Subject: " + subject + "\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed;\r\n"
        "\tboundary=\"----=_NextPart_000_0012_01D2A3B4.C5D6E7F0\"\r\n"
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        "\r\n"
        "------=_NextPart_000_0012_01D2A3B4.C5D6E7F0\r\n"
        "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n"
        "\r\n"
        "Caf=E9 au lait, a long line that is wrapped by the sender with a soft =\r\n"
        "break.\r\n"
        ".single dot line follows\r\n"
        "\r\n"
        "------=_NextPart_000_0012_01D2A3B4.C5D6E7F0\r\n"
        "Content-Type: application/octet-stream;\r\n"
        "\tname=\"annual report 2024.dat\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;\r\n"
        "\tfilename=\"annual report 2024.dat\"\r\n"
        "\r\n" + encoded +
        "\r\n"
        "------=_NextPart_000_0012_01D2A3B4.C5D6E7F0\r\n"
        "Content-Type: text/plain; name=\"../../escape.txt\"\r\n"
        "Content-Disposition: attachment; filename=\"../../escape.txt\"\r\n"
        "\r\n"
        "not outside\r\n"
        "\r\n"
        "------=_NextPart_000_0012_01D2A3B4.C5D6E7F0--\r\n";

    // Sent raw through the plain line socket, as another program would.
    TLineSocket raw;
    raw.Host = servers.smtpHost;
    raw.Port = smtp.Port;
    raw.TimeOut = 10000;
    raw.Connect();
    EXPECT_EQ(TLineSocket::replyNumberOf(raw.ReadLn()), 220);
    raw.Transaction("HELO other.test");
    raw.Transaction("MAIL FROM:<other@elsewhere.test>");
    ASSERT_EQ(raw.ReplyNumber(), 250);
    raw.Transaction("RCPT TO:<" + servers.address + ">");
    ASSERT_EQ(raw.ReplyNumber(), 250);
    raw.Transaction("DATA");
    ASSERT_EQ(raw.ReplyNumber(), 354);
    std::string stuffed;
    std::istringstream lines(message);
    std::string line;
    while (std::getline(lines, line)) {
        stuffed += (line.rfind('.', 0) == 0 ? "." : "") + line + "\n";
    }
    raw.Write(stuffed);
    raw.Transaction(".");
    ASSERT_EQ(raw.ReplyNumber(), 250) << raw.LastReply();
    raw.Transaction("QUIT");
    raw.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0);
    const TMailMessage& m = pop3.MailMessage;
    EXPECT_EQ(m.From, "\"Other, Program\" <other@elsewhere.test>");
    EXPECT_EQ(m.Boundary, "----=_NextPart_000_0012_01D2A3B4.C5D6E7F0");
    const std::vector<std::string> expected = {
        "Caf\xE9 au lait, a long line that is wrapped by the sender with a soft break.",
        ".single dot line follows",
        "\r\nFile \"annual report 2024.dat\" extracted",
        "\r\nFile \"escape.txt\" extracted"};
    EXPECT_EQ(m.Body, expected);
    EXPECT_EQ(readAttachment("annual report 2024.dat"), data);
    EXPECT_EQ(readAttachment("escape.txt"), "not outside\r\n");
    const QDir parent = QFileInfo(attachments.path()).dir();
    EXPECT_FALSE(parent.exists(QStringLiteral("escape.txt")));
    removeMessage(n);
}

TEST_F(RealServers, DeleteOnReadRemovesTheMessageAtQuit)
{
    const std::string subject = uniqueSubject("Delete me");
    smtp.Connect();
    fillMessage(subject);
    smtp.PostMessage.Body = {"short lived"};
    smtp.SendPostMessage();
    smtp.Disconnect();

    const int n = findMessage(subject);
    ASSERT_GT(n, 0);
    // In the same session, so that the number still names this message.
    pop3.DeleteOnRead = true;
    pop3.RetrieveMessage(n);
    EXPECT_EQ(pop3.MailMessage.Subject, subject);
    pop3.Disconnect();

    pop3.DeleteOnRead = false;
    EXPECT_FALSE(subjectPresent(subject)) << "the message is still there";
}

TEST_F(RealServers, UnknownRecipientIsReportedAndOthersStillGetIt)
{
    const std::string subject = uniqueSubject("Partly refused");
    smtp.Connect();
    fillMessage(subject);
    smtp.PostMessage.ToAddress = {"Nobody <nobody-here@test.local>", servers.address};
    smtp.PostMessage.Body = {"for the one who exists"};
    std::vector<std::string> notFound;
    smtp.OnRecipientNotFound = [&](const std::string& r) { notFound.push_back(r); };
    smtp.SendPostMessage();
    smtp.Disconnect();
    EXPECT_EQ(notFound, (std::vector<std::string>{"Nobody <nobody-here@test.local>"}));
    const int n = findMessage(subject);
    ASSERT_GT(n, 0);
    removeMessage(n);
}

TEST_F(RealServers, WrongPasswordAndHeaderInjectionAreRefused)
{
    pop3.Password = "not the password";
    try {
        pop3.Connect();
        FAIL() << "a wrong password must not log in";
    } catch (const EMailError& e) {
        EXPECT_STREQ(e.what(), "Authentication failed");
    }
    EXPECT_FALSE(pop3.Connected());

    smtp.Connect();
    fillMessage("Injected\r\nBcc: victim@test.local");
    EXPECT_THROW(smtp.SendPostMessage(), EMailError);
    EXPECT_TRUE(smtp.Connected());
}

} // namespace
} // namespace tq
