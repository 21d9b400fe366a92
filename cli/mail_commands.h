// tarnquill-cli mail compose / mail read: the send window's message for a memo,
// and what the receive window takes from a message file. Both run the mail
// engine's own code paths, without sockets.
#pragma once

#include <string>
#include <vector>

namespace tq::cli {

// `mail compose [--keys K1,K2,K3,K4 | --keys-file FILE] [--to ADDR] [--from ADDR] [--name NAME]
// [--subject TEXT] [--attach FILE]... MEMOFILE`: writes the message to
// standard output. Returns the exit status; failures are exceptions
// (UsageError for wrong usage).
int runMailCompose(const std::vector<std::string>& args);

// `mail read [--attachments DIR] MESSAGEFILE`: prints "Reply-To-Address: ",
// "Subject: " and one "Attachment: " line per attachment, an empty line, and
// the text Open puts into the memo (UTF-8). Attachments are written into DIR
// only when it is given. Returns the exit status; failures are exceptions.
int runMailRead(const std::vector<std::string>& args);

} // namespace tq::cli
