// tarnquill-cli: the program's engines on the command line.
//
//   compress / decompress   one stream of the byte-pair compressor, with its trailer
//   x add|list|extract|delete   .X archives, as the archive window builds them
//   encrypt / decrypt       the line cipher, standard input to standard output
//   crp save|open           encrypted memo files, as the main window saves and opens them
//   seal / unseal           passphrase-sealed memo files
//   mail compose            the message the send window sends for a memo
//   mail read               what the receive window takes from a message
//
// Exit status: 0 on success, 1 (message on standard error) on failure, 2 on wrong usage.
#include "archive/archive_ops.h"
#include "archive/archive_paths.h"
#include "archive/archive_plan.h"
#include "archive/fileio.h"
#include "archive/xfileframe.h"
#include "cli/arguments.h"
#include "cli/mail_commands.h"
#include "compress/compress.h"
#include "crypto/crpfile.h"
#include "crypto/linecipher.h"
#if TQ_HAVE_SEALED
#include "archive/sealed_archive.h"
#include "crypto/armor.h"
#endif
#include "crypto/sealed.h"
#include "platform/atomicfile.h"
#include "platform/codepage.h"
#include "platform/coredump.h"
#include "platform/fileio.h"
#include "platform/version.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif
#include <unistd.h>

namespace {

using tq::cli::Arguments;
using tq::cli::keysText;
using tq::cli::parseArguments;
using tq::cli::parseKeySet;
using tq::cli::parseNumber;
using tq::cli::splitCommas;
using tq::cli::UsageError;

// Paths on the command line are UTF-8 text (on Windows the arguments are converted
// to it); every file-system path is made from them through the archive's UTF-8
// conversion.
std::filesystem::path fsPath(const std::string& utf8)
{
    return tq::archive_io::toPath(utf8);
}

const char* const kUsage =
    "Usage: tarnquill-cli COMMAND ...\n"
    "       tarnquill-cli --version\n"
    "\n"
    "Commands:\n"
    "  compress [--skip N] INPUT OUTPUT\n"
    "      Compress INPUT with the byte-pair compressor (sort time limit off) and\n"
    "      write the stream with its trailer to OUTPUT. N defaults to 2.\n"
    "  decompress INPUT OUTPUT\n"
    "      Remove the trailer (the last 0xFF byte on), decode, write OUTPUT.\n"
    "  x add [--keys K1,K2] [--skip N] [--passphrase-file FILE] ARCHIVE PATH...\n"
    "      Add files (under their bare names) and folders (their files under the\n"
    "      path relative to the folder's parent) to ARCHIVE, creating it if needed\n"
    "      (sealed with the passphrase when --passphrase-file is given).\n"
    "  x list [--passphrase-file FILE] ARCHIVE\n"
    "      One line per entry: kind, a tab, size, a tab, name.\n"
    "  x extract [--keys K1,K2] [--overwrite] [--passphrase-file FILE] ARCHIVE FOLDER [NAME...]\n"
    "      Extract the named entries (first match, letter case ignored; a name given\n"
    "      again takes the next entry of that name), or all. An existing file is\n"
    "      named and kept (exit status 1) unless --overwrite is given; hidden files\n"
    "      (a name part beginning with a dot) are named on standard error.\n"
    "  x delete [--passphrase-file FILE] ARCHIVE NAME...\n"
    "      Delete the named entries (first match, letter case ignored).\n"
    "      A sealed archive (entry names and all, inside a sealed file) needs\n"
    "      --passphrase-file for every x command, and stays sealed when changed.\n"
    "  encrypt --keys K1,K2,K3,K4 [--passes N]\n"
    "  decrypt --keys K1,K2,K3,K4 [--passes N]\n"
    "      Line cipher from standard input to standard output, K4 + 1 passes (or N).\n"
    "      Keys: K1 5-127, K2 7-31, K3 10-254, K4 1-1000.\n"
    "  crp save --keys K1,K2,K3,K4 [--skip N] TEXTFILE CRPFILE\n"
    "      Write CRPFILE as the main window's Save as writes a memo holding\n"
    "      TEXTFILE's lines (encrypted first unless it already is cipher text).\n"
    "  crp open --keys K1,K2,K3,K4 CRPFILE\n"
    "      Print the memo text the main window's Open shows for CRPFILE.\n"
    "  seal [--passphrase-file FILE] [--ops N] [--mem KIB] [--weak] [--armor]\n"
    "       INPUT OUTPUT\n"
    "      Seal INPUT's bytes into OUTPUT with a passphrase (Argon2id, N passes over\n"
    "      KIB KiB, default 3 and 262144; XChaCha20-Poly1305). Below 2 passes or\n"
    "      65536 KiB --weak is needed; N times KIB is at most 3145728. With --armor\n"
    "      OUTPUT is text: the sealed bytes as ASCII armour (lines of at most 76\n"
    "      characters between BEGIN and END lines) for a mail or a paste.\n"
    "  unseal [--passphrase-file FILE] INPUT OUTPUT\n"
    "      Write the memo bytes of the sealed file INPUT to OUTPUT. INPUT may also\n"
    "      be a text holding ASCII armour (a saved mail, quoted or not).\n"
    "      The passphrase is asked on the terminal (twice when sealing), or read\n"
    "      from the first line of FILE; never from the command line.\n"
    "  mail compose [--keys K1,K2,K3,K4] [--to ADDR] [--from ADDR] [--name NAME]\n"
    "               [--subject TEXT] [--attach FILE]... MEMOFILE\n"
    "      Print the message the send window sends for a memo holding MEMOFILE's\n"
    "      lines (CR LF lines, before SMTP dot-stuffing); with --keys encrypted\n"
    "      first as \"Encrypt before sending\" does. Date and boundary vary.\n"
    "  mail read [--attachments DIR] MESSAGEFILE\n"
    "      Print Reply-To-Address:, Subject: and Attachment: lines for the message\n"
    "      in MESSAGEFILE, an empty line, and the text the receive window's Open\n"
    "      puts into the memo. Attachments are written to DIR only when given.\n"
    "\n"
    "Files holding memo text (compress, decompress and unseal outputs, sealed and\n"
    "crp files) are created readable by their owner only (0600).\n"
    "--keys-file FILE may stand for --keys: one key a line, as the key files hold\n"
    "them, so that the keys do not show in the process list.\n"
    "Archive keys K1,K2 are 0-255 (default 97,43). x add and x extract show their\n"
    "progress on standard error when it is a terminal.\n";

// Failure: exit status 1.
class CliError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The bytes of the file named by a UTF-8 command-line path.
std::vector<std::uint8_t> readWholeFile(const std::string& path)
{
    return tq::readWholeFile(fsPath(path));
}

std::int32_t checkedLength(std::size_t size, const std::string& path)
{
    if (size > 0x7FFFFFFFu / 2) {
        throw CliError("\"" + path + "\" is too large (" + std::to_string(size) + " bytes)");
    }
    return static_cast<std::int32_t>(size);
}

int runCompress(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--skip"});
    if (a.operands.size() != 2) {
        throw UsageError("compress takes INPUT and OUTPUT");
    }
    const std::int32_t skip = a.value("--skip") ? static_cast<std::int32_t>(parseNumber(*a.value("--skip"), "--skip", 0, 100000000)) : 2;
    const std::vector<std::uint8_t> input = readWholeFile(a.operands[0]);
    checkedLength(input.size(), a.operands[0]);

    tq::TCompress compressor;
    compressor.Reset();
    compressor.Bytes.AppendBytes(input.data(), input.size());
    compressor.Bytes.TimeLimitOn = false;
    compressor.Bytes.BuildTable(skip);
    compressor.Bytes.SortTable();
    compressor.CompressData();
    compressor.Bytes.PrependTable();
    compressor.SaveToFile(fsPath(a.operands[1]));
    return 0;
}

int runDecompress(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {});
    if (a.operands.size() != 2) {
        throw UsageError("decompress takes INPUT and OUTPUT");
    }
    std::vector<std::uint8_t> input = readWholeFile(a.operands[0]);
    checkedLength(input.size(), a.operands[0]);
    // The trailer starts at the last 0xFF byte; a stream without one is taken whole.
    for (std::size_t m = input.size(); m > 0; --m) {
        if (input[m - 1] == tq::TDataBytes::kTrailerMarker) {
            input.resize(m - 1);
            break;
        }
    }
    if (input.size() < static_cast<std::size_t>(tq::TDataBytes::kTableBytes)) {
        throw CliError(tq::cannotText("decompress", a.operands[0],
                                      "It is too short to be a compressed stream (" + std::to_string(input.size()) +
                                          " bytes before the trailer; a stream has at least " +
                                          std::to_string(tq::TDataBytes::kTableBytes) + ")"));
    }
    tq::TCompress compressor;
    compressor.Reset();
    compressor.Bytes.SetData(input.data(), input.size());
    compressor.Bytes.SplitTable();
    compressor.DecompressData();
    compressor.SaveToFile(fsPath(a.operands[1]));
    return 0;
}

