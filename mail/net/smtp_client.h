// TSmtpClient: sends the message that `PostMessage` describes over SMTP.
//
// Connect greets the server (HELO with `UserID`), SendPostMessage runs RSET,
// MAIL FROM, RCPT TO for every recipient, DATA, the header and body, and ".",
// Disconnect says QUIT.
//
// With a `Security` other than None the greeting is EHLO and its extensions are
// read: STARTTLS (required, and followed by a second EHLO over TLS, when
// Security is StartTls), AUTH (PLAIN preferred, else LOGIN; used only over TLS
// and only when `SignIn` is set) and SIZE (a larger message is refused before
// anything of it is sent). Header lines and body are built before the dialogue, so
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

    // The text sent after HELO (or EHLO): a host name, 8-bit as the window
    // gives it.
    std::string UserID;
    // Sign in (SMTP AUTH) with Login and Password after the greeting; needs a
    // Security other than None. Both are UTF-8 and go into AUTH PLAIN and
    // AUTH LOGIN as they are.
    bool SignIn = false;
    std::string Login;
    std::string Password;
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
    // Offered once when the server refuses HELO/EHLO or the sign-in; a handler
    // that corrects UserID, or Login and Password, and sets Handled gets one
    // more try.
    std::function<void(bool& Handled)> OnAuthenticationFailed;
    // Raised after the header and body have been handed to the connection.
    std::function<void()> OnPacketSent;

    // What the last EHLO reply offered (all empty after HELO).
    struct Extensions {
        bool startTls = false;
        bool authPlain = false;
        bool authLogin = false;
        bool auth = false;
        // 0 when the server names no limit.
        std::uint64_t size = 0;
    };
    const Extensions& ServerExtensions() const { return extensions_; }
    // True while OnAuthenticationFailed is offered for a refused sign-in
    // (rather than a refused HELO or EHLO).
    bool SignInRefused() const { return signInRefused_; }

    // Sends PostMessage. Returns at once when a send is already running.
    void SendPostMessage();

    // The boundary source; tests may seed it.
    std::mt19937& Random() { return random_; }

protected:
    void greet() override;
    std::string quitCommand() const override { return "QUIT"; }
    bool quitRefused(const std::string&) const override { return ReplyNumber() > 339; }

private:
    // Reads a reply, passing over continuation lines (kept in replyLines_);
    // raises when the connection closed.
    std::string readReply();
    // HELO or EHLO with UserID, retried once through OnAuthenticationFailed.
    void hello(const std::string& verb);
    void readExtensions();
    void signIn();
    // One sign-in attempt; false when the server refused the credentials.
    bool authenticate(bool plain);
    std::string command(const std::string& text);
    [[noreturn]] void raiseReply(const std::string& reply);
    // The message PostMessage describes, laid out; FinalHeader is set.
    mail::TComposedMessage buildMessage();

    std::mt19937 random_;
    std::vector<std::string> replyLines_;
    Extensions extensions_;
    bool signInRefused_ = false;
};

} // namespace tq
