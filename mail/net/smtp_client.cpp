#include "mail/net/smtp_client.h"

#include "mail/mail_errors.h"
#include "mail/reply_reader.h"

#include <QByteArray>

#include <cctype>

namespace tq {
namespace {

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string base64(const std::string& text)
{
    return QByteArray(text.data(), static_cast<qsizetype>(text.size())).toBase64().toStdString();
}

} // namespace

TSmtpClient::TSmtpClient(QObject* parent) : TLineSocket(parent), random_(std::random_device{}())
{
    Port = 25;
}

std::string TSmtpClient::readReply()
{
    // Greeting, HELO and EHLO replies may come in several lines; EHLO's name the
    // server's extensions.
    replyLines_.clear();
    std::string line = mail::readSmtpReply([this] { return ReadLn(); }, [this](const std::string& seen) {
        report(1, seen);
        replyLines_.push_back(mail::withoutLineEnd(seen));
    });
    setReplyNumber(line);
    return line;
}

std::string TSmtpClient::command(const std::string& text)
{
    setReplyNumber(std::string());
    Writeln(text);
    return readReply();
}

void TSmtpClient::raiseReply(const std::string& reply)
{
    throw EMailError(mail::withoutLineEnd(reply));
}

void TSmtpClient::hello(const std::string& verb)
{
    bool offered = false;
    for (;;) {
        command(verb + " " + UserID);
        if (ReplyNumber() < 300) {
            break;
        }
        if (offerOnce(OnAuthenticationFailed, offered)) {
            continue;
        }
        throw EMailError("Authentication failed");
    }
    extensions_ = Extensions();
    if (verb == "EHLO") {
        readExtensions();
    }
}

void TSmtpClient::readExtensions()
{
    // The first line names the server; every further line is one keyword with
    // its parameters.
    for (std::size_t i = 1; i < replyLines_.size(); ++i) {
        const std::string line = replyLines_[i];
        const std::string text = upper(line.size() > 4 ? line.substr(4) : std::string());
        const std::string keyword = text.substr(0, text.find_first_of(" ="));
        const std::string params = keyword.size() < text.size() ? text.substr(keyword.size() + 1) : "";
        if (keyword == "STARTTLS") {
            extensions_.startTls = true;
        } else if (keyword == "AUTH") {
            extensions_.auth = true;
            const std::string padded = " " + params + " ";
            extensions_.authPlain = extensions_.authPlain || padded.find(" PLAIN ") != std::string::npos;
            extensions_.authLogin = extensions_.authLogin || padded.find(" LOGIN ") != std::string::npos;
        } else if (keyword == "SIZE") {
            std::uint64_t value = 0;
            std::size_t digits = 0;
            while (digits < params.size() && digits < 18 && std::isdigit(static_cast<unsigned char>(params[digits]))) {
                value = value * 10 + static_cast<std::uint64_t>(params[digits] - '0');
                ++digits;
            }
            extensions_.size = value;
        }
    }
}

void TSmtpClient::greet()
{
    const std::string greeting = readReply();
    if (ReplyNumber() >= 400) {
        raiseReply(greeting);
    }
    if (Security == TSecurity::None) {
        if (SignIn) {
            throw EMailError("Signing in to " + ServerName() +
                             " needs STARTTLS or SSL/TLS; the password was not sent");
        }
        hello("HELO");
        return;
    }
    hello("EHLO");
    if (Security == TSecurity::StartTls) {
        if (!extensions_.startTls) {
            throw EMailError(ServerName() +
                             " does not offer STARTTLS; the connection was closed and nothing was sent");
        }
        const std::string reply = command("STARTTLS");
        if (ReplyNumber() != 220) {
            throw EMailError(ServerName() + " refused STARTTLS (" + mail::withoutLineEnd(reply) +
                             "); nothing was sent");
        }
        startEncryption();
        // What the server said before TLS may have been tampered with.
        hello("EHLO");
    }
    if (SignIn) {
        signIn();
    }
}

void TSmtpClient::signIn()
{
    if (!Encrypted()) {
        throw EMailError("Signing in to " + ServerName() +
                         " needs a secure connection; the password was not sent");
    }
    if (!extensions_.auth) {
        throw EMailError(ServerName() + " does not offer signing in (AUTH)");
    }
    if (!extensions_.authPlain && !extensions_.authLogin) {
        throw EMailError(ServerName() +
                         " offers no sign-in method this program knows (PLAIN or LOGIN)");
    }
    bool offered = false;
    while (!authenticate(extensions_.authPlain)) {
        signInRefused_ = true;
        const bool again = offerOnce(OnAuthenticationFailed, offered);
        signInRefused_ = false;
        if (!again) {
            throw EMailError("Authentication failed");
        }
    }
}

bool TSmtpClient::authenticate(bool plain)
{
    std::string reply;
    if (plain) {
        reply = command("AUTH PLAIN " + base64(std::string(1, '\0') + Login + '\0' + Password));
    } else {
        reply = command("AUTH LOGIN");
        if (ReplyNumber() == 334) {
            reply = command(base64(Login));
        }
        if (ReplyNumber() == 334) {
            reply = command(base64(Password));
        }
    }
    if (ReplyNumber() == 235) {
        return true;
    }
    if (ReplyNumber() >= 500) {
        return false; // the credentials (or the method) were refused
    }
    raiseReply(reply);
}

mail::TComposedMessage TSmtpClient::buildMessage()
{
    mail::BodyEvents events;
    events.encodeStart = [this](const std::string& f) {
        if (OnEncodeStart) {
            OnEncodeStart(f);
        }
    };
    events.encodeEnd = [this](const std::string& f) {
        if (OnEncodeEnd) {
            OnEncodeEnd(f);
        }
    };
    events.attachmentNotFound = [this](const std::string& f) {
        if (OnAttachmentNotFound) {
            OnAttachmentNotFound(f);
        }
    };
    mail::TComposedMessage composed =
        mail::composeMessage(PostMessage, SubType, Charset, EncodeType, random_, events);
    FinalHeader = composed.header;
    return composed;
}

void TSmtpClient::SendPostMessage()
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();

