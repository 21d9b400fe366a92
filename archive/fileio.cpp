#include "archive/fileio.h"

#include "platform/codepage.h"

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
    // Where file names are UTF-16 (Windows) the conversion fails on bytes that
    // are not UTF-8; that is the archive's error, not the library's.
    try {
        std::filesystem::path path = std::filesystem::u8path(utf8);
        path.make_preferred();
        return path;
    } catch (const std::exception&) {
        throw ArchiveError("The name \"" + cp1252::toUtf8(utf8) +
                           "\" cannot be used as a file name: it is not valid UTF-8 text.");
    }
}

std::string fromPath(const std::filesystem::path& path)
{
    try {
        return path.u8string();
    } catch (const std::exception&) {
        throw ArchiveError("A file name cannot be shown as text: it holds characters that are not valid "
                           "Unicode.");
    }
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
                         YieldHook* yield, AtomicFile::Links links, bool replace)
{
    asArchiveStep([&] {
        tq::writeFileAtomically(toPath(path), pieces, links, AtomicFile::Mode::Shared, yield, replace);
    });
}

std::vector<std::uint8_t> allocateFor(const std::string& path, std::uint64_t size)
{
    return asArchiveStep([&] { return bufferFor(toPath(path), size); });
}

} // namespace tq::archive_io
