// Helpers shared by the archive tests: scratch folders, file contents, random data.
#pragma once

#include "tests/support/portable.h"

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
// at the end of the test. Its paths are given as UTF-8 text, as the archive
// routines take them.
class ScratchDir {
public:
    const std::filesystem::path& path() const { return folder_.path(); }
    std::string str() const { return path().u8string(); }
    std::string operator/(const std::string& relative) const
    {
        return (path() / std::filesystem::u8path(relative)).u8string();
    }

private:
    TempFolder folder_{"tq-archive-"};
};

// A UTF-8 path in the platform's preferred form (backslashes on Windows), as the
// archive routines return paths.
inline std::string preferred(const std::filesystem::path& path)
{
    std::filesystem::path p = path;
    return p.make_preferred().u8string();
}
inline std::string preferred(const char* utf8)
{
    return preferred(std::filesystem::u8path(utf8));
}

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
