#include "mail/net/smtp_client.h"

#include "mail/mail_errors.h"
#include "mail/reply_reader.h"

namespace tq {

TSmtpClient::TSmtpClient(QObject* parent) : TLineSocket(parent), random_(std::random_device{}())
{
    Port = 25;
}

std::string TSmtpClient::readReply()
{
    // Greeting and HELO replies may come in several lines.
    std::string line = mail::readSmtpReply([this] { return ReadLn(); },
                                           [this](const std::string& seen) { report(1, seen); });
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

void TSmtpClient::Connect()
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();
    if (Connected()) {
        // Checked before the connect proper: its failure would drop the
        // connection that stands.
        report(8, "Connecting");
        throw EMailError("Already connected");
    }
    try {
        socketConnect();
        const std::string greeting = readReply();
        if (ReplyNumber() >= 400) {
            raiseReply(greeting);
        }
        bool retried = false;
        for (;;) {
            command("HELO " + UserID);
            if (ReplyNumber() < 300) {
                break;
            }
            if (!retried && OnAuthenticationFailed) {
                retried = true;
                bool handled = false;
                OnAuthenticationFailed(handled);
                if (handled) {
                    continue;
                }
            }
            throw EMailError("Authentication failed");
        }
    } catch (...) {
        closeSocket(true);
        throw;
    }
    if (OnConnect) {
        OnConnect();
    }
}

void TSmtpClient::Disconnect()
{
    if (waiting()) {
        // Called while the client waits for the server (the window closes):
        // that wait ends and the connection is dropped without QUIT.
        closeSocket(true);
        return;
    }
    BusyScope busy(*this);
    resetCancel();
    std::string reply;
    if (Connected()) {
        try {
            setReplyNumber(std::string());
            Writeln("QUIT");
            reply = ReadLn(); // a server that just closes has nothing to say
            report(1, reply);
            setReplyNumber(reply);
        } catch (...) {
            closeSocket(true);
            throw;
        }
    }
    closeSocket(true);
    if (ReplyNumber() > 339) {
        raiseReply(reply);
    }
}

void TSmtpClient::buildMessage(std::vector<std::string>& header, std::string& body,
                               std::string& boundary)
{
    mail::checkHeaderSafety(PostMessage, Charset);
    boundary = PostMessage.Attachments.empty() ? std::string() : mail::makeBoundary(random_);
    header = mail::buildHeader(PostMessage, SubType, Charset, boundary);
    FinalHeader = header;
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
    body = mail::buildBody(PostMessage, SubType, Charset, boundary, EncodeType, events);
}

void TSmtpClient::SendPostMessage()
{
    BusyScope busy(*this);
    if (!busy.entered()) {
        return;
    }
    resetCancel();

    std::vector<std::string> header;
    std::string body;
    std::string boundary;
    buildMessage(header, body, boundary);

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
        header = mail::buildHeader(PostMessage, SubType, Charset, boundary);
        FinalHeader = header;
    }

    if (OnSendStart) {
        OnSendStart();
    }
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
        std::string head;
        for (const auto& line : header) {
            head += line + "\r\n";
        }
        head += "\r\n\r\n";
        Write(head);
        SendStream(body);
        if (OnPacketSent) {
            OnPacketSent();
        }
        reply = command(".");
        if (ReplyNumber() >= 400) {
            if (OnFailure) {
                OnFailure();
            }
            raiseReply(reply);
        }
    } catch (const EAbortError&) {
        // Aborted part-way: tell the server to forget the transaction.
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
