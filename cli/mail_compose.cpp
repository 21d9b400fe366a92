// tarnquill-cli mail compose: the message the send window builds for a memo,
// byte for byte as DATA carries it before SMTP transparency.
//
// The memo holds MEMOFILE's lines as `crp save` reads them. With --keys it is
// encrypted as "Encrypt before sending" does (key 4 + 1 passes over the whole
// memo, unless it is cipher text already). Fields are taken as the window
// takes them: the subject gets its trailing no-break space, the recipient
// field is split at "," and ";", the texts are converted to Windows-1252.
#include "cli/mail_commands.h"

#include "crypto/crpfile.h"
#include "crypto/linecipher.h"
#include "mail/post_message.h"
#include "memo/memo_lines.h"
#include "platform/codepage.h"
#include "platform/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <random>

namespace tq::cli {
namespace {

// The send window's fixed settings.
constexpr const char* kLocalProgram = "Microsoft Office Outlook, Build 11.0.5510";

int keyNumber(const std::string& text, int n, int low, int high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(text) < low || std::stol(text) > high) {
        throw MailUsageError("key " + std::to_string(n) + " must be a whole number in " + std::to_string(low) +
                             "-" + std::to_string(high) + ", not \"" + text + "\"");
    }
    return static_cast<int>(std::stol(text));
}

crp::KeySet parseKeys(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (parts.size() != 4) {
        throw MailUsageError("--keys takes four keys K1,K2,K3,K4");
    }
    crp::KeySet keys;
    keys.cipher.key1 = static_cast<std::uint8_t>(keyNumber(parts[0], 1, 5, 127));
    keys.cipher.key2 = static_cast<std::uint8_t>(keyNumber(parts[1], 2, 7, 31));
    keys.cipher.key3 = static_cast<std::uint8_t>(keyNumber(parts[2], 3, 10, 254));
    keys.key4 = keyNumber(parts[3], 4, 1, 1000);
    return keys;
}

// The Date header of a message sent now, in the local zone.
std::string nowDate()
{
    const std::time_t now = std::time(nullptr);
    // (One thread: the shared results of localtime and gmtime are copied at once.)
    const std::tm local = *std::localtime(&now);
    const std::tm utc = *std::gmtime(&now);
    // The zone's offset: UTC's fields read as local time lie that far behind.
    std::tm utcAsLocal = utc;
    utcAsLocal.tm_isdst = local.tm_isdst;
    const int offset = static_cast<int>(std::difftime(now, std::mktime(&utcAsLocal)) / 60);
    return mail::dateText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_wday == 0 ? 7 : local.tm_wday, local.tm_hour, local.tm_min, local.tm_sec,
                          offset);
}

} // namespace

int runMailCompose(const std::vector<std::string>& args)
{
    std::optional<std::string> keys;
    std::string to;
    std::string from;
    std::string name;
    std::string subject = "Geen";
    std::vector<std::string> attachments;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        std::string option = arg;
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
            option = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                throw MailUsageError("option " + option + " needs a value");
            }
            value = args[++i];
        }
        if (option == "--keys") {
            keys = *value;
        } else if (option == "--to") {
            to = *value;
        } else if (option == "--from") {
            from = *value;
        } else if (option == "--name") {
            name = *value;
        } else if (option == "--subject") {
            subject = *value;
        } else if (option == "--attach") {
            attachments.push_back(*value);
        } else {
            throw MailUsageError("unknown option " + option);
        }
    }
    if (operands.size() != 1) {
        throw MailUsageError("mail compose takes MEMOFILE");
    }

    // The memo holds the file's lines: every line break becomes CR LF.
    const std::vector<std::uint8_t> bytes = readWholeFile(std::filesystem::u8path(operands[0]));
    std::string memoText = normalizeBreaks(std::string(bytes.begin(), bytes.end()));
    if (keys && !IsCipherText(memoText)) {
        LineCipher cipher;
        memoText = crp::EncryptMemoText(cipher, memoText, parseKeys(*keys));
    }

    TPostMessage message;
    message.FromAddress = cp1252::fromUtf8Lossy(from);
    message.FromName = cp1252::fromUtf8Lossy(name);
    message.ReplyTo = message.FromAddress;
    message.ToAddress = mail::splitRecipients(cp1252::fromUtf8Lossy(to));
    message.Subject = cp1252::fromUtf8Lossy(subject) + "\xA0";
    message.LocalProgram = kLocalProgram;
    message.Date = nowDate();
    message.Body = memoLines(memoText);
    for (const std::string& path : attachments) {
        message.Attachments.push_back(std::filesystem::absolute(std::filesystem::u8path(path)).u8string());
    }
    std::mt19937 random(std::random_device{}());
    const std::string out = mail::composeMessage(message, mtPlain, "us-ascii", uuMime, random).text();
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        throw std::runtime_error(std::string("Cannot write standard output: ") + std::strerror(errno));
    }
    return 0;
}

} // namespace tq::cli
