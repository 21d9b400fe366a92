// The outgoing message and how the SMTP sender lays it out.
//
// Everything here is plain C++: the header lines and the body stream of a
// message are built before the SMTP dialogue starts, so that a broken message
// (a line break inside a header value, a missing attachment) is refused before
// anything reaches the server.
#pragma once

#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace tq {

// How attachments are coded: base64 (uuMime) or uuencode (uuCode); the part's
// transfer-encoding line says which ("base64" or "X-UUENCODE").
enum TEncodeType { uuMime, uuCode };

// The text subtype of the message body.
enum TMimeType { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

// What a send carries. Text fields are 8-bit (Windows-1252); attachment paths
// are file-system paths in UTF-8.
struct TPostMessage {
    std::string FromAddress;
    std::string FromName;
    std::vector<std::string> ToAddress;
    std::vector<std::string> ToCarbonCopy;
    std::vector<std::string> ToBlindCarbonCopy;
    std::vector<std::string> Body;
    std::vector<std::string> Attachments;
    std::string Subject;
    std::string LocalProgram; // the X-Mailer text
    std::string Date;
    std::string ReplyTo;

    void Clear();
};

namespace mail {

// The MIME type of a text subtype, "text/plain" etc.
std::string mimeTypeText(TMimeType type);

// Sets the header line "Name: value" in `header`: an existing line of the same
// name (compared without regard to case) is replaced, an empty value removes it,
// otherwise the line is appended.
void setHeader(std::vector<std::string>& header, std::string_view name, std::string_view value);

// The address a recipient entry names: the text between "<" and ">" when a "<"
// is present, else the text after ":" when a colon is present, else the entry.
// Surrounding blanks are dropped.
std::string bareAddress(std::string_view entry);

// A fresh MIME boundary: "====================54535", six letters from "a" to
// "y", "====".
std::string makeBoundary(std::mt19937& random);

// Refuses (EMailError) a message whose header values or addresses hold a line
// break or a NUL: such text would end the header line on the wire and let the
// value write headers or SMTP commands of its own.
void checkHeaderSafety(const TPostMessage& message, std::string_view charset);

// The X-Mailer text the send window puts in every message.
constexpr const char* kMailerName = "Microsoft Office Outlook, Build 11.0.5510";

// Wire limits: no line of a message may carry more than 998 octets before its
// CR LF; quoted-printable and encoded words keep lines to 76 characters; header
// lines are folded at blanks to stay near 78 where the text allows.
constexpr std::size_t kMaxLineLength = 998;
constexpr std::size_t kMaxCodedLineLength = 76;
constexpr std::size_t kFoldWidth = 78;

// How the text is labelled: the charset parameter and, when not empty, the
// Content-Transfer-Encoding. A body labelled "us-ascii" that holds bytes above
// 127 is labelled "windows-1252" (quoted) instead. A body with such bytes, with
// control bytes or with a line longer than 76 characters is sent as
// quoted-printable; short 7-bit text goes as it stands, without a label.
struct TextLabel {
    std::string charset;
    std::string transferEncoding;
};
TextLabel textLabel(const TPostMessage& message, std::string_view charset);

// The body's lines: every entry split at the line breaks it holds (CR LF, a
// lone CR or a lone LF).
std::vector<std::string> bodyLines(const TPostMessage& message);

// Quoted-printable of text lines: each line ended by CR LF, soft line breaks
// ("=" at the end) keep every line at most 76 characters.
std::string quotedPrintable(const std::vector<std::string>& lines);

// `text` as RFC 2047 encoded words of `charset` ("Q" for "windows-1252", "B"
// for "utf-8", split at character boundaries), separated by blanks so that a
// fold may stand between any two; every word is at most 75 characters.
std::string encodedWords(std::string_view text, std::string_view charset);

// A header line "Name: value" folded at its blanks (CR LF before a blank) so
// that lines stay near 78 characters. In an address list a fold may also
// follow a comma outside quotes and angle brackets (a blank is added there).
std::string foldHeader(std::string_view line, bool addressList = false);

// The From value: the display name as it stands when it is plain words
// ("Jan de Vries<jan@x>"), in quotes when it holds other specials
// ("\"Vries, Jan\"<jan@x>"), as encoded words when it holds bytes above 127,
// control bytes, "=?" or a run without blanks too long for one line
// ("=?windows-1252?Q?J=E9r=F4me?= <jan@x>").
std::string fromValue(std::string_view name, std::string_view address);

// The recipients a field names, split at "," and ";" outside quotes and angle
// brackets, blanks trimmed, empty entries dropped.
std::vector<std::string> splitRecipients(std::string_view field);

// The header lines of a message, in order: From, To, CC (only when there are
// any), Subject, X-Mailer, Reply-To and Date (only when not empty),
// Mime-Version and Content-Type (with Content-Transfer-Encoding for a
// single-part text that needs one). An empty boundary means a single-part
// message. Long values are folded (an entry may then hold CR LF and a blank);
// a subject with bytes above 127 or without a blank to fold at is written as
// encoded words. A line that still would exceed 998 octets (an address
// without blanks) is refused with EMailError.
std::vector<std::string> buildHeader(const TPostMessage& message, TMimeType subType,
                                     std::string_view charset, std::string_view boundary);

// SMTP transparency over a text of CR LF lines: a line that begins with "."
// gets one more "." in front.
std::string dotStuffed(std::string_view text);

// Events raised while the body is built (each may be empty).
struct BodyEvents {
    std::function<void(const std::string& fileName)> encodeStart;
    std::function<void(const std::string& fileName)> encodeEnd;
    std::function<void(const std::string& fileName)> attachmentNotFound;
};

// The body: the text lines alone, or with attachments the multipart layout
// with each file coded by `encodeType`. A file that cannot be read raises
// attachmentNotFound and then EMailError naming the file and the reason. The
// body always ends with CR LF. It is the message as written, before SMTP
// transparency (dotStuffed).
std::string buildBody(const TPostMessage& message, TMimeType subType, std::string_view charset,
                      std::string_view boundary, TEncodeType encodeType,
                      const BodyEvents& events = {});

// A whole message as the send window sends it: the header lines, the body and
// the boundary used (empty for a single-part message).
struct TComposedMessage {
    std::vector<std::string> header;
    std::string boundary;
    std::string body;
    // The message as DATA carries it before SMTP transparency: each header
    // line ended by CR LF, two more CR LF, then the body.
    std::string text() const;
};

// Checks the message (checkHeaderSafety), draws a boundary from `random` when
// there are attachments, and builds the header and the body.
TComposedMessage composeMessage(const TPostMessage& message, TMimeType subType, std::string_view charset,
                                TEncodeType encodeType, std::mt19937& random,
                                const BodyEvents& events = {});

// An RFC 5322 date-time, "Thu, 15 Oct 1981 14:20:53 +0200", English names
// whatever the locale. `dayOfWeek` counts from 1 (Monday) to 7 (Sunday);
// `offsetMinutes` is the local zone's offset from UTC.
std::string dateText(int year, int month, int day, int dayOfWeek, int hour, int minute, int second,
                     int offsetMinutes);

// The file name part of a path (after the last "/" or "\").
std::string fileNameOf(std::string_view path);

} // namespace mail
} // namespace tq
