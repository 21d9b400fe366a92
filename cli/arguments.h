// The command line of tarnquill-cli's commands: options, operands, numbers and
// the memo key set, read one way for every command.
#pragma once

#include "crypto/crpfile.h"

#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tq::cli {

// Wrong usage: exit status 2, with the usage text.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options and operands of one command. Options may stand anywhere before "--";
// a value follows its option as the next argument or after "=".
struct Arguments {
    std::vector<std::string> operands;
    // The values of each option given, in the order given.
    std::map<std::string, std::vector<std::string>> values;
    // The value-less options given.
    std::set<std::string> switches;

    // The last value of an option, or nothing when it was not given.
    std::optional<std::string> value(const std::string& option) const;
    // Every value of an option given more than once.
    std::vector<std::string> all(const std::string& option) const;
    bool has(const std::string& switchOption) const { return switches.count(switchOption) != 0; }
};

// Reads `args`: the options in `valueOptions` take a value, those in
// `switchOptions` none; any other option is a UsageError.
Arguments parseArguments(const std::vector<std::string>& args, std::initializer_list<const char*> valueOptions,
                         std::initializer_list<const char*> switchOptions = {});

// A whole number in low..high, or a UsageError naming `what`.
long parseNumber(const std::string& text, const char* what, long low, long high);

// "a,b,c" as its parts (empty parts kept).
std::vector<std::string> splitCommas(const std::string& text);

// The keys of --keys ("K1,K2,...") or of --keys-file (one key a line, as the key
// files hold them), as one comma-separated text; nothing when neither is given.
// A key file keeps the keys out of the process list.
std::optional<std::string> keysText(const Arguments& a);

// The memo key set K1,K2,K3,K4 of --keys or --keys-file; required.
crp::KeySet parseKeySet(const Arguments& a);

} // namespace tq::cli
