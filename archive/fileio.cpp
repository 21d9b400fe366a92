#include "archive/fileio.h"

namespace tq::archive_io {
namespace {

// Runs a file step of the platform layer; its FileError becomes an ArchiveError
// with the same text.
template <typename Step>
auto asArchiveStep(Step&& step) -> decltype(step())
{
    try {
        return step();
    } catch (const FileError& e) {
        throw ArchiveError(e.what());
    }
}

} // namespace

std::filesystem::path toPath(const std::string& utf8)
{
    return std::filesystem::u8path(utf8);
}

std::string fromPath(const std::filesystem::path& path)
{
    return path.u8string();
}

InputFile::InputFile(const std::string& path)
{
    asArchiveStep([&] { file_.emplace(toPath(path)); });
}

void InputFile::read(std::uint8_t* out, std::size_t count, YieldHook* yield)
{
    asArchiveStep([&] { file_->read(out, count, yield); });
}

void writeFileAtomically(const std::string& path, const std::vector<ByteSpan>& pieces,
                         YieldHook* yield, AtomicFile::Links links)
{
    asArchiveStep([&] { tq::writeFileAtomically(toPath(path), pieces, links, yield); });
}

std::vector<std::uint8_t> allocateFor(const std::string& path, std::uint64_t size)
{
    return asArchiveStep([&] { return bufferFor(toPath(path), size); });
}

} // namespace tq::archive_io
