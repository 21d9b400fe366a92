// tarnquill-cli mail compose: the message the send window would send.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace tq::cli {

// Wrong usage of a mail command (exit status 2, with the usage text).
class MailUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `mail compose [--keys K1,K2,K3,K4] [--to ADDR] [--from ADDR] [--name NAME]
// [--subject TEXT] [--attach FILE]... MEMOFILE`: writes the message to
// standard output. Returns the exit status; failures are exceptions.
int runMailCompose(const std::vector<std::string>& args);

} // namespace tq::cli