tq::ArchiveKeys parseArchiveKeys(const Arguments& a)
{
    const std::optional<std::string> text = keysText(a);
    tq::ArchiveKeys keys;
    if (!text) {
        return keys;
    }
    const std::vector<std::string> parts = splitCommas(*text);
    if (parts.size() != 2) {
        throw UsageError("--keys takes two archive keys K1,K2");
    }
    keys.key1 = static_cast<std::uint8_t>(parseNumber(parts[0], "archive key 1", 0, 255));
    keys.key2 = static_cast<std::uint8_t>(parseNumber(parts[1], "archive key 2", 0, 255));
    return keys;
}

// Entry names on the command line are UTF-8; inside the archive they are Windows-1252.
std::string entryNameFromArgument(const std::string& arg)
{
    std::string name;
    if (!tq::cp1252::fromUtf8(arg, name)) {
        throw CliError("\"" + arg + "\" cannot be an entry name: it holds a character outside Windows-1252");
    }
    return name;
}

#if TQ_HAVE_SEALED
tq::sealed::SecretBytes readPassphrase(const Arguments& a, bool newPassphrase);
#endif

// How an archive file is kept: in the clear, or sealed with the key that opened
// it (or that a new sealed archive was made with).
struct ArchiveFile {
    std::string path;
#if TQ_HAVE_SEALED
    std::optional<tq::sealed::SealKey> key;
#endif
};

