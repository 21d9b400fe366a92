// TSmtpClient: sends the message that `PostMessage` describes over SMTP.
//
// Connect greets the server (HELO with `UserID`), SendPostMessage runs RSET,
// MAIL FROM, RCPT TO for every recipient, DATA, the header and body, and ".",
// Disconnect says QUIT. Header lines and body are built before the dialogue, so
// a message with a line break in a header value, or an attachment that cannot
// be read, is refused before anything is sent.
#pragma once

#include "mail/net/line_socket.h"
#include "mail/post_message.h"

#include <random>
#include <string>
#include <vector>

namespace tq {

// What OnHeaderIncomplete reports as missing.
enum THeaderInfo { hiFromAddress, hiToAddress };

class TSmtpClient : public TLineSocket {
public:
    explicit TSmtpClient(QObject* parent = nullptr);

    // The text sent after HELO.
    std::string UserID;
    TPostMessage PostMessage;
    // The header lines built for the last send.
    std::vector<std::string> FinalHeader;
    TEncodeType EncodeType = uuMime;
    // Clear PostMessage after a successful send.
    bool ClearParams = true;
    TMimeType SubType = mtPlain;
    std::string Charset = "us-ascii";

    std::function<void()> OnConnectionRequired;
    std::function<void()> OnSendStart;
    std::function<void()> OnSuccess;
    std::function<void()> OnFailure;
    // The recipient entry as it stands in the list.
    std::function<void(const std::string& Recipient)> OnRecipientNotFound;
    std::function<void(bool& handled, THeaderInfo hiType)> OnHeaderIncomplete;
    std::function<void(const std::string& Filename)> OnEncodeStart;
    std::function<void(const std::string& Filename)> OnEncodeEnd;
    std::function<void(const std::string& Filename)> OnAttachmentNotFound;
    std::function<void(bool& Handled)> OnAuthenticationFailed;
    // Raised after the header and body have been handed to the connection.
    std::function<void()> OnPacketSent;

    // Connects and greets; errors leave the client disconnected.
    void Connect() override;
    // QUIT (a reply above 339 is raised after the socket is closed).
    void Disconnect() override;
    // Sends PostMessage. Returns at once when a send is already running.
    void SendPostMessage();

    // The boundary source; tests may seed it.
    std::mt19937& Random() { return random_; }

private:
    // Reads a reply, passing over continuation lines; raises when the
    // connection closed.
    std::string readReply();
    std::string command(const std::string& text);
    [[noreturn]] void raiseReply(const std::string& reply);
    void buildMessage(std::vector<std::string>& header, std::string& body, std::string& boundary);

    std::mt19937 random_;
};

} // namespace tq
