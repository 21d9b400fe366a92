// Sealed files: passphrase-protected, authenticated encryption of a memo's bytes
// or of a .X archive's bytes with libsodium (docs/sealed-format.md describes the
// file byte by byte).
//
//   header   magic, version, Argon2id parameters and salt, secretstream header,
//            and (version 2, archives) a content byte
//   chunks   the bytes in 64 KiB pieces, XChaCha20-Poly1305 (crypto_secretstream),
//            the last one tagged FINAL; every chunk carries the header as
//            associated data
//
// A wrong passphrase, a damaged, truncated, reordered or extended file all fail
// authentication and throw SealedError with kRefusedText; nothing of such a file
// is ever returned.
//
// The key derivation (crypto_pwhash) is one long call: it runs on a worker thread
// while the calling thread ticks the yield hook and reports progress (elapsed
// time against an estimate), so a window stays responsive. Everything else runs
// on the calling thread. The passphrase and the derived key live in locked,
// guarded memory (SecretBytes) that is wiped when it is freed.
//
// Plain C++ (no Qt): the main window and tarnquill-cli share it.
#pragma once

#include "platform/fileio.h"
#include "platform/yield.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tq::sealed {

// --- Format constants --------------------------------------------------------

constexpr std::size_t kMagicSize = 8;
// "\x89TQSEAL\n": the high byte and the line feed expose a file mangled by a
// text-mode transfer.
constexpr unsigned char kMagic[kMagicSize] = {0x89, 'T', 'Q', 'S', 'E', 'A', 'L', 0x0A};
// Format versions: 1 holds a memo (the header has no content field); 2 adds a
// content byte after the stream header and holds an archive. Memos are still
// written as version 1, so every program that reads sealed memos reads them; a
// program that knows only version 1 calls a sealed archive "written by a newer
// version" instead of showing its bytes as a memo. kVersion is the highest read.
constexpr std::uint8_t kMemoVersion = 1;
constexpr std::uint8_t kContentVersion = 2;
constexpr std::uint8_t kVersion = kContentVersion;
// The content byte of a version-2 header.
constexpr std::uint8_t kContentMemo = 0;
constexpr std::uint8_t kContentArchive = 1;
// Key derivation algorithm byte: Argon2id v1.3 (libsodium's crypto_pwhash_ALG_ARGON2ID13).
constexpr std::uint8_t kAlgorithmArgon2id13 = 2;
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kStreamHeaderSize = 24;
// magic, version, algorithm, opslimit (4), memlimit in KiB (4), salt, stream header
constexpr std::size_t kHeaderSize = kMagicSize + 1 + 1 + 4 + 4 + kSaltSize + kStreamHeaderSize;
// Version 2: the same, then the content byte.
constexpr std::size_t kContentHeaderSize = kHeaderSize + 1;
// Memo bytes per chunk, and the bytes each chunk adds (tag and MAC).
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kChunkOverhead = 17;

// The one message for a wrong passphrase or a damaged file.
constexpr const char* kRefusedText = "Wrong passphrase, or the file is damaged.";

// --- Key derivation parameters -------------------------------------------------

struct Params {
    std::uint32_t opslimit = 3;              // Argon2 passes
    std::uint32_t memlimitKiB = 256 * 1024;  // Argon2 memory in KiB
    bool operator==(const Params& o) const { return opslimit == o.opslimit && memlimitKiB == o.memlimitKiB; }
};

// The parameters new files are sealed with: 3 passes over 256 MiB.
constexpr Params kDefaultParams{};

// Bounds accepted when writing and when reading. A file asking for more is
// refused as damaged before anything is derived, so a hostile file cannot demand
// gigabytes or minutes: at most 16 passes, at most 1 GiB, and at most four times
// the default work (passes times memory; 12 passes over 256 MiB, 16 over 192 MiB).
constexpr std::uint32_t kMinOpslimit = 1;
constexpr std::uint32_t kMaxOpslimit = 16;
constexpr std::uint32_t kMinMemlimitKiB = 8;
constexpr std::uint32_t kMaxMemlimitKiB = 1024 * 1024; // 1 GiB
constexpr std::uint64_t kMaxWork = 4ull * kDefaultParams.opslimit * kDefaultParams.memlimitKiB;

// Below these a passphrase is cheap to guess: the command line asks for --weak.
constexpr std::uint32_t kWeakOpslimit = 2;
constexpr std::uint32_t kWeakMemlimitKiB = 64 * 1024;

bool ParamsInBounds(const Params& params);

// The largest sealed file read or written (256 MiB): a larger file is
// refused before it is read. Opening needs at most the file's size plus one
// chunk of memory besides the derivation.
constexpr std::uint64_t kMaxFileSize = 256ull * 1024 * 1024;

// --- Errors ----------------------------------------------------------------------

class SealedError : public std::runtime_error {
public:
    enum class Kind {
        Refused,       // wrong passphrase or damaged file: what() is kRefusedText
        NewerVersion,  // written by a newer program (a higher format version)
        Failed,        // no memory for the derivation, bad parameters, libsodium missing
        OtherContent,  // an archive where a memo was asked for
    };
    SealedError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// --- Locked memory ---------------------------------------------------------------

// Bytes in memory from sodium_malloc: locked against swapping where the system
// allows, fenced by guard pages, wiped when freed. Move-only.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t size);
    // A copy of `text` in locked memory.
    static SecretBytes copyOf(std::string_view text);
    ~SecretBytes();
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    unsigned char* data() { return data_; }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {reinterpret_cast<const char*>(data_), size_}; }
    // Makes the first `size` bytes the content (at most the allocated size).
    void shrink(std::size_t size);

