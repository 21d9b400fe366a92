#include "mail/net/pop3_client.h"

#include "mail/mail_errors.h"
#include "mail/reply_reader.h"

#include <QDir>
#include <algorithm>
#include <cctype>
#include <QStandardPaths>

namespace tq {
namespace {

// The plain reply reader's helpers under this file's short names.
std::string word(const std::string& text, int n) { return mail::replyWord(text, n); }
bool firstWordOk(const std::string& reply) { return mail::replyIsOk(reply); }
long long numberOf(const std::string& text) { return mail::replyCount(text); }

std::filesystem::path toPath(const QString& folder)
{
#ifdef _WIN32
    return std::filesystem::path(folder.toStdWString());
#else
    return std::filesystem::u8path(folder.toStdString());
#endif
}

} // namespace

TPop3Client::TPop3Client(QObject* parent) : TLineSocket(parent)
{
    Port = 110;
    QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty()) {
        base = QDir::tempPath() + QStringLiteral("/tarnquill");
    }
    SetAttachFilePath(base + QStringLiteral("/attachments"));
}

void TPop3Client::SetAttachFilePath(const QString& folder)
{
    attachFilePath_ = folder;
    if (!attachFilePath_.endsWith(QLatin1Char('/')) && !attachFilePath_.endsWith(QLatin1Char('\\'))) {
        attachFilePath_ += QLatin1Char('/');
    }
}

std::string TPop3Client::readLine()
{
    // ReadLn hands over very long lines in pieces; a message line is whole.
    try {
        return mail::readWholeLine([this] { return ReadLn(); }, kMaxLine);
    } catch (const EMailError&) {
        // A reply broken off part-way leaves the rest of it on the line: the
        // session cannot go on.
        if (Connected()) {
            closeSocket(true);
        }
        throw;
    }
}

std::string TPop3Client::command(const std::string& text)
{
    Writeln(text);
    std::string reply = readLine();
    report(1, reply);
    setReplyNumber(reply);
    return reply;
}

void TPop3Client::raiseReply(const std::string& reply)
{
    throw EMailError(mail::withoutLineEnd(reply));
}

void TPop3Client::requireConnection()
{
    report(8, "Checking Connection");
    if (!Connected()) {
        if (OnConnectionRequired) {
            OnConnectionRequired();
        }
        throw EMailError("Not Connected");
    }
}

void TPop3Client::beforeConnect()
{
    if (UserID.empty() || Password.empty()) {
        bool handled = false;
        if (OnAuthenticationNeeded) {
            OnAuthenticationNeeded(handled);
        }
        if (!handled) {
            throw EMailError("Authentication failed");
        }
    }
}

std::vector<std::string> TPop3Client::capabilities()
{
    std::vector<std::string> caps;
    const std::string reply = command("CAPA");
    if (!firstWordOk(reply)) {
        return caps;
    }
    for (int lines = 0;; ++lines) {
        if (lines > kMaxCapabilities) {
            // The rest of the list is still coming: the session cannot go on.
            closeSocket(true);
            throw EMailError("The server's capability list has more than " + std::to_string(kMaxCapabilities) +
                             " lines (the limit)");
        }
        const std::string line = mail::withoutLineEnd(readLine());
        report(1, line);
        if (line == ".") {
            break;
        }
        std::string keyword = word(line, 0);
        for (char& c : keyword) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        caps.push_back(keyword);
    }
    return caps;
}

void TPop3Client::greet()
{
    top_ = Top::Unknown;
    const std::string greeting = readLine();
    report(1, greeting);
    if (!firstWordOk(greeting)) {
        raiseReply(greeting);
    }
    if (Security == TSecurity::StartTls) {
        const auto caps = capabilities();
        if (std::find(caps.begin(), caps.end(), "STLS") == caps.end()) {
            throw EMailError(ServerName() +
                             " does not offer STLS; the connection was closed and nothing was sent");
        }
        const std::string reply = command("STLS");
        if (!firstWordOk(reply)) {
            throw EMailError(ServerName() + " refused STLS (" + mail::withoutLineEnd(reply) +
                             "); nothing was sent");
        }
        startEncryption();
    }
    if (Security != TSecurity::None && !Encrypted()) {
        throw EMailError("Signing in to " + ServerName() +
                         " needs a secure connection; the password was not sent");
    }
    bool offered = false;
    for (;;) {
        std::string reply = command("USER " + UserID);
        if (firstWordOk(reply)) {
            reply = command("PASS " + Password);
            if (firstWordOk(reply)) {
                break;
            }
        }
        if (offerOnce(OnAuthenticationFailed, offered)) {
            continue;
        }
        throw EMailError("Authentication failed");
    }
    const std::string stat = command("STAT");
    if (!firstWordOk(stat)) {
        raiseReply(stat);
    }
    const long long count = numberOf(word(stat, 1));
    messageCount_ = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
}

