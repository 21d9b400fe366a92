#include "crypto/sealed.h"

#include "platform/atomicfile.h"

#include <sodium.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>
#include <new>

namespace tq::sealed {
namespace {

static_assert(kSaltSize == crypto_pwhash_SALTBYTES, "salt size");
static_assert(kStreamHeaderSize == crypto_secretstream_xchacha20poly1305_HEADERBYTES, "stream header size");
static_assert(kChunkOverhead == crypto_secretstream_xchacha20poly1305_ABYTES, "chunk overhead");
static_assert(kAlgorithmArgon2id13 == crypto_pwhash_ALG_ARGON2ID13, "algorithm byte");
static_assert(crypto_secretstream_xchacha20poly1305_KEYBYTES == 32, "key size");

constexpr std::size_t kKeySize = crypto_secretstream_xchacha20poly1305_KEYBYTES;
constexpr std::size_t kOffVersion = kMagicSize;
constexpr std::size_t kOffAlgorithm = kOffVersion + 1;
constexpr std::size_t kOffOpslimit = kOffAlgorithm + 1;
constexpr std::size_t kOffMemlimit = kOffOpslimit + 4;
constexpr std::size_t kOffSalt = kOffMemlimit + 4;
constexpr std::size_t kOffStreamHeader = kOffSalt + kSaltSize;
static_assert(kOffStreamHeader + kStreamHeaderSize == kHeaderSize, "header layout");

constexpr int kDerivationShare = 90; // percent of the bar the derivation fills
constexpr int kLastPercent = 98;

void initSodium()
{
    static const int result = sodium_init();
    if (result < 0) {
        throw SealedError(SealedError::Kind::Failed, "The cryptography library could not be initialised.");
    }
}

[[noreturn]] void refuse()
{
    throw SealedError(SealedError::Kind::Refused, kRefusedText);
}

void putLe32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

std::uint32_t getLe32(const unsigned char* p)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

const unsigned char* bytesOf(std::string_view s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

bool stopped(const Work& work)
{
    return work.stop != nullptr && *work.stop;
}

void report(const Work& work, int percent)
{
    if (work.progress) {
        work.progress(std::min(percent, kLastPercent));
    }
}

// Argon2 work done per second on this machine (KiB times passes), learnt from
// each derivation; the first estimate is a modest desktop's.
std::atomic<double> derivationRate{1.0e6};

// One derivation on its own thread. The thread owns this (shared) state, so a
// caller that stops waiting leaves it running to its end safely; the copies of
// the passphrase and the key are wiped when the last owner lets go.
struct Derivation {
    SecretBytes passphrase;
    unsigned char salt[kSaltSize];
    Params params;
    SecretBytes key{kKeySize};
    std::promise<int> result;
};

// Derives the stream key from the passphrase on a worker thread; the calling
// thread fires the yield hook, moves the bar and tests the stop flag meanwhile.
// crypto_pwhash cannot be interrupted: on a stop the caller returns at once
// (nullopt) and the derivation's result is thrown away when it ends.
std::optional<SecretBytes> deriveKey(const SecretBytes& passphrase, const unsigned char* salt, const Params& params,
                                     const Work& work)
{
    auto job = std::make_shared<Derivation>();
    job->passphrase = SecretBytes::copyOf(passphrase.view());
    std::memcpy(job->salt, salt, kSaltSize);
    job->params = params;
    std::future<int> done = job->result.get_future();
    const double workload = static_cast<double>(params.memlimitKiB) * params.opslimit;
    const double estimate = std::max(0.05, workload / derivationRate.load());
    const auto start = std::chrono::steady_clock::now();
    try {
        std::thread([job] {
            job->result.set_value(crypto_pwhash(
                job->key.data(), job->key.size(), reinterpret_cast<const char*>(job->passphrase.data()),
                job->passphrase.size(), job->salt, job->params.opslimit,
                static_cast<std::size_t>(job->params.memlimitKiB) * 1024u, crypto_pwhash_ALG_ARGON2ID13));
        }).detach();
    } catch (const std::system_error&) {
        throw SealedError(SealedError::Kind::Failed, "The key derivation could not be started.");
    }
    report(work, 0);
    // Short waits first (small parameters finish in microseconds), then every 4 ms.
    std::chrono::microseconds wait(100);
    while (done.wait_for(wait) != std::future_status::ready) {
        wait = std::min<std::chrono::microseconds>(wait * 2, std::chrono::milliseconds(4));
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The bar approaches the derivation's share but never claims it early.
        const double fraction = elapsed < estimate ? elapsed / estimate * 0.9 : 0.9 + 0.09 * (1 - estimate / elapsed);
        report(work, static_cast<int>(fraction * kDerivationShare));
        if (work.yield != nullptr) {
            work.yield->fire();
        }
        if (stopped(work)) {
            return std::nullopt;
        }
    }
    const int result = done.get();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != 0) {
        throw SealedError(SealedError::Kind::Failed,
                          "Not enough memory to derive the key (" + std::to_string(params.memlimitKiB / 1024) +
                              " MiB are needed).");
    }
    if (seconds > 0.01) {
        derivationRate.store(workload / seconds);
    }
    report(work, kDerivationShare);
    if (work.yield != nullptr) {
        work.yield->fire();
    }
    if (stopped(work)) {
        return std::nullopt;
    }
    return SecretBytes::copyOf(job->key.view());
}

// Chunk progress: the part after the derivation (`from` is where the chunks'
// share of the bar begins: after the derivation, or at 0 with a held key).
int chunkPercent(int from, std::size_t done, std::size_t total)
{
    if (total == 0) {
        return kLastPercent;
    }
    return from + static_cast<int>((kLastPercent - from) * static_cast<double>(done) / static_cast<double>(total));
}

void afterChunk(const Work& work, int from, std::size_t done, std::size_t total)
{
    report(work, chunkPercent(from, done, total));
    if (work.yield != nullptr) {
        work.yield->fire();
    }
}

} // namespace

// The engine's access to a held key's parts.
struct SealKeyAccess {
    static SealKey make(SecretBytes key, const unsigned char* salt, const Params& params)
    {
        SealKey k;
        k.key_ = std::move(key);
        std::memcpy(k.salt_, salt, kSaltSize);
        k.params_ = params;
        return k;
    }
    static const SecretBytes& key(const SealKey& k) { return k.key_; }
    static const unsigned char* salt(const SealKey& k) { return k.salt_; }
};

bool ParamsInBounds(const Params& params)
{
    return params.opslimit >= kMinOpslimit && params.opslimit <= kMaxOpslimit &&
           params.memlimitKiB >= kMinMemlimitKiB && params.memlimitKiB <= kMaxMemlimitKiB &&
           static_cast<std::uint64_t>(params.opslimit) * params.memlimitKiB <= kMaxWork;
}

// --- SecretBytes ------------------------------------------------------------------

SecretBytes::SecretBytes(std::size_t size)
{
    initSodium();
    // sodium_malloc locks the pages (where the system lets it) and fences them
    // with guard pages; it never returns memory for 0 bytes portably, so at
    // least one byte is taken.
    data_ = static_cast<unsigned char*>(sodium_malloc(std::max<std::size_t>(size, 1)));
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
    size_ = size;
    capacity_ = size;
}

SecretBytes SecretBytes::copyOf(std::string_view text)
{
    SecretBytes s(text.size());
    if (!text.empty()) {
        std::memcpy(s.data_, text.data(), text.size());
    }
    return s;
}

SecretBytes::~SecretBytes()
{
    if (data_ != nullptr) {
        sodium_free(data_); // wipes before unmapping
    }
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(other.data_)
    , size_(other.size_)
    , capacity_(other.capacity_)
{
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        if (data_ != nullptr) {
            sodium_free(data_);
        }
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void SecretBytes::shrink(std::size_t size)
{
    if (size < size_) {
        sodium_memzero(data_ + size, size_ - size);
        size_ = size;
    }
}

void Wipe(void* bytes, std::size_t size)
{
    if (size > 0) {
        sodium_memzero(bytes, size);
    }
}

void Wipe(std::string& bytes)
{
    if (!bytes.empty()) {
        sodium_memzero(bytes.data(), bytes.size());
    }
    bytes.clear();
}

// --- Format -----------------------------------------------------------------------

namespace {

// The size of the header that begins at `h` (its first kHeaderSize bytes are
// there): version 1 has no content byte, version 2 has one. Refused when damaged.
std::size_t headerSize(const unsigned char* h)
{
    if (std::memcmp(h, kMagic, kMagicSize) != 0) {
        refuse();
    }
    if (h[kOffVersion] > kVersion) {
        throw SealedError(SealedError::Kind::NewerVersion,
                          "This sealed file was written by a newer version of Tarnquill (format version " +
                              std::to_string(h[kOffVersion]) + "); this version reads formats 1 to " +
                              std::to_string(kVersion) + ".");
    }
    if (h[kOffVersion] == kMemoVersion) {
        return kHeaderSize;
    }
    if (h[kOffVersion] == kContentVersion) {
        return kContentHeaderSize;
    }
    refuse();
}

// What a complete header says the file holds (Refused for an unknown content byte).
Content headerContent(const unsigned char* h)
{
    if (headerSize(h) == kHeaderSize) {
        return Content::Memo;
    }
    switch (h[kHeaderSize]) {
    case kContentMemo:
        return Content::Memo;
    case kContentArchive:
        return Content::Archive;
    default:
        refuse();
    }
}

// The parameters of a complete header (Refused when damaged or out of bounds).
Params headerParams(const unsigned char* h)
{
    headerSize(h);
    if (h[kOffAlgorithm] != kAlgorithmArgon2id13) {
        refuse();
    }
    Params params;
    params.opslimit = getLe32(h + kOffOpslimit);
    params.memlimitKiB = getLe32(h + kOffMemlimit);
    if (!ParamsInBounds(params)) {
        refuse();
    }
    return params;
}

[[noreturn]] void otherContent()
{
    throw SealedError(SealedError::Kind::OtherContent,
                      "This sealed file holds an archive, not a memo; open it in the archive window.");
}

[[noreturn]] void tooLarge()
{
    throw SealedError(SealedError::Kind::Failed, "A sealed file may hold at most " +
                                                     std::to_string(kMaxFileSize / (1024 * 1024)) +
                                                     " MiB; this one is larger.");
}

// Reads the next `count` bytes of a sealed file into `out`.
using ReadBytes = std::function<void(unsigned char* out, std::size_t count)>;

// Opens a sealed file of `fileSize` bytes read through `read`: the header, the
// derivation, then one chunk at a time, so that besides the memo only one chunk
// of the file is held.
std::optional<std::string> openSealed(std::uint64_t fileSize, const ReadBytes& read, const SecretBytes& passphrase,
                                      const Work& work, SealKey* opened, Content* holds)
{
    initSodium();
    if (fileSize > kMaxFileSize) {
        tooLarge();
    }
    if (fileSize < kHeaderSize + kChunkOverhead) {
        refuse();
    }
    unsigned char h[kContentHeaderSize];
    read(h, kHeaderSize);
    const std::size_t hsize = headerSize(h);
    if (fileSize < hsize + kChunkOverhead) {
        refuse();
    }
    if (hsize > kHeaderSize) {
        read(h + kHeaderSize, hsize - kHeaderSize);
    }
    const Params params = headerParams(h);
    // The content byte is taken at its word only for the question below; it is
    // part of the associated data of every chunk, so a changed byte fails.
    const Content content = headerContent(h);
    if (holds == nullptr && content != Content::Memo) {
        otherContent();
    }
    std::optional<SecretBytes> key = deriveKey(passphrase, h + kOffSalt, params, work);
    if (!key) {
        return std::nullopt;
    }
    crypto_secretstream_xchacha20poly1305_state state;
    if (crypto_secretstream_xchacha20poly1305_init_pull(&state, h + kOffStreamHeader, key->data()) != 0) {
        refuse();
    }
    // Every chunk but the last is full; the last is whatever is left and must be
    // the one tagged FINAL. A file cut at a chunk boundary ends on a MESSAGE tag,
    // bytes after the FINAL chunk leave data over, a swapped chunk fails its MAC.
    const auto size = static_cast<std::size_t>(fileSize);
    const std::size_t total = size - hsize;
    std::vector<unsigned char> chunk(std::min(total, kChunkSize + kChunkOverhead));
    std::string plain;
    plain.reserve(total);
    std::size_t pos = hsize;
    bool finished = false;
    auto wipeAll = [&] {
        sodium_memzero(&state, sizeof state);
        Wipe(plain);
    };
    while (!finished) {
        const std::size_t length = std::min(size - pos, kChunkSize + kChunkOverhead);
        if (length < kChunkOverhead) {
            wipeAll();
            refuse();
        }
        try {
            read(chunk.data(), length);
        } catch (...) {
            wipeAll();
            throw;
        }
        const std::size_t at = plain.size();
        plain.resize(at + length - kChunkOverhead);
        unsigned long long got = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, reinterpret_cast<unsigned char*>(plain.data()) + at,
                                                       &got, &tag, chunk.data(), length, h, hsize) != 0) {
            wipeAll();
            refuse();
        }
        pos += length;
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            if (pos != size) {
                wipeAll();
                refuse();
            }
            finished = true;
        } else if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE || pos == size) {
            wipeAll();
            refuse();
        }
        afterChunk(work, kDerivationShare, pos - hsize, total);
        if (stopped(work)) {
            wipeAll();
            return std::nullopt;
        }
    }
    sodium_memzero(&state, sizeof state);
    if (opened != nullptr) {
        *opened = SealKeyAccess::make(std::move(*key), h + kOffSalt, params);
    }
    if (holds != nullptr) {
        *holds = content;
    }
    return plain;
}

