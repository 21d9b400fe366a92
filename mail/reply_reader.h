// Reading what a mail server says, apart from the socket that carries it.
//
// The SMTP and POP3 clients read lines from their socket; the rules for turning
// those lines into replies and messages live here, in plain C++, so that they
// can be exercised with any sequence of lines.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tq::mail {

// Supplies the next line as received, CR LF included; a line longer than the
// socket's buffer comes in several pieces (only the last ends in LF). An empty
// string means the connection is closed.
using LineSource = std::function<std::string()>;
// Shown every line of a reply as it is read.
using LineSeen = std::function<void(const std::string& line)>;

// An SMTP reply ends after this many lines at most.
constexpr int kMaxReplyLines = 1000;

// True when an SMTP reply line is followed by more: it starts with a blank or
// has "-" as its fourth character.
bool isReplyContinuation(const std::string& line);

// Reads an SMTP reply of one or more lines and returns its last line (with its
// line end). Throws EMailError "Connection closed by the server" when the
// connection closes first, "The server's reply does not end" after
// kMaxReplyLines continuation lines.
std::string readSmtpReply(const LineSource& next, const LineSeen& seen = {});

// Reads one whole line, joining the pieces of a long one. Throws EMailError when
// the line grows beyond maxLength bytes or the connection is closed before any
// byte came. A connection closed part-way gives the part received.
std::string readWholeLine(const LineSource& next, std::size_t maxLength);

// Reads the lines of a retrieved message up to the final "." line: the header
// lines up to the first empty line, then the body lines. Line ends are removed
// and the leading "." the server doubled is taken away. `nextLine` supplies
// whole lines (readWholeLine) and throws when the connection closes.
void readMessageLines(const std::function<std::string()>& nextLine, std::vector<std::string>& header,
                      std::vector<std::string>& body);

// The n-th (from 0) blank-separated word of a reply, "" when it has fewer.
std::string replyWord(const std::string& reply, int n);
// True when a POP3 reply starts with the word "+OK".
bool replyIsOk(const std::string& reply);
// A count in a reply: the value of a word of 1 to 18 decimal digits, 0 for
// anything else.
long long replyCount(const std::string& word);

// "1 MiB" for whole mebibytes, "300 bytes" otherwise (for the texts of limits).
std::string sizeText(std::size_t bytes);

// The text without its trailing CR and LF characters.
std::string withoutLineEnd(std::string text);

} // namespace tq::mail