bool TPop3Client::quitRefused(const std::string& reply) const
{
    return !reply.empty() && !firstWordOk(reply);
}

void TPop3Client::RetrieveMessage(int number)
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    requireConnection();
    if (OnRetrieveStart) {
        OnRetrieveStart();
    }
    MailMessage.Clear();
    BytesRecvd = 0;
    BytesTotal = 0;

    std::vector<std::string> header;
    std::vector<std::string> body;
    retrieveLines(number, header, body);

    mail::ParseOptions options;
    options.parse = Parse;
    options.folder = toPath(attachFilePath_);
    options.decodeStart = [this](std::string& fileName, std::filesystem::path& folder) {
        if (OnDecodeStart) {
            OnDecodeStart(fileName);
            // The handler may have chosen another folder.
            folder = toPath(attachFilePath_);
        }
    };
    options.decodeEnd = [this](const std::string& fileName) {
        if (OnDecodeEnd) {
            OnDecodeEnd(fileName);
        }
    };
    options.status = [this](const std::string& status) { report(1, status); };
    mail::parseMessage(header, body, options, MailMessage);

    if (DeleteOnRead) {
        const std::string dele = command("DELE " + std::to_string(number));
        if (!firstWordOk(dele)) {
            raiseReply(dele);
        }
    }
    report(1, "Message Retrieved");
    if (OnRetrieveEnd) {
        OnRetrieveEnd();
    }
}

void TPop3Client::readMultiLine(std::vector<std::string>& header, std::vector<std::string>& body,
                                std::size_t limit, const std::function<std::string()>& tooLarge)
{
    // Lines up to the final "."; a leading "." of a line was doubled by the
    // server.
    std::size_t total = 0;
    mail::readMessageLines(
        [&] {
            std::string line = readLine();
            total += line.size();
            if (total > limit) {
                // The rest of the reply is still coming: the session cannot
                // go on.
                closeSocket(true);
                throw EMailError(tooLarge());
            }
            BytesRecvd += static_cast<std::int64_t>(line.size());
            if (OnPacketRecvd) {
                OnPacketRecvd();
            }
            return line;
        },
        header, body);
}

void TPop3Client::retrieveLines(int number, std::vector<std::string>& header, std::vector<std::string>& body)
{
    const std::string reply = command("RETR " + std::to_string(number));
    if (!firstWordOk(reply)) {
        raiseReply(reply);
    }
    BytesTotal = numberOf(word(reply, 1));
    const std::size_t limit = MaxMessageSize > 0 ? MaxMessageSize : kMaxMessageSize;
    readMultiLine(header, body, limit, [number, limit] {
        return "Message " + std::to_string(number) + " is larger than " + mail::sizeText(limit) +
               " (the limit for one message)";
    });
}

void TPop3Client::RetrieveSummary(int number)
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    requireConnection();
    Summary = TSummary();
    BytesRecvd = 0;
    BytesTotal = 0;
    if (UseTop && top_ == Top::Unknown) {
        const auto caps = capabilities();
        // A server without CAPA may still know TOP: it is tried below.
        if (!caps.empty()) {
            top_ = std::find(caps.begin(), caps.end(), "TOP") != caps.end() ? Top::Offered : Top::Refused;
        }
    }
    std::vector<std::string> header;
    std::vector<std::string> body;
    std::string reply;
    bool headerOnly = false;
    if (UseTop && top_ != Top::Refused) {
        reply = command("TOP " + std::to_string(number) + " 0");
        headerOnly = firstWordOk(reply);
        if (!headerOnly && top_ == Top::Unknown) {
            top_ = Top::Refused;
        } else if (!headerOnly) {
            raiseReply(reply);
        } else {
            top_ = Top::Offered;
        }
    }
    if (headerOnly) {
        readMultiLine(header, body, kMaxReply, [] {
            return "The server's reply is longer than " + mail::sizeText(kMaxReply) + " (the limit for one reply)";
        });
    } else {
        retrieveLines(number, header, body);
    }
    mail::parseSummary(header, Summary);
    Summary.Bytes = BytesTotal > 0 ? BytesTotal : BytesRecvd;
}

void TPop3Client::DeleteMessage(int number)
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    requireConnection();
    const std::string reply = command("DELE " + std::to_string(number));
    if (!firstWordOk(reply)) {
        if (OnFailure) {
            OnFailure();
        }
        raiseReply(reply);
    }
    if (OnSuccess) {
        OnSuccess();
    }
}

} // namespace tq