std::size_t chunkCount(std::string_view plain)
{
    return plain.empty() ? 1 : (plain.size() + kChunkSize - 1) / kChunkSize;
}

// Memos keep the version-1 header; other content takes version 2.
std::size_t headerSizeFor(Content content)
{
    return content == Content::Memo ? kHeaderSize : kContentHeaderSize;
}

// The size of `plain` sealed; refuses one above kMaxFileSize.
std::uint64_t sealedSize(std::string_view plain, Content content)
{
    const std::uint64_t size = headerSizeFor(content) + plain.size() + std::uint64_t{chunkCount(plain)} * kChunkOverhead;
    if (size > kMaxFileSize) {
        tooLarge();
    }
    return size;
}

// The file bytes for `plain` sealed with `key` derived with `salt` and `params`;
// the chunks' share of the bar begins at `from`.
std::optional<std::string> sealWith(std::string_view plain, const SecretBytes& key, const unsigned char* salt,
                                    const Params& params, Content content, int from, const Work& work)
{
    const std::size_t chunks = chunkCount(plain);
    const std::uint64_t fileSize = sealedSize(plain, content);
    const std::size_t hsize = headerSizeFor(content);
    std::string out(static_cast<std::size_t>(fileSize), '\0');
    auto* h = reinterpret_cast<unsigned char*>(out.data());
    std::memcpy(h, kMagic, kMagicSize);
    h[kOffVersion] = content == Content::Memo ? kMemoVersion : kContentVersion;
    h[kOffAlgorithm] = kAlgorithmArgon2id13;
    putLe32(h + kOffOpslimit, params.opslimit);
    putLe32(h + kOffMemlimit, params.memlimitKiB);
    std::memcpy(h + kOffSalt, salt, kSaltSize);
    if (hsize > kHeaderSize) {
        h[kHeaderSize] = kContentArchive;
    }

    crypto_secretstream_xchacha20poly1305_state state;
    crypto_secretstream_xchacha20poly1305_init_push(&state, h + kOffStreamHeader, key.data());
    // The header is complete now; every chunk carries it as associated data.
    unsigned char* c = h + hsize;
    for (std::size_t n = 0; n < chunks; ++n) {
        const std::size_t at = n * kChunkSize;
        const std::size_t length = std::min(kChunkSize, plain.size() - at);
        const bool last = n + 1 == chunks;
        unsigned long long written = 0;
        crypto_secretstream_xchacha20poly1305_push(
            &state, c, &written, bytesOf(plain) + at, length, h, hsize,
            last ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
        c += written;
        afterChunk(work, from, n + 1, chunks);
        if (stopped(work)) {
            sodium_memzero(&state, sizeof state);
            return std::nullopt;
        }
    }
    sodium_memzero(&state, sizeof state);
    return out;
}

void writeAtomically(const std::filesystem::path& path, const std::string& bytes)
{
    AtomicFile file(path, AtomicFile::Links::Follow, AtomicFile::Mode::Private);
    file.write(bytes.data(), bytes.size());
    file.commit();
}

} // namespace

