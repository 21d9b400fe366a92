// Fuzz target: reading a key file. Its first memo line is the value, taken
// through the code page as the key box shows it.
//
// Properties: the memo lines joined by CR LF are the text with its breaks made
// CR LF (one final break aside); the value's text converts to UTF-8 and back
// to the same bytes.
#include "memo/memo_lines.h"
#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tq;
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = memoLines(content);

    const std::string normal = normalizeBreaks(content);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            joined += "\r\n";
        }
        joined += lines[i];
        TQ_FUZZ_CHECK(lines[i].find_first_of("\r\n") == std::string::npos);
    }
    const bool finalBreak = normal.size() >= 2 && normal.compare(normal.size() - 2, 2, "\r\n") == 0;
    TQ_FUZZ_CHECK(joined + (finalBreak ? "\r\n" : "") == normal);

    const std::string value = lines.empty() ? std::string() : lines.front();
    std::string back;
    TQ_FUZZ_CHECK(cp1252::fromUtf8(cp1252::toUtf8(value), back));
    TQ_FUZZ_CHECK(back == value);
    return 0;
}
