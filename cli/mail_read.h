// tarnquill-cli mail read: what the receive window takes from a message file.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tqcli {

// Wrong usage of a mail subcommand (exit status 2); its text says what is wrong.
class MailUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// mail read [--attachments DIR] MESSAGEFILE: prints "Reply-To-Address: ",
// "Subject: " and one "Attachment: " line per attachment, an empty line, and
// the text Open puts into the memo (UTF-8). Attachments are written into DIR
// only when it is given. Returns the exit status; failures are exceptions.
int runMailRead(const std::vector<std::string>& args);

} // namespace tqcli