Params StoredParams(std::string_view file)
{
    if (file.size() < kHeaderSize + kChunkOverhead || !IsSealed(file)) {
        refuse();
    }
    return headerParams(bytesOf(file));
}

Content StoredContent(std::string_view file)
{
    if (file.size() < kHeaderSize + kChunkOverhead || !IsSealed(file)) {
        refuse();
    }
    if (headerSize(bytesOf(file)) > file.size() - kChunkOverhead) {
        refuse();
    }
    headerParams(bytesOf(file));
    return headerContent(bytesOf(file));
}

Content StoredFileContent(const std::filesystem::path& path)
{
    InputFile in(path);
    std::string head(static_cast<std::size_t>(std::min<std::uint64_t>(in.size(), kContentHeaderSize + kChunkOverhead)),
                     '\0');
    in.read(reinterpret_cast<std::uint8_t*>(head.data()), head.size());
    return StoredContent(head);
}

std::optional<SealKey> DeriveKey(const SecretBytes& passphrase, const Params& params, const Work& work)
{
    initSodium();
    if (!ParamsInBounds(params)) {
        throw SealedError(SealedError::Kind::Failed, "The key derivation parameters are out of bounds.");
    }
    unsigned char salt[kSaltSize];
    randombytes_buf(salt, kSaltSize);
    std::optional<SecretBytes> key = deriveKey(passphrase, salt, params, work);
    if (!key) {
        return std::nullopt;
    }
    return SealKeyAccess::make(std::move(*key), salt, params);
}