// Loads the archive at `path` (sealed ones with --passphrase-file). With
// `createWhenMissing` a missing archive is a new one, sealed when
// --passphrase-file is given.
ArchiveFile loadArchive(tq::XFileFrame& frame, const std::string& path, const Arguments& a, bool createWhenMissing)
{
    frame.Clear();
    ArchiveFile file;
    file.path = path;
    const bool withPassphrase = a.value("--passphrase-file").has_value();
    std::error_code ec;
    if (createWhenMissing && !std::filesystem::exists(fsPath(path), ec)) {
#if TQ_HAVE_SEALED
        if (withPassphrase) {
            tq::stopCoreDumps();
            file.key = tq::sealed::DeriveKey(readPassphrase(a, true), tq::sealed::kDefaultParams);
        }
#endif
        return file;
    }
#if TQ_HAVE_SEALED
    if (tq::sealed_archive::IsSealed(path)) {
        if (!withPassphrase) {
            throw CliError("\"" + path + "\" is sealed; give --passphrase-file FILE");
        }
        tq::stopCoreDumps();
        file.key = tq::sealed_archive::Open(frame, path, readPassphrase(a, false));
        return file;
    }
#else
    if (tq::sealed::IsSealedFile(fsPath(path))) {
        throw CliError("\"" + path + "\" is sealed; sealed archives are not part of this build (it was made "
                       "without libsodium)");
    }
#endif
    if (withPassphrase) {
        throw CliError("\"" + path + "\" is not sealed; leave out --passphrase-file");
    }
    frame.LoadFromFile(path);
    return file;
}

// Writes the archive back as it was kept (a sealed one with its key, no new question).
void saveArchive(const tq::XFileFrame& frame, const ArchiveFile& file)
{
#if TQ_HAVE_SEALED
    if (file.key) {
        tq::sealed_archive::Save(frame, file.path, *file.key);
        return;
    }
#endif
    frame.SaveToFile(file.path);
}

