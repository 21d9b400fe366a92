// TPop3Client: reads messages from a POP3 mailbox.
//
// Connect greets the server, logs in with USER and PASS and asks STAT for the
// message count; RetrieveMessage(n) fetches message n with RETR, fills
// `MailMessage` and writes its attachments into `AttachFilePath()`;
// RetrieveSummary(n) reads only its header (TOP n 0 where the server offers
// it, RETR otherwise) into `Summary`, decoding and writing nothing;
// DeleteMessage(n) marks a message with DELE (the server removes it at QUIT);
// Disconnect says QUIT. Only a reply that starts with "+OK" is a success.
//
// Limits against a broken or hostile server, each failing with a text that
// names it (EMailError):
//  - one line: kMaxLine, "The server sent a line longer than 1 MiB";
//  - one message: MaxMessageSize (kMaxMessageSize), "Message 3 is larger than
//    100 MiB (the limit for one message)";
//  - one reply other than a message (the header TOP gives):
//    kMaxReply, "The server's reply is longer than 1 MiB (the limit for one
//    reply)";
//  - the capability list: kMaxCapabilities lines, "The server's capability
//    list has more than 100 lines (the limit)";
//  - MIME parts of one message: mail::kMaxParts (mail/mail_message.h);
//  - time: each wait TimeOut, each command Deadline (mail/net/line_socket.h).
//
// With Security StartTls the client asks CAPA, requires STLS and completes the
// TLS handshake before USER and PASS; with SslTls the whole session is over
// TLS. USER and PASS are sent in plain text only when Security is None.
#pragma once

#include "mail/net/line_socket.h"
#include "mail/mail_message.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace tq {

class TPop3Client : public TLineSocket {
public:
    explicit TPop3Client(QObject* parent = nullptr);

    // The account's user name and password as UTF-8, sent with USER and PASS
    // as they are (servers compare them with the UTF-8 they store).
    std::string UserID;
    std::string Password;
    // Decode single-part bodies too (multipart messages are always split).
    bool Parse = true;
    // Send DELE after each retrieval.
    bool DeleteOnRead = false;

    // The folder for decoded attachments, always ending with a separator. By
    // default a folder of the program's own under the user's cache location (or
    // the temporary folder), created when the first attachment is written.
    QString AttachFilePath() const { return attachFilePath_; }
    void SetAttachFilePath(const QString& folder);

    // The message count STAT reported at Connect.
    int MessageCount() const { return messageCount_; }
    // Octets read of the message being retrieved, and its size from RETR's reply.
    std::int64_t BytesRecvd = 0;
    std::int64_t BytesTotal = 0;

    // Filled by RetrieveMessage.
    TMailMessage MailMessage;
    // Filled by RetrieveSummary (Bytes: the message's size, when the server
    // tells it).
    TSummary Summary;
    // The largest message read; 0 means kMaxMessageSize.
    std::size_t MaxMessageSize = 0;
    // RetrieveSummary reads with TOP where the server has it; false: always RETR.
    bool UseTop = true;

    std::function<void()> OnConnectionRequired;
    std::function<void(bool& Handled)> OnAuthenticationNeeded;
    std::function<void(bool& Handled)> OnAuthenticationFailed;
    std::function<void()> OnRetrieveStart;
    std::function<void()> OnRetrieveEnd;
    // May change the name (8-bit, without folder) an attachment is saved under,
    // and may change AttachFilePath for it and later ones.
    std::function<void(std::string& FileName)> OnDecodeStart;
    std::function<void(const std::string& FileName)> OnDecodeEnd;
    std::function<void()> OnSuccess;
    std::function<void()> OnFailure;
    // Raised for every line of a message read.
    std::function<void()> OnPacketRecvd;

    // Returns at once when a retrieval is already running.
    void RetrieveMessage(int number);
    // The header of message `number`, for a listing.
    void RetrieveSummary(int number);
    void DeleteMessage(int number);

    // The longest line accepted from the server.
    static constexpr std::size_t kMaxLine = 1 << 20;
    static constexpr std::size_t kMaxMessageSize = std::size_t{100} << 20;
    static constexpr std::size_t kMaxReply = 1 << 20;
    static constexpr int kMaxCapabilities = 100;

protected:
    void beforeConnect() override;
    void greet() override;
    std::string quitCommand() const override { return "QUIT"; }
    bool quitRefused(const std::string& reply) const override;

private:
    // The capabilities CAPA lists (upper-case keywords), empty when refused.
    std::vector<std::string> capabilities();
    std::string readLine();
    // Reads a multi-line reply up to "." into header and body lines; fails
    // beyond `limit` octets with the text `tooLarge` gives.
    // RETR n: the message's lines, within MaxMessageSize.
    void retrieveLines(int number, std::vector<std::string>& header, std::vector<std::string>& body);
    void readMultiLine(std::vector<std::string>& header, std::vector<std::string>& body, std::size_t limit,
                       const std::function<std::string()>& tooLarge);
    std::string command(const std::string& text);
    [[noreturn]] void raiseReply(const std::string& reply);
    void requireConnection();

    QString attachFilePath_;
    int messageCount_ = 0;
    // Whether TOP may be used: unknown until the first summary asks CAPA.
    enum class Top { Unknown, Offered, Refused } top_ = Top::Unknown;
};

} // namespace tq
