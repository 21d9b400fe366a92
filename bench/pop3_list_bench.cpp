// tarnquill-pop3-list-bench: listing a mailbox of 1,000 messages of 50 KB the
// way the receive window does (the subject of every message), with headers
// read by TOP, against reading every message whole with RETR, and against
// RETR with the attachments decoded as a full retrieval does.
//
//   tarnquill-pop3-list-bench [--messages N]
//
// With the test servers of tests/mail/servers.sh running and their DIR/env
// sourced, the messages are put into the Dovecot mailbox (TQ_MAILDIR) and
// listed through Dovecot's POP3 service; otherwise a minimal POP3 server runs
// in this process on a loopback port. The output says which one was used.
#include "mail/attach_coder.h"
#include "mail/net/pop3_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// One message of about 50 KB: a short text and a 36 KB attachment in base64.
std::string message(int n)
{
    std::string data;
    for (int i = 0; i < 36 * 1024; ++i) {
        data += static_cast<char>((i * 131 + n) & 0xFF);
    }
    std::string text = "From: Bench <bench@quill.test>\r\nTo: tester@quill.test\r\nSubject: bench message " +
                       std::to_string(n) +
                       "\r\nMime-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
                       "--BB\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    for (int i = 0; i < 30; ++i) {
        text += "A line of text in the message body, long enough to look like one.\r\n";
    }
    text += "\r\n--BB\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n\r\n";
    text += tq::TAttachCoder::encodeBytes(data, 0);
    text += "\r\n--BB--\r\n";
    return text;
}

// A POP3 server of just what a listing needs, answering from `messages`.
class MiniPop3 : public QTcpServer {
public:
    explicit MiniPop3(const std::vector<std::string>& messages) : messages_(messages)
    {
        listen(QHostAddress::LocalHost, 0);
    }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto* s = new QTcpSocket(this);
        s->setSocketDescriptor(handle);
        auto buffer = std::make_shared<std::string>();
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
            const QByteArray chunk = s->readAll();
            buffer->append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
            std::size_t end;
            while ((end = buffer->find("\r\n")) != std::string::npos) {
                const std::string line = buffer->substr(0, end);
                buffer->erase(0, end + 2);
                const std::string reply = answer(line);
                s->write(reply.data(), static_cast<qint64>(reply.size()));
            }
        });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        s->write("+OK bench POP3\r\n");
    }

private:
    std::string answer(const std::string& line)
    {
        if (line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0 || line == "QUIT") {
            return "+OK\r\n";
        }
        if (line == "STAT") {
            return "+OK " + std::to_string(messages_.size()) + " 0\r\n";
        }
        if (line == "CAPA") {
            return "+OK\r\nTOP\r\nUIDL\r\n.\r\n";
        }
        const bool top = line.rfind("TOP ", 0) == 0;
        if (top || line.rfind("RETR ", 0) == 0) {
            const std::size_t n = std::strtoul(line.c_str() + (top ? 4 : 5), nullptr, 10);
            if (n < 1 || n > messages_.size()) {
                return "-ERR no such message\r\n";
            }
            const std::string& m = messages_[n - 1];
            // The bench's messages have no line that starts with ".".
            return "+OK\r\n" + (top ? m.substr(0, m.find("\r\n\r\n") + 4) : m) + ".\r\n";
        }
        return "-ERR unknown\r\n";
    }

    const std::vector<std::string>& messages_;
};

struct Server {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string user = "bench";
    std::string password = "bench";
};

enum class Mode { Top, Retr, RetrDecoded };

double listing(const Server& server, Mode mode, int& listed)
{
    QTemporaryDir attachments;
    tq::TPop3Client client;
    client.Host = server.host;
    client.Port = server.port;
    client.UserID = server.user;
    client.Password = server.password;
    client.TimeOut = 30000;
    client.Parse = false;
    client.UseTop = mode == Mode::Top;
    client.SetAttachFilePath(attachments.path());
    QElapsedTimer clock;
    clock.start();
    client.Connect();
    listed = 0;
    for (int n = 1; n <= client.MessageCount(); ++n) {
        if (mode == Mode::RetrDecoded) {
            client.RetrieveMessage(n);
            listed += client.MailMessage.Subject.empty() ? 0 : 1;
        } else {
            client.RetrieveSummary(n);
            listed += client.Summary.Subject.empty() ? 0 : 1;
        }
    }
    client.Disconnect();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int count = 1000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--messages") == 0) {
            count = std::atoi(argv[i + 1]);
        }
    }
    std::vector<std::string> messages;
    for (int n = 1; n <= count; ++n) {
        messages.push_back(message(n));
    }

    Server server;
    std::unique_ptr<MiniPop3> mini;
    std::vector<std::filesystem::path> written;
    const std::string maildir = env("TQ_MAILDIR");
    const bool dovecot = !maildir.empty() && !env("TQ_POP3_PORT").empty();
    const std::string stem = "tqbench." + std::to_string(QCoreApplication::applicationPid()) + ".";
    if (dovecot) {
        server.host = env("TQ_POP3_HOST").empty() ? "127.0.0.1" : env("TQ_POP3_HOST");
        server.port = static_cast<std::uint16_t>(std::stoi(env("TQ_POP3_PORT")));
        server.user = env("TQ_MAIL_USER");
        server.password = env("TQ_MAIL_PASSWORD");
        // Delivered as a mail server delivers into a maildir: written in tmp/,
        // then moved into new/.
        for (int n = 0; n < count; ++n) {
            const std::string name = stem + std::to_string(n) + ".bench";
            const std::filesystem::path tmp = std::filesystem::path(maildir) / "tmp" / name;
            {
                std::ofstream out(tmp, std::ios::binary);
                out << messages[static_cast<std::size_t>(n)];
            }
            const std::filesystem::path target = std::filesystem::path(maildir) / "new" / name;
            std::filesystem::rename(tmp, target);
            written.push_back(target);
        }
    } else {
        mini = std::make_unique<MiniPop3>(messages);
        server.port = mini->serverPort();
    }

    std::printf("POP3 listing of %d messages of %zu bytes on %s\n", count, messages.front().size(),
                dovecot ? "Dovecot (tests/mail/servers.sh)" : "a minimal POP3 server in this process");
    int listed = 0;
    try {
        const double top = listing(server, Mode::Top, listed);
        std::printf("  TOP n 0 (headers only): %8.3f s  (%d subjects)\n", top, listed);
        const double retr = listing(server, Mode::Retr, listed);
        std::printf("  RETR (whole messages):  %8.3f s  (%d subjects)\n", retr, listed);
        const double decoded = listing(server, Mode::RetrDecoded, listed);
        std::printf("  RETR, attachments decoded (the listing before): %8.3f s  (%d subjects)\n", decoded, listed);
        std::printf("  ratio RETR / TOP: %.1f, decoded RETR / TOP: %.1f\n", retr / top, decoded / top);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnquill-pop3-list-bench: %s\n", e.what());
    }
    // The messages put into the mailbox go again (Dovecot may have moved them to cur/).
    if (dovecot) {
        for (const char* sub : {"new", "cur"}) {
            for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(maildir) / sub)) {
                if (entry.path().filename().string().rfind(stem, 0) == 0) {
                    std::filesystem::remove(entry.path());
                }
            }
        }
    }
    return 0;
}