bool isSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The progress of x add and x extract, as the archive window's bar shows it,
// written over one line of standard error when that is a terminal.
class TerminalProgress {
public:
    explicit TerminalProgress(double share) : share_(share), shown_(isatty(fileno(stderr)) != 0) {}
    ~TerminalProgress()
    {
        if (shown_ && drawn_) {
            std::fputs("\n", stderr);
        }
    }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Callbacks for the archive operations; null when nothing is shown.
    const tq::ArchiveProgress* callbacks()
    {
        if (!shown_) {
            return nullptr;
        }
        callbacks_.step = [this](std::size_t index, std::size_t, int step) {
            const int percent = static_cast<int>(tq::progressAt(share_, index, step));
            if (percent != lastPercent_) {
                lastPercent_ = percent;
                drawn_ = true;
                std::fprintf(stderr, "\r%3d %%", percent);
                std::fflush(stderr);
            }
        };
        return &callbacks_;
    }

private:
    double share_;
    bool shown_;
    bool drawn_ = false;
    int lastPercent_ = -1;
    tq::ArchiveProgress callbacks_;
};

std::string withoutTrailingSlashes(std::string path)
{
    // A root keeps its separator ("/", and "C:\" on Windows, where "C:" is another folder).
    while (path.size() > 1 && isSeparator(path.back()) && !(path.size() == 3 && path[1] == ':')) {
        path.pop_back();
    }
    return path;
}

int runArchiveAdd(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--keys", "--keys-file", "--skip", "--passphrase-file"});
    if (a.operands.size() < 2) {
        throw UsageError("x add takes ARCHIVE and at least one PATH");
    }
    tq::AddOptions options;
    options.keys = parseArchiveKeys(a);
    options.skip = a.value("--skip") ? static_cast<std::int32_t>(parseNumber(*a.value("--skip"), "--skip", 0, 100000000)) : 2;
    options.applyTimeLimit = true;
    options.timeLimitOn = false;

    const std::string& archive = a.operands[0];
    tq::XFileFrame frame;
    const ArchiveFile kept = loadArchive(frame, archive, a, true);

    std::vector<tq::FileToAdd> files;
    for (std::size_t i = 1; i < a.operands.size(); ++i) {
        const std::string path = withoutTrailingSlashes(a.operands[i]);
        std::error_code ec;
        const auto status = std::filesystem::status(fsPath(path), ec);
        if (ec || !std::filesystem::exists(status)) {
            throw CliError("Cannot add \"" + path + "\": no such file or folder");
        }
        // A folder is named by its own name ("." and ".." are resolved first), so its
        // files get the same entry names however the folder was written.
        std::vector<tq::FileToAdd> more =
            std::filesystem::is_directory(status)
                ? tq::folderFilesToAdd(withoutTrailingSlashes(
                      tq::archive_io::fromPath(std::filesystem::absolute(fsPath(path)).lexically_normal())))
                : tq::filesToAdd({path});
        files.insert(files.end(), more.begin(), more.end());
    }
    // All or nothing: an add that would pass the archive's limits is refused
    // before any file is read.
    tq::requireRoomForAll(frame, files);
    tq::TCompress compressor;
    {
        TerminalProgress progress(tq::addShare(files.size()));
        tq::addFilesToArchive(frame, compressor, files, options, progress.callbacks());
    }
    saveArchive(frame, kept);
    return 0;
}

int runArchiveList(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--passphrase-file"});
    if (a.operands.size() != 1) {
        throw UsageError("x list takes ARCHIVE");
    }
    tq::XFileFrame frame;
    loadArchive(frame, a.operands[0], a, false);
    std::string out;
    for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
        out += std::to_string(frame.GetEntryKind(n));
        out += '\t';
        out += std::to_string(frame.GetEntrySize(n));
        out += '\t';
        out += tq::cp1252::toUtf8(frame.GetEntryName(n));
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

int runArchiveExtract(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--keys", "--keys-file", "--passphrase-file"}, {"--overwrite"});
    if (a.operands.size() < 2) {
        throw UsageError("x extract takes ARCHIVE, FOLDER and optional entry names");
    }
    const tq::ArchiveKeys keys = parseArchiveKeys(a);
    tq::XFileFrame frame;
    loadArchive(frame, a.operands[0], a, false);
    const std::string target = a.operands[1];

    std::vector<std::int32_t> entries;
    if (a.operands.size() == 2) {
        for (std::int32_t n = 1; n <= frame.EntryCount(); ++n) {
            entries.push_back(n);
        }
    } else {
        std::vector<std::string> names;
        for (std::size_t i = 2; i < a.operands.size(); ++i) {
            names.push_back(entryNameFromArgument(a.operands[i]));
        }
        entries = tq::entriesForNames(frame, names);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i] == 0) {
                throw CliError("The archive has no " + std::string(frame.IndexOfName(names[i]) != 0 ? "further " : "") +
                               "entry named \"" + a.operands[i + 2] + "\"");
            }
        }
    }
    std::error_code ec;
    std::filesystem::create_directories(fsPath(target), ec);

    // An entry that cannot be extracted (an unsafe name, a failed write, a file
    // already there without --overwrite) is named and the others are still
    // extracted. Hidden names are extracted and named, so they do not go unseen.
    int failures = 0;
    tq::TCompress compressor;
    TerminalProgress progress(tq::extractShare(entries.size(), false));
    tq::ExtractChoices choices;
    if (a.has("--overwrite")) {
        choices.replaceAll = true;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        try {
            const tq::ExtractResult r = tq::extractEntryAt(frame, compressor, entries[i], target, keys,
                                                           progress.callbacks(), i, entries.size(), &choices);
            if (r.outcome == tq::ExtractOutcome::Kept) {
                ++failures;
                std::cerr << "tarnquill-cli: \"" << r.outputPath
                          << "\" exists and was not replaced (--overwrite replaces it)\n";
            } else if (r.hidden) {
                std::cerr << "tarnquill-cli: extracted hidden file \"" << r.outputPath << "\"\n";
            }
        } catch (const std::exception& e) {
            ++failures;
            std::cerr << "tarnquill-cli: " << e.what() << '\n';
        }
    }
    return failures == 0 ? 0 : 1;
}

