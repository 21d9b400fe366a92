#include "cli/arguments.h"

#include "archive/fileio.h"
#include "memo/memo_lines.h"
#include "platform/fileio.h"

#include <algorithm>

namespace tq::cli {

std::optional<std::string> Arguments::value(const std::string& option) const
{
    const auto it = values.find(option);
    if (it == values.end() || it->second.empty()) {
        return std::nullopt;
    }
    return it->second.back();
}

std::vector<std::string> Arguments::all(const std::string& option) const
{
    const auto it = values.find(option);
    return it == values.end() ? std::vector<std::string>() : it->second;
}

Arguments parseArguments(const std::vector<std::string>& args, std::initializer_list<const char*> valueOptions,
                         std::initializer_list<const char*> switchOptions)
{
    const auto named = [](std::initializer_list<const char*> list, const std::string& name) {
        return std::find_if(list.begin(), list.end(), [&](const char* option) { return name == option; }) !=
               list.end();
    };
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (named(switchOptions, name) && !value) {
            parsed.switches.insert(name);
            continue;
        }
        if (!named(valueOptions, name)) {
            throw UsageError("unknown option " + name);
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                throw UsageError("option " + name + " needs a value");
            }
            value = args[++i];
        }
        parsed.values[name].push_back(*value);
    }
    return parsed;
}

long parseNumber(const std::string& text, const char* what, long low, long high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError(std::string(what) + " must be a whole number, not \"" + text + "\"");
    }
    const long value = std::stol(text);
    if (value < low || value > high) {
        throw UsageError(std::string(what) + " must lie in " + std::to_string(low) + "-" + std::to_string(high) +
                         ", not " + text);
    }
    return value;
}

std::vector<std::string> splitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

std::optional<std::string> keysText(const Arguments& a)
{
    const std::optional<std::string> keys = a.value("--keys");
    const std::optional<std::string> keysFile = a.value("--keys-file");
    if (keys && keysFile) {
        throw UsageError("give --keys or --keys-file, not both");
    }
    if (!keysFile) {
        return keys;
    }
    std::string text;
    for (const std::string& line : memoLines(readWholeText(archive_io::toPath(*keysFile)))) {
        if (!line.empty()) {
            text += (text.empty() ? "" : ",") + line;
        }
    }
    return text;
}

crp::KeySet parseKeySet(const Arguments& a)
{
    const std::optional<std::string> text = keysText(a);
    if (!text) {
        throw UsageError("--keys K1,K2,K3,K4 or --keys-file FILE is required");
    }
    const std::vector<std::string> parts = splitCommas(*text);
    if (parts.size() != 4) {
        throw UsageError("--keys takes four keys K1,K2,K3,K4");
    }
    crp::KeySet keys;
    keys.cipher.key1 = static_cast<std::uint8_t>(parseNumber(parts[0], "key 1", 5, 127));
    keys.cipher.key2 = static_cast<std::uint8_t>(parseNumber(parts[1], "key 2", 7, 31));
    keys.cipher.key3 = static_cast<std::uint8_t>(parseNumber(parts[2], "key 3", 10, 254));
    keys.key4 = static_cast<int>(parseNumber(parts[3], "key 4", 1, 1000));
    return keys;
}

} // namespace tq::cli