std::optional<std::string> SealWithKey(std::string_view plain, const SealKey& key, Content content, const Work& work)
{
    initSodium();
    if (key.empty()) {
        throw SealedError(SealedError::Kind::Failed, "No key is held to seal with.");
    }
    return sealWith(plain, SealKeyAccess::key(key), SealKeyAccess::salt(key), key.params(), content, 0, work);
}

std::optional<std::string> Seal(std::string_view plain, const SecretBytes& passphrase, const Params& params,
                                const Work& work, Content content, SealKey* kept)
{
    initSodium();
    sealedSize(plain, content); // bytes too large are refused before the derivation
    std::optional<SealKey> key = DeriveKey(passphrase, params, work);
    if (!key) {
        return std::nullopt;
    }
    std::optional<std::string> file =
        sealWith(plain, SealKeyAccess::key(*key), SealKeyAccess::salt(*key), params, content, kDerivationShare, work);
    if (file && kept != nullptr) {
        *kept = std::move(*key);
    }
    return file;
}

std::optional<std::string> Unseal(std::string_view file, const SecretBytes& passphrase, const Work& work,
                                  SealKey* opened, Content* holds)
{
    std::size_t pos = 0;
    return openSealed(
        file.size(),
        [&](unsigned char* out, std::size_t count) {
            std::memcpy(out, file.data() + pos, count);
            pos += count;
        },
        passphrase, work, opened, holds);
}

