// Helpers shared by the fuzz targets: a check that stops the run with a
// message, and a scratch folder of the process for files the parsers read and
// write.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tq::fuzz {

// Stops the run (a finding for the fuzzer, a failure for the replay) when a
// property does not hold.
#define TQ_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A folder of this process, created at first use and removed when it ends.
const std::filesystem::path& scratchFolder();

// Writes the bytes as the whole content of `path`.
void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// Every path below `folder` (folders and files), relative to it; none when
// the folder does not exist.
std::vector<std::filesystem::path> treeBelow(const std::filesystem::path& folder);

// Removes `path` with everything below it, when it exists.
void removeAll(const std::filesystem::path& path);

} // namespace tq::fuzz
