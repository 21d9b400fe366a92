// What Open and Reply of the receive window make of a retrieved message, in
// one place for the window and the command line.
//
// The memo gets the message's text lines (an HTML text as its plain text),
// each attachment as its line "File "name" extracted". Open drops an empty
// first line of a single-part text (the send window writes one in front of
// it; in a multipart message it is the preamble, never text); Reply puts
// two empty lines, "----- Original Message -----" and an empty line in front
// and answers the address part of the From value.
#pragma once

#include "mail/mail_message.h"

#include <string>
#include <vector>

namespace tq::mail {

// The message's text as memo lines.
std::vector<std::string> readableLines(const TMailMessage& message);

// The memo text Open puts in the memo. No line break follows the last line:
// a cipher text must stand alone for the decrypt command.
std::string openText(const TMailMessage& message);

// The memo text Reply puts in the memo.
std::string replyText(const TMailMessage& message);

// What Reply puts into the send window.
struct ReplyFields {
    std::string recipient;
    std::string subject;
};
ReplyFields replyFields(const TMailMessage& message);

} // namespace tq::mail
