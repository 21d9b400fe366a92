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

// How the text is labelled: the charset parameter and, when not empty, the
// Content-Transfer-Encoding. A body labelled "us-ascii" that holds bytes above
// 127 is labelled "windows-1252" (quoted) and "8bit" instead; the bytes stay
// the same.
struct TextLabel {
    std::string charset;
    std::string transferEncoding;
};
TextLabel textLabel(const TPostMessage& message, std::string_view charset);

// The header lines of a message, in order: From, To, CC (only when there are
// any), Subject, X-Mailer, Reply-To and Date (only when not empty),
// Mime-Version and Content-Type (with Content-Transfer-Encoding for an 8-bit
// single-part text). An empty boundary means a single-part message.
std::vector<std::string> buildHeader(const TPostMessage& message, TMimeType subType,
                                     std::string_view charset, std::string_view boundary);

// Appends one body line to `out` with CR LF; a line that begins with "." gets one
// more "." in front (SMTP transparency). An entry that itself holds line breaks
// is sent as the separate lines it holds, each stuffed on its own.
void appendBodyLine(std::string& out, std::string_view line);

// Events raised while the body is built (each may be empty).
struct BodyEvents {
    std::function<void(const std::string& fileName)> encodeStart;
    std::function<void(const std::string& fileName)> encodeEnd;
    std::function<void(const std::string& fileName)> attachmentNotFound;
};

// The body stream: the text lines alone, or with attachments the multipart
// layout with each file coded by `encodeType`. A file that cannot be read raises
// attachmentNotFound and then EMailError naming the file and the reason. The
// stream always ends with CR LF, so that the final "." stands on its own line.
std::string buildBody(const TPostMessage& message, TMimeType subType, std::string_view charset,
                      std::string_view boundary, TEncodeType encodeType,
                      const BodyEvents& events = {});

// The file name part of a path (after the last "/" or "\").
std::string fileNameOf(std::string_view path);

} // namespace mail
} // namespace tq
