// Reading a retrieved message: header fields, MIME multipart split, decoding of
// attachments into files.
//
// Plain C++: the POP3 reader collects the header and body lines of a message
// (without CR LF, "." stuffing removed) and hands them to parseMessage, which
// fills the message record and writes attachment files. Attachment names come
// from strangers, so each one is reduced to a plain file name before it is used,
// and files are only ever written inside the attachment folder, under a name
// that does not overwrite an existing file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tq {

// What a retrieval found. Texts are 8-bit: Subject, From and the text in Body
// are converted to Windows-1252 from the character set the sender declared
// (encoded words in Subject and From decoded); everything else is as it came.
struct TMailMessage {
    std::string From;
    // The address a reply goes to: the address part of the From value, read
    // before its encoded words are decoded (mail/mail_address.h). Empty when
    // From holds no usable address.
    std::string ReplyAddress;
    std::string Subject;
    std::string MessageId;
    std::string ContentType;
    std::string Boundary;
    std::vector<std::string> Header;
    // The readable text: the text of a single-part message (its transfer
    // encoding undone), or the first text part of a multipart message, wherever
    // it sits in nested parts, followed by one entry "\r\nFile \"name\" extracted"
    // for each attachment written. A single-part body that is not text stays as
    // its raw lines unless Parse is set.
    std::vector<std::string> Body;
    // True when the text in Body is HTML (a message that has no plain text).
    bool HtmlBody = false;
    std::vector<std::string> RawBody;
    // Names (without folder) of the attachment files written.
    std::vector<std::string> Attachments;

    void Clear();
};

// What a header-only read of a message gives (the listing of a mailbox).
struct TSummary {
    std::string Subject;
    std::string From;
    std::string MessageId;
    std::int64_t Bytes = 0;
    std::vector<std::string> Header;
};

namespace mail {

// Header fields as read from the lines of one header (message or part).
struct HeaderFields {
    std::string subject;
    std::string from;
    // The From value as it came (encoded words not decoded), unfolded.
    std::string fromRaw;
    std::string contentType;
    std::string messageId;
    std::string boundary;
    std::string transferEncoding;
    std::string disposition;
    std::string fileName;
    bool hasFileName = false;
    // True when fileName came from an RFC 2231 parameter (filename*=).
    bool extendedFileName = false;
};

// Values longer than this are cut.
constexpr std::size_t kMaxFieldLength = 256;
// The raw From value is kept up to this length, so that a long display name
// does not cut off the address behind it.
constexpr std::size_t kMaxRawFromLength = 4096;
// A message of more MIME parts than this (nested parts counted) is refused
// with "The message has more than 1000 MIME parts (the limit for one
// message)": a hostile message of 100,000 small parts would otherwise write
// 100,000 files.
constexpr std::size_t kMaxParts = 1000;

// Takes what one header line says into `fields` (field names without regard to
// case; the first line of each field counts).
void scanHeaderLine(std::string_view line, HeaderFields& fields);

// Reduces an attachment name from a message to a plain file name: no folders,
// no drive, no "..", no control or reserved characters, no device names (CON,
// NUL, COM1, ...), no trailing dots or blanks, at most 200 bytes as UTF-8.
// Returns an empty string when nothing usable is left.
std::string sanitizeAttachmentName(std::string_view name);

// `name` when no file of that name is in `folder`; otherwise the name with
// "_1", "_2", ... inserted before its extension, the first that is free.
std::string freeAttachmentName(const std::filesystem::path& folder, const std::string& name);

// Finds free names as freeAttachmentName does, remembering per folder and
// name the last number handed out, so that many attachments of one name cost
// one look-up each instead of trying "_1", "_2", ... from the start every
// time. A run of names taken earlier is passed over by doubling steps and a
// search between them, so the name found is free but may leave a gap.
class FreeNames {
public:
    std::string find(const std::filesystem::path& folder, const std::string& name);

private:
    std::vector<std::pair<std::string, unsigned>> last_;
};

// The file-system path of an 8-bit name inside `folder`.
std::filesystem::path pathInFolder(const std::filesystem::path& folder, const std::string& name);

struct ParseOptions {
    // Decode single-part bodies that are not text into a file (multipart
    // messages are always split, text is always decoded).
    bool parse = false;
    // Where attachment files go; created when needed.
    std::filesystem::path folder;
    // May change the proposed name and the folder before the file is written.
    std::function<void(std::string& fileName, std::filesystem::path& folder)> decodeStart;
    std::function<void(const std::string& fileName)> decodeEnd;
    // Progress texts ("Decoding file", "Extracting file").
    std::function<void(const std::string& status)> status;
    // False: attachments are named (and listed in the body) but no file is
    // written and no folder is needed.
    bool writeFiles = true;
    // Remembers names handed out; a fresh one per call when not given.
    FreeNames* names = nullptr;
};

// Fills `summary` from header lines (nothing is decoded or written).
void parseSummary(const std::vector<std::string>& header, TSummary& summary);

// Fills `message` from the header lines (up to the empty line) and the body
// lines (up to the final "."). The MIME preamble and epilogue are not text of
// the message and are left out. Throws EMailError when an attachment file cannot
// be written or the message has more than kMaxParts parts.
void parseMessage(const std::vector<std::string>& header, const std::vector<std::string>& body,
                  const ParseOptions& options, TMailMessage& message);

} // namespace mail
} // namespace tq