// --- Files ------------------------------------------------------------------------

bool SealToFile(const std::filesystem::path& path, std::string_view plain, const SecretBytes& passphrase,
                const Params& params, const Work& work, Content content, SealKey* kept)
{
    SealKey key;
    const std::optional<std::string> bytes = Seal(plain, passphrase, params, work, content, &key);
    if (!bytes) {
        return false;
    }
    writeAtomically(path, *bytes);
    // The key is handed over only once the file is written.
    if (kept != nullptr) {
        *kept = std::move(key);
    }
    return true;
}

bool SealWithKeyToFile(const std::filesystem::path& path, std::string_view plain, const SealKey& key, Content content,
                       const Work& work)
{
    const std::optional<std::string> bytes = SealWithKey(plain, key, content, work);
    if (!bytes) {
        return false;
    }
    writeAtomically(path, *bytes);
    return true;
}

std::optional<std::string> UnsealFile(const std::filesystem::path& path, const SecretBytes& passphrase,
                                      const Work& work, SealKey* opened, Content* holds)
{
    InputFile in(path);
    if (in.size() > kMaxFileSize) {
        tooLarge();
    }
    return openSealed(
        in.size(), [&](unsigned char* out, std::size_t count) { in.read(out, count); }, passphrase, work, opened,
        holds);
}

} // namespace tq::sealed