    mail::TComposedMessage composed = buildMessage();

    report(8, "Checking Connection");
    if (!Connected()) {
        if (OnConnectionRequired) {
            OnConnectionRequired();
        }
        throw EMailError("Not Connected");
    }

    auto noRecipients = [this] {
        return PostMessage.ToAddress.empty() && PostMessage.ToCarbonCopy.empty() &&
               PostMessage.ToBlindCarbonCopy.empty();
    };
    if (noRecipients()) {
        bool handled = false;
        if (OnHeaderIncomplete) {
            OnHeaderIncomplete(handled, hiToAddress);
        }
        if (!handled || noRecipients()) {
            throw EMailError("Incomplete Header");
        }
        // The handler supplied recipients: the To and CC lines change.
        mail::checkHeaderSafety(PostMessage, Charset);
        composed.header = mail::buildHeader(PostMessage, SubType, Charset, composed.boundary);
        FinalHeader = composed.header;
    }
    // What DATA carries, with SMTP transparency.
    const std::string data = mail::dotStuffed(composed.text());

    if (extensions_.size > 0) {
        // The bytes of the DATA part as they go on the wire.
        const std::uint64_t bytes = data.size() + 3;
        if (bytes > extensions_.size) {
            throw EMailError("The message is " + std::to_string(bytes) + " bytes, more than the " +
                             std::to_string(extensions_.size) + " bytes " + ServerName() +
                             " accepts; nothing was sent");
        }
    }

    if (OnSendStart) {
        OnSendStart();
    }
    // Once DATA is accepted the server reads everything up to "." as the
    // message: a send that ends there leaves the connection unusable.
    bool inData = false;
    try {
        // Replies left over from an earlier, aborted send are dropped.
        ClearInput();
        std::string reply = command("RSET");
        if (ReplyNumber() >= 400) {
            raiseReply(reply);
        }
        reply = command("MAIL FROM:<" + PostMessage.FromAddress + ">");
        if (ReplyNumber() >= 400) {
            raiseReply(reply);
        }
        for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy,
                                 &PostMessage.ToBlindCarbonCopy}) {
            // A copy: a handler may change the lists.
            const std::vector<std::string> entries = *list;
            for (const auto& entry : entries) {
                const std::string address = mail::bareAddress(entry);
                if (address.empty()) {
                    continue;
                }
                command("RCPT TO:<" + address + ">");
                if (ReplyNumber() > 300 && OnRecipientNotFound) {
                    OnRecipientNotFound(entry);
                }
            }
        }
        reply = command("DATA");
        if (ReplyNumber() >= 400) {
            raiseReply(reply);
        }
        inData = true;
        SendStream(data);
        if (OnPacketSent) {
            OnPacketSent();
        }
        reply = command(".");
        inData = false;
        if (ReplyNumber() >= 400) {
            if (OnFailure) {
                OnFailure();
            }
            raiseReply(reply);
        }
    } catch (const EMailError& e) {
        if (inData) {
            // Some of the message went out and the server still waits for the
            // rest: only closing the connection ends that transaction.
            resetCancel();
            closeSocket(true);
            throw;
        }
        if (dynamic_cast<const EAbortError*>(&e) == nullptr) {
            throw;
        }
        // Aborted before the message: tell the server to forget the transaction.
        resetCancel();
        try {
            if (Connected()) {
                Write("\r\nRSET\r\n");
            }
        } catch (const EMailError&) {
            // The abort is what the caller needs to hear about.
        }
        throw;
    }
    if (ClearParams) {
        PostMessage.Clear();
    }
    if (OnSuccess) {
        OnSuccess();
    }
}

} // namespace tq