int runArchiveDelete(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--passphrase-file"});
    if (a.operands.size() < 2) {
        throw UsageError("x delete takes ARCHIVE and at least one entry name");
    }
    const std::string& archive = a.operands[0];
    tq::XFileFrame frame;
    const ArchiveFile kept = loadArchive(frame, archive, a, false);
    for (std::size_t i = 1; i < a.operands.size(); ++i) {
        const std::int32_t n = frame.IndexOfName(entryNameFromArgument(a.operands[i]));
        if (n == 0) {
            throw CliError("The archive has no entry named \"" + a.operands[i] + "\"; nothing was deleted");
        }
        frame.DeleteEntry(n);
    }
    saveArchive(frame, kept);
    return 0;
}

int runCipher(const std::vector<std::string>& args, bool encrypt)
{
    const Arguments a = parseArguments(args, {"--keys", "--keys-file", "--passes"});
    if (!a.operands.empty()) {
        throw UsageError(std::string(encrypt ? "encrypt" : "decrypt") + " reads standard input and takes no operands");
    }
    const tq::crp::KeySet keySet = parseKeySet(a);
    const tq::CipherKeys keys = keySet.cipher;
    const long key4 = keySet.key4;
    const int passes = a.value("--passes") ? static_cast<int>(parseNumber(*a.value("--passes"), "--passes", 1, 100000))
                                : static_cast<int>(key4 + 1);

    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    tq::LineCipher cipher;
    const std::string output =
        encrypt ? cipher.CodeLinePasses(input, keys, passes) : cipher.DeCodeLinePasses(input, keys, passes);
    if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() || std::fflush(stdout) != 0) {
        throw CliError(std::string("Cannot write standard output: ") + std::strerror(errno));
    }
    return 0;
}

#ifdef _WIN32
const char* const kLineEnding = "\r\n";
#else
const char* const kLineEnding = "\n";
#endif

int runCrpSave(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--keys", "--keys-file", "--skip"});
    if (a.operands.size() != 2) {
        throw UsageError("crp save takes TEXTFILE and CRPFILE");
    }
    const tq::crp::KeySet keys = parseKeySet(a);
    const std::int32_t skip = a.value("--skip") ? static_cast<std::int32_t>(parseNumber(*a.value("--skip"), "--skip", 2, 32000))
                                     : tq::crp::kDefaultSkip;
    const std::vector<std::uint8_t> bytes = readWholeFile(a.operands[0]);
    checkedLength(bytes.size(), a.operands[0]);
    // The memo holds the file's lines: every line break becomes CR LF.
    const std::string memoText = tq::normalizeBreaks(std::string(bytes.begin(), bytes.end()));
    tq::TCompress engine;
    tq::LineCipher cipher;
    tq::crp::SaveMemo(engine, cipher, memoText, keys, skip, fsPath(a.operands[1]));
    return 0;
}

