#include "fuzz/fuzz_support.h"

#include <fstream>
#include <system_error>
#include <unistd.h>

namespace tq::fuzz {
namespace {

struct Scratch {
    std::filesystem::path path;
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tq-fuzz.XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~Scratch() { removeAll(path); }
};

} // namespace

const std::filesystem::path& scratchFolder()
{
    static Scratch scratch;
    return scratch.path;
}

void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    TQ_FUZZ_CHECK(out.good());
}

std::vector<std::filesystem::path> treeBelow(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> paths;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(folder, ec))) {
        return paths;
    }
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        paths.push_back(std::filesystem::relative(it->path(), folder));
    }
    TQ_FUZZ_CHECK(!ec);
    return paths;
}

void removeAll(const std::filesystem::path& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

} // namespace tq::fuzz
