// Helpers shared by the archive tests: scratch folders, file contents, random data.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tq::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder below the system's temporary folder, removed with its content
// at the end of the test.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tq-archive-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) {
            throw std::runtime_error("cannot create a scratch folder");
        }
        path_ = buffer.data();
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

private:
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, const Bytes& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

inline Bytes readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes randomBytes(std::mt19937& rng, std::size_t size)
{
    Bytes bytes(size);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(rng));
    }
    return bytes;
}

// Text-like bytes drawn from a small alphabet, so the compressor finds pairs.
inline Bytes textBytes(std::mt19937& rng, std::size_t size)
{
    static const char alphabet[] = "the quick brown fox jumps over a lazy dog\r\n";
    Bytes bytes(size);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(alphabet[pick(rng)]);
    }
    return bytes;
}

inline Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace tq::testing
