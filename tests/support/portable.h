// Test helpers that behave alike on Linux and on Windows: a scratch folder below
// the system's temporary folder, and probes for what the platform can make
// (symbolic links, POSIX permission bits), so that tests of those skip with the
// reason where the platform cannot make them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tq::testing {

// A new, empty folder below the system's temporary folder, removed with its
// content when the object goes. `prefix` starts its name.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "tq-test-")
    {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate = base / (prefix + std::to_string(random() % 1000000000000u));
            std::error_code ec;
            // create_directory reports false for a folder that exists already.
            if (std::filesystem::create_directory(candidate, ec) && !ec) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("cannot create a scratch folder below " + base.u8string());
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Whether symbolic links can be made in `folder` (Windows allows them only with
// a privilege or in developer mode; wine not at all).
inline bool canMakeSymlinks(const std::filesystem::path& folder)
{
    const std::filesystem::path probe = folder / "tq-link-probe";
    std::error_code ec;
    std::filesystem::create_symlink(folder / "tq-link-target", probe, ec);
    if (ec) {
        return false;
    }
    std::filesystem::remove(probe, ec);
    return true;
}

// Whether files carry POSIX permission bits (owner, group, others).
constexpr bool kHasPosixPermissions =
#ifdef _WIN32
    false;
#else
    true;
#endif

} // namespace tq::testing

// Skips the current test when symbolic links cannot be made in `folder`.
#define TQ_SKIP_WITHOUT_SYMLINKS(folder)                                                                  \
    do {                                                                                                  \
        if (!::tq::testing::canMakeSymlinks(folder)) {                                                    \
            GTEST_SKIP() << "symbolic links cannot be made here (Windows needs a privilege for them)";   \
        }                                                                                                 \
    } while (0)

// Skips the current test where files have no POSIX permission bits.
#define TQ_SKIP_WITHOUT_POSIX_PERMISSIONS()                                                               \
    do {                                                                                                  \
        if (!::tq::testing::kHasPosixPermissions) {                                                       \
            GTEST_SKIP() << "this platform's files have no POSIX permission bits";                      \
        }                                                                                                 \
    } while (0)