private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Overwrites `bytes` with zeros in a way the compiler may not drop
// (sodium_memzero), then empties it.
void Wipe(std::string& bytes);
// Overwrites `size` bytes at `bytes` with zeros the same way.
void Wipe(void* bytes, std::size_t size);

// --- Long work ---------------------------------------------------------------------

// Called with 0 to 98 as the work goes on (derivation up to 90, chunks after).
using Progress = std::function<void(int percent)>;

struct Work {
    // Fired while the derivation runs (every few milliseconds) and after every chunk.
    YieldHook* yield = nullptr;
    // Tested while the derivation runs and after every chunk; when it becomes true
    // the work stops at once and nothing is returned or written (a derivation
    // that is still running finishes on its own and its key is wiped).
    const bool* stop = nullptr;
    Progress progress;
};

// --- Sealing and opening -----------------------------------------------------------

// What a sealed file holds: a memo's bytes, or the bytes of an archive (.X).
enum class Content { Memo, Archive };

// A key derived from a passphrase, with the salt and parameters it was derived with, in locked
// memory. Sealing with it needs no derivation; a file sealed with it opens with the passphrase.
// A window that opened or saved a sealed file keeps one to seal again without asking. Move-only;
// the key is wiped when it is freed.
class SealKey {
public:
    SealKey() = default;
    SealKey(SealKey&&) noexcept = default;
    SealKey& operator=(SealKey&&) noexcept = default;
    SealKey(const SealKey&) = delete;
    SealKey& operator=(const SealKey&) = delete;

    const Params& params() const { return params_; }
    bool empty() const { return key_.empty(); }

private:
    friend struct SealKeyAccess;
    SecretBytes key_;
    unsigned char salt_[kSaltSize] = {};
    Params params_;
};

// True when `head` begins with the magic. This and IsSealedFile are inline, so
// that a build without libsodium still tells a sealed file from a damaged one.
inline bool IsSealed(std::string_view head)
{
    return head.size() >= kMagicSize &&
           std::equal(kMagic, kMagic + kMagicSize, head.begin(),
                      [](unsigned char m, char c) { return m == static_cast<unsigned char>(c); });
}

// True when the file at `path` begins with the magic (false when it cannot be read).
inline bool IsSealedFile(const std::filesystem::path& path)
{
    try {
        InputFile in(path);
        char head[kMagicSize];
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), sizeof head));
        in.read(reinterpret_cast<std::uint8_t*>(head), n);
        return IsSealed(std::string_view(head, n));
    } catch (const FileError&) {
        return false;
    }
}

// The file bytes for `plain` (a memo, or an archive's bytes), sealed with
// `passphrase` and `params` under a new key; nullopt when stopped. `kept`, when
// given, receives that key, to seal again without a new derivation. Throws
// SealedError (Failed) for parameters out of bounds or no memory.
std::optional<std::string> Seal(std::string_view plain, const SecretBytes& passphrase, const Params& params,
                                const Work& work = {}, Content content = Content::Memo, SealKey* kept = nullptr);

// Derives a key with a fresh random salt; nullopt when stopped. Throws SealedError
// (Failed) for parameters out of bounds or no memory.
std::optional<SealKey> DeriveKey(const SecretBytes& passphrase, const Params& params, const Work& work = {});

// The file bytes for `plain` sealed with a held key (fresh stream header, the key's salt and
// parameters in the header), as a memo or an archive; nullopt when stopped. Throws
// SealedError (Failed) for an empty key.
std::optional<std::string> SealWithKey(std::string_view plain, const SealKey& key, Content content = Content::Memo,
                                       const Work& work = {});

// The memo bytes of a sealed file's bytes; nullopt when stopped. Throws
// SealedError: Refused for a wrong passphrase or any damage, NewerVersion for a
// later format, Failed for a file above kMaxFileSize.
// `opened`, when given, receives the key that opened the file (its salt and
// parameters), to seal again without a new derivation; it is set only when the
// whole file has been authenticated. `holds`, when given, receives what the file
// holds and any content is returned; without it only a memo is returned and a
// sealed archive is refused (SealedError OtherContent), so a memo caller never
// shows archive bytes as a memo.
std::optional<std::string> Unseal(std::string_view file, const SecretBytes& passphrase, const Work& work = {},
                                  SealKey* opened = nullptr, Content* holds = nullptr);

// The stored parameters of a sealed file's bytes (Refused when the header is
// damaged or out of bounds).
Params StoredParams(std::string_view file);
// What a sealed file's header says it holds, before anything is derived, so a
// caller can route the file to the right window before asking the passphrase
// (Refused or NewerVersion as Unseal). Opening authenticates it.
Content StoredContent(std::string_view file);
// StoredContent() of the file at `path` (reads its header only). Throws FileError
// when it cannot be read.
Content StoredFileContent(const std::filesystem::path& path);

// Seal() written atomically to `path` (the old file stays until the new one is
// complete; a new file is made 0600). Returns false when stopped (nothing written). Throws FileError too.
bool SealToFile(const std::filesystem::path& path, std::string_view plain, const SecretBytes& passphrase,
                const Params& params, const Work& work = {}, Content content = Content::Memo,
                SealKey* kept = nullptr);
// SealWithKey() written atomically to `path`, as SealToFile().
bool SealWithKeyToFile(const std::filesystem::path& path, std::string_view plain, const SealKey& key,
                       Content content = Content::Memo, const Work& work = {});
// Unseal() of the file at `path`, read chunk by chunk (the file is refused by
// its size before it is read). Throws FileError when it cannot be read.
std::optional<std::string> UnsealFile(const std::filesystem::path& path, const SecretBytes& passphrase,
                                      const Work& work = {}, SealKey* opened = nullptr, Content* holds = nullptr);

} // namespace tq::sealed
