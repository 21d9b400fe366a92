// tarnquill-cli mail compose: the message the send window builds for a memo,
// byte for byte as DATA carries it before SMTP transparency.
//
// The memo holds MEMOFILE's lines as `crp save` reads them. With --keys it is
// encrypted as "Encrypt before sending" does (key 4 + 1 passes over the whole
// memo, unless it is cipher text already). Fields are taken as the window
// takes them: the subject gets its trailing no-break space, the recipient
// field is split at "," and ";", the texts are converted to Windows-1252.
#include "cli/mail_commands.h"

#include "cli/arguments.h"

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
    const Arguments a =
        parseArguments(args, {"--keys", "--keys-file", "--to", "--from", "--name", "--subject", "--attach"});
    if (a.operands.size() != 1) {
        throw UsageError("mail compose takes MEMOFILE");
    }
    const bool encrypt = keysText(a).has_value();
    const crp::KeySet keys = encrypt ? parseKeySet(a) : crp::KeySet();
    const std::string to = a.value("--to").value_or("");
    const std::string from = a.value("--from").value_or("");
    const std::string name = a.value("--name").value_or("");
    const std::string subject = a.value("--subject").value_or("Geen");

    // The memo holds the file's lines: every line break becomes CR LF.
    const std::vector<std::uint8_t> bytes = readWholeFile(std::filesystem::u8path(a.operands[0]));
    std::string memoText = normalizeBreaks(std::string(bytes.begin(), bytes.end()));
    if (encrypt && !IsCipherText(memoText)) {
        LineCipher cipher;
        memoText = crp::EncryptMemoText(cipher, memoText, keys);
    }

    TPostMessage message;
    message.FromAddress = cp1252::fromUtf8Lossy(from);
    message.FromName = cp1252::fromUtf8Lossy(name);
    message.ReplyTo = message.FromAddress;
    message.ToAddress = mail::splitRecipients(cp1252::fromUtf8Lossy(to));
    message.Subject = cp1252::fromUtf8Lossy(subject) + "\xA0";
    message.LocalProgram = mail::kMailerName;
    message.Date = nowDate();
    message.Body = memoLines(memoText);
    for (const std::string& path : a.all("--attach")) {
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