int runCrpOpen(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--keys", "--keys-file"});
    if (a.operands.size() != 1) {
        throw UsageError("crp open takes CRPFILE");
    }
    const tq::crp::KeySet keys = parseKeySet(a);
    tq::TCompress engine;
    tq::LineCipher cipher;
    const std::string memoText = tq::crp::OpenMemo(engine, cipher, fsPath(a.operands[0]), keys);
    std::string out;
    out.reserve(memoText.size() + 2);
    for (const std::string& line : tq::memoLines(memoText)) {
        out += line;
        out += kLineEnding;
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        throw CliError(std::string("Cannot write standard output: ") + std::strerror(errno));
    }
    return 0;
}

// --- Sealed files --------------------------------------------------------------
#if TQ_HAVE_SEALED

// Longest passphrase taken from a terminal or a file.
constexpr std::size_t kMaxPassphrase = 4096;

// The first line of FILE (CR LF or LF ends it), read straight into locked memory
// with plain reads: no stdio buffer keeps a copy.
tq::sealed::SecretBytes passphraseFromFile(const std::string& path)
{
#ifdef _WIN32
    const int fd = _wopen(fsPath(path).c_str(), _O_RDONLY | _O_BINARY);
#else
    const int fd = ::open(fsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
        throw CliError(tq::cannotText("open", path, tq::systemReason(errno)));
    }
    tq::sealed::SecretBytes pass(kMaxPassphrase + 1);
    std::size_t n = 0;
    int error = 0;
    while (n < pass.size() && std::memchr(pass.data(), '\n', n) == nullptr) {
#ifdef _WIN32
        const int got = _read(fd, pass.data() + n, static_cast<unsigned>(pass.size() - n));
#else
        const ssize_t got = ::read(fd, pass.data() + n, pass.size() - n);
        if (got < 0 && errno == EINTR) {
            continue;
        }
#endif
        if (got < 0) {
            error = errno;
        }
        if (got <= 0) {
            break;
        }
        n += static_cast<std::size_t>(got);
    }
#ifdef _WIN32
    _close(fd);
#else
    ::close(fd);
#endif
    if (error != 0) {
        throw CliError(tq::cannotText("read", path, tq::systemReason(error)));
    }
    std::size_t length = 0;
    while (length < n && pass.data()[length] != '\n') {
        ++length;
    }
    if (length == n && n > kMaxPassphrase) {
        throw CliError("The passphrase in \"" + path + "\" is longer than " + std::to_string(kMaxPassphrase) +
                       " bytes");
    }
    if (length > 0 && pass.data()[length - 1] == '\r') {
        --length;
    }
    pass.shrink(length);
    return pass;
}

#ifdef _WIN32
// One line from the console without echo.
bool readHiddenLine(const char* prompt, tq::sealed::SecretBytes& line)
{
    const HANDLE in = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    std::size_t length = 0;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        if (c != '\r' && length < line.size()) {
            line.data()[length++] = static_cast<unsigned char>(c);
        }
    }
    SetConsoleMode(in, mode);
    CloseHandle(in);
    std::fputs("\n", stderr);
    line.shrink(length);
    return true;
}
#else
// The terminal settings to put back when a signal ends the program while echo
// is off (Ctrl+C at the passphrase prompt).
int echoOffTerminal = -1;
termios echoOnSettings{};

extern "C" void restoreTerminalAndDie(int signal)
{
    if (echoOffTerminal >= 0) {
        ::tcsetattr(echoOffTerminal, TCSANOW, &echoOnSettings);
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// One line from the controlling terminal with echo off (restored afterwards,
// also when Ctrl+C or a termination signal ends the program meanwhile),
// whatever standard input is. False when there is no terminal.
bool readHiddenLine(const char* prompt, tq::sealed::SecretBytes& line)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    termios saved{};
    const bool isTerminal = ::tcgetattr(fd, &saved) == 0;
    struct sigaction restore {};
    struct sigaction old[3] {};
    const int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    if (isTerminal) {
        echoOnSettings = saved;
        echoOffTerminal = fd;
        restore.sa_handler = restoreTerminalAndDie;
        sigemptyset(&restore.sa_mask);
        for (int i = 0; i < 3; ++i) {
            ::sigaction(signals[i], &restore, &old[i]);
        }
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ICANON;
        ::tcsetattr(fd, TCSANOW, &quiet);
    }
    const ssize_t shown = ::write(fd, prompt, std::strlen(prompt));
    std::size_t length = 0;
    unsigned char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        if (length < line.size()) {
            line.data()[length++] = c;
        }
    }
    if (isTerminal) {
        ::tcsetattr(fd, TCSANOW, &saved);
        for (int i = 0; i < 3; ++i) {
            ::sigaction(signals[i], &old[i], nullptr);
        }
        echoOffTerminal = -1;
    }
    const ssize_t newline = ::write(fd, "\n", 1);
    (void)shown;
    (void)newline;
    ::close(fd);
    if (length > 0 && line.data()[length - 1] == '\r') {
        --length;
    }
    line.shrink(length);
    return true;
}
#endif

