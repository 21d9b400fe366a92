// A figure, not a test: encrypting and saving, then opening and decrypting, a
// 100 KB memo with key 4 = 1, beside the raw compression of the same bytes in
// the same run. Usage: tq_crp_bench [FOLDER] (default: the temporary folder).
#include "compress/compress.h"
#include "crypto/crpfile.h"
#include "crypto/linecipher.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

namespace {

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::string memoText(std::size_t size)
{
    const char* words[] = {"the", "memo", "keeps", "a", "note", "for", "later", "and", "Tarnquill", "protects",
                           "it", "with", "four", "small", "keys", "caf\xE9", "tomorrow", "at", "eight"};
    std::mt19937 random(42);
    std::string text;
    int column = 0;
    while (text.size() < size) {
        const std::string word = words[random() % (sizeof words / sizeof words[0])];
        text += word;
        column += static_cast<int>(word.size()) + 1;
        if (column > 70) {
            text += "\r\n";
            column = 0;
        } else {
            text += ' ';
        }
    }
    text.resize(size);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const fs::path crpPath = folder / "tq-crp-bench.crp";
    const fs::path rawPath = folder / "tq-crp-bench.raw";
    const std::string text = memoText(100 * 1024);

    tq::crp::KeySet keys;
    keys.cipher = tq::CipherKeys{23, 11, 140};
    keys.key4 = 1;
    tq::TCompress engine;
    tq::LineCipher cipher;

    auto t = std::chrono::steady_clock::now();
    const std::string encrypted = tq::crp::EncryptMemoText(cipher, text, keys);
    const double encryptS = seconds(t);
    t = std::chrono::steady_clock::now();
    tq::crp::SaveLines(engine, tq::memoLines(encrypted), tq::crp::kDefaultSkip, crpPath);
    const double saveS = seconds(t);
    t = std::chrono::steady_clock::now();
    const std::string stored = tq::crp::LoadText(engine, crpPath);
    const double loadS = seconds(t);
    t = std::chrono::steady_clock::now();
    const std::string opened = tq::crp::DecryptMemoText(cipher, tq::crp::AddLine(std::string(), stored), keys);
    const double decryptS = seconds(t);
    const auto crpSize = fs::file_size(crpPath);

    t = std::chrono::steady_clock::now();
    tq::crp::SaveLines(engine, {text}, tq::crp::kDefaultSkip, rawPath);
    const double rawSaveS = seconds(t);
    t = std::chrono::steady_clock::now();
    const std::string rawBack = tq::crp::LoadText(engine, rawPath);
    const double rawLoadS = seconds(t);
    const auto rawSize = fs::file_size(rawPath);

    std::printf("memo: %zu bytes, key 4 = 1 (2 passes), cipher text %zu bytes\n", text.size(), encrypted.size());
    std::printf("encrypt %.2f ms + compress/save %.2f ms = %.2f ms; file %llu bytes\n", encryptS * 1e3,
                saveS * 1e3, (encryptS + saveS) * 1e3, static_cast<unsigned long long>(crpSize));
    std::printf("load/decompress %.2f ms + decrypt %.2f ms = %.2f ms; text %s\n", loadS * 1e3, decryptS * 1e3,
                (loadS + decryptS) * 1e3, opened == text ? "identical" : "DIFFERENT");
    std::printf("raw compression of the same bytes: save %.2f ms, load %.2f ms; file %llu bytes; %s\n",
                rawSaveS * 1e3, rawLoadS * 1e3, static_cast<unsigned long long>(rawSize),
                rawBack == text ? "identical" : "DIFFERENT");
    fs::remove(crpPath);
    fs::remove(rawPath);
    return opened == text && rawBack == text ? 0 : 1;
}
