#include "crypto/crpfile.h"

#include <algorithm>
#include <limits>

namespace tq::crp {

namespace {

void report(const Progress& progress, int percent)
{
    if (progress) {
        progress(percent);
    }
}

} // namespace

std::string AddLine(std::string text, std::string_view line)
{
    const bool endsWithBreak = !text.empty() && (text.back() == '\n' || text.back() == '\r');
    if (!text.empty() && !endsWithBreak) {
        text += "\r\n";
    }
    text += normalizeBreaks(line);
    text += "\r\n";
    return text;
}

std::size_t TotalLineLength(std::string_view text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return c != '\r' && c != '\n'; }));
}

std::string StoredText(const std::vector<std::string>& lines)
{
    std::size_t total = 0;
    for (const std::string& l : lines) {
        total += l.size();
    }
    std::string out;
    out.reserve(total);
    for (const std::string& l : lines) {
        out += l;
    }
    return out;
}

std::string StoredTextFromDecoded(std::string_view decoded)
{
    const std::size_t n = decoded.size();
    if (n >= 2 && decoded[n - 2] == '\0' && decoded[n - 1] == ' ') {
        std::size_t end = n - 2;
        if (end > 0 && decoded[end - 1] == '\0') {
            --end;
        }
        return std::string(decoded.substr(0, end));
    }
    const std::size_t zero = decoded.find('\0');
    return std::string(decoded.substr(0, zero == std::string_view::npos ? n : zero));
}

bool SaveLines(TCompress& engine, const std::vector<std::string>& lines, std::int32_t skip,
               const std::filesystem::path& path, const Progress& progress)
{
    engine.Reset();
    std::size_t total = 0;
    for (const std::string& l : lines) {
        total += l.size();
    }
    // The engine's buffers count in signed 32-bit numbers and double for the
    // work area of coding.
    if (total > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() / 2)) {
        throw CompressMemoryError(static_cast<std::int64_t>(total));
    }
    if (static_cast<std::int64_t>(total) >= engine.Bytes.BaseCapacity()) {
        engine.Bytes.Grow(static_cast<std::int32_t>(total));
    }
    for (const std::string& l : lines) {
        engine.Bytes.AppendText(l);
    }
    report(progress, 15);
    engine.Bytes.BuildTable(skip);
    report(progress, 30);
    engine.Bytes.SortTable();
    report(progress, 45);
    engine.CompressData();
    report(progress, 60);
    engine.Bytes.PrependTable();
    report(progress, 75);
    const bool written = !engine.Cancel;
    engine.SaveToFile(path);
    report(progress, 90);
    return written && !engine.Cancel;
}

std::string LoadText(TCompress& engine, const std::filesystem::path& path, const Progress& progress)
{
    engine.Reset();
    engine.LoadFromFile(path);
    // Shorter than its table and trailer, a file is no memo file; decoding it
    // would use whatever table the engine held before.
    const std::int64_t least = TDataBytes::kTableBytes + 2 + static_cast<std::int64_t>(engine.Name.size());
    if (engine.Bytes.DataLength < least) {
        const std::int64_t size = engine.Bytes.DataLength;
        engine.Reset();
        throw FileError("open", path, 0,
                        "It is too short to be an encrypted memo file (" + std::to_string(size) +
                            " bytes; one has at least " + std::to_string(least) + ")");
    }
    report(progress, 33);
    engine.Bytes.SplitTable();
    report(progress, 66);
    engine.DecompressData();
    report(progress, 98);
    return StoredTextFromDecoded(engine.Bytes.GetText());
}

std::string EncryptMemoText(LineCipher& cipher, std::string_view memoText, const KeySet& keys)
{
    if (TotalLineLength(memoText) == 0) {
        return std::string(memoText);
    }
    return cipher.CodeLinePasses(memoText, keys.cipher, keys.passes());
}

std::string DecryptMemoText(LineCipher& cipher, std::string_view memoText, const KeySet& keys)
{
    if (TotalLineLength(memoText) == 0) {
        return std::string(memoText);
    }
    return normalizeBreaks(cipher.DeCodeLinePasses(memoText, keys.cipher, keys.passes()));
}

bool SaveMemo(TCompress& engine, LineCipher& cipher, std::string_view memoText, const KeySet& keys,
              std::int32_t skip, const std::filesystem::path& path)
{
    const std::string text = IsCipherText(memoText) ? std::string(memoText) : EncryptMemoText(cipher, memoText, keys);
    return SaveLines(engine, memoLines(text), skip, path);
}

std::string OpenMemo(TCompress& engine, LineCipher& cipher, const std::filesystem::path& path, const KeySet& keys)
{
    const std::string stored = LoadText(engine, path);
    return DecryptMemoText(cipher, AddLine(std::string(), stored), keys);
}

} // namespace tq::crp