// The passphrase from --passphrase-file or the terminal; a new one is asked twice.
tq::sealed::SecretBytes readPassphrase(const Arguments& a, bool newPassphrase)
{
    tq::sealed::SecretBytes pass;
    if (a.value("--passphrase-file")) {
        pass = passphraseFromFile(*a.value("--passphrase-file"));
    } else {
        pass = tq::sealed::SecretBytes(kMaxPassphrase);
        if (!readHiddenLine(newPassphrase ? "New passphrase: " : "Passphrase: ", pass)) {
            throw CliError("No terminal to ask for the passphrase; use --passphrase-file FILE");
        }
        if (newPassphrase && !pass.empty()) {
            tq::sealed::SecretBytes again(kMaxPassphrase);
            readHiddenLine("Repeat the passphrase: ", again);
            if (again.view() != pass.view()) {
                throw CliError("The two passphrases differ; nothing was written");
            }
        }
    }
    if (pass.empty()) {
        throw CliError("The passphrase is empty; nothing was written");
    }
    return pass;
}

int runSeal(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--passphrase-file", "--ops", "--mem"}, {"--weak", "--armor"});
    if (a.operands.size() != 2) {
        throw UsageError("seal takes INPUT and OUTPUT");
    }
    tq::sealed::Params params = tq::sealed::kDefaultParams;
    if (a.value("--ops")) {
        params.opslimit = static_cast<std::uint32_t>(
            parseNumber(*a.value("--ops"), "--ops", tq::sealed::kMinOpslimit, tq::sealed::kMaxOpslimit));
    }
    if (a.value("--mem")) {
        params.memlimitKiB = static_cast<std::uint32_t>(
            parseNumber(*a.value("--mem"), "--mem", tq::sealed::kMinMemlimitKiB, tq::sealed::kMaxMemlimitKiB));
    }
    if ((params.opslimit < tq::sealed::kWeakOpslimit || params.memlimitKiB < tq::sealed::kWeakMemlimitKiB) &&
        !a.has("--weak")) {
        throw UsageError("below " + std::to_string(tq::sealed::kWeakOpslimit) + " passes or " +
                         std::to_string(tq::sealed::kWeakMemlimitKiB) +
                         " KiB a passphrase is cheap to guess; add --weak to seal anyway");
    }
    if (!tq::sealed::ParamsInBounds(params)) {
        throw UsageError("--ops times --mem may be at most " + std::to_string(tq::sealed::kMaxWork) +
                         " (four times the default work)");
    }
    tq::stopCoreDumps();
    std::string memo = tq::readWholeText(fsPath(a.operands[0]));
    try {
        const tq::sealed::SecretBytes pass = readPassphrase(a, true);
        if (a.has("--armor")) {
            // The sealed bytes as text lines, for a mail or a paste.
            const std::string armour = tq::armor::Armor(*tq::sealed::Seal(memo, pass, params), "\n");
            tq::AtomicFile out(fsPath(a.operands[1]), tq::AtomicFile::Links::Follow, tq::AtomicFile::Mode::Private);
            out.write(armour.data(), armour.size());
            out.commit();
        } else {
            tq::sealed::SealToFile(fsPath(a.operands[1]), memo, pass, params);
        }
    } catch (...) {
        tq::sealed::Wipe(memo);
        throw;
    }
    tq::sealed::Wipe(memo);
    return 0;
}

int runUnseal(const std::vector<std::string>& args)
{
    const Arguments a = parseArguments(args, {"--passphrase-file"});
    if (a.operands.size() != 2) {
        throw UsageError("unseal takes INPUT and OUTPUT");
    }
    tq::stopCoreDumps();
    // A sealed file, or a text holding its armour (a saved mail, a pasted
    // block): the armour is read, and a damaged one refused, before the
    // passphrase is asked.
    const std::filesystem::path input = fsPath(a.operands[0]);
    std::optional<tq::armor::Found> armoured;
    if (!tq::sealed::IsSealedFile(input) && std::filesystem::is_regular_file(input)) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(input, error);
        if (!error && size <= 2 * tq::sealed::kMaxFileSize) {
            const std::string text = tq::readWholeText(input);
            armoured = tq::armor::Find(text);
        }
    }
    const tq::sealed::SecretBytes pass = readPassphrase(a, false);
    std::optional<std::string> memo =
        armoured ? tq::sealed::Unseal(armoured->bytes, pass) : tq::sealed::UnsealFile(input, pass);
    // The memo is wiped whether or not it could be written.
    try {
        tq::AtomicFile out(fsPath(a.operands[1]), tq::AtomicFile::Links::Follow, tq::AtomicFile::Mode::Private);
        out.write(memo->data(), memo->size());
        out.commit();
    } catch (...) {
        tq::sealed::Wipe(*memo);
        throw;
    }
    tq::sealed::Wipe(*memo);
    return 0;
}
#else
// A build made without libsodium (the Windows cross build) has no sealed files.
int runSeal(const std::vector<std::string>&)
{
    throw CliError("seal and unseal are not part of this build (it was made without libsodium)");
}
int runUnseal(const std::vector<std::string>& args)
{
    return runSeal(args);
}
#endif

int run(const std::vector<std::string>& args)
{
    if (args.empty()) {
        throw UsageError("no command given");
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("tarnquill-cli %s\n", tq::kVersionText);
        return 0;
    }
    if (command == "compress") {
        return runCompress(rest);
    }
    if (command == "decompress") {
        return runDecompress(rest);
    }
    if (command == "encrypt" || command == "decrypt") {
        return runCipher(rest, command == "encrypt");
    }
    if (command == "seal") {
        return runSeal(rest);
    }
    if (command == "unseal") {
        return runUnseal(rest);
    }
    if (command == "crp") {
        if (rest.empty()) {
            throw UsageError("crp needs a subcommand: save or open");
        }
        const std::vector<std::string> subArgs(rest.begin() + 1, rest.end());
        if (rest[0] == "save") {
            return runCrpSave(subArgs);
        }
        if (rest[0] == "open") {
            return runCrpOpen(subArgs);
        }
        throw UsageError("unknown crp subcommand \"" + rest[0] + "\"");
    }
    if (command == "mail") {
        if (rest.empty()) {
            throw UsageError("mail needs a subcommand: compose or read");
        }
        const std::vector<std::string> subArgs(rest.begin() + 1, rest.end());
        if (rest[0] == "compose") {
            return tq::cli::runMailCompose(subArgs);
        }
        if (rest[0] == "read") {
            return tq::cli::runMailRead(subArgs);
        }
        throw UsageError("unknown mail subcommand \"" + rest[0] + "\"");
    }
    if (command == "x") {
        if (rest.empty()) {
            throw UsageError("x needs a subcommand: add, list, extract or delete");
        }
        const std::string& sub = rest[0];
        const std::vector<std::string> subArgs(rest.begin() + 1, rest.end());
        if (sub == "add") {
            return runArchiveAdd(subArgs);
        }
        if (sub == "list") {
            return runArchiveList(subArgs);
        }
        if (sub == "extract") {
            return runArchiveExtract(subArgs);
        }
        if (sub == "delete") {
            return runArchiveDelete(subArgs);
        }
        throw UsageError("unknown x subcommand \"" + sub + "\"");
    }
    throw UsageError("unknown command \"" + command + "\"");
}

// The arguments as UTF-8 text. On Windows they are taken from the wide command
// line, since argv holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        throw CliError("Cannot read the command line");
    }
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(length > 0 ? static_cast<std::size_t>(length) : 1u, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
        arg.resize(arg.size() - 1); // the terminating NUL
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Standard input and output carry bytes: no CR LF translation, no end at 0x1A.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    try {
        return run(utf8Arguments(argc, argv));
    } catch (const UsageError& e) {
        std::cerr << "tarnquill-cli: " << e.what() << "\n\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tarnquill-cli: " << e.what() << '\n';
        return 1;
    }
}
