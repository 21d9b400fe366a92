// Fuzz target: the plain text of an HTML message (tags, character
// references, dropped elements, <pre>, alt texts).
//
// Properties: no line holds a line break or ends in a blank, the last line is
// not empty, and the text is never longer than the HTML (so the work stays
// linear and nothing is fetched or expanded).
#include "fuzz/fuzz_support.h"
#include "mail/html_text.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = tq::mail::htmlToText(html);
    std::size_t total = 0;
    for (const std::string& line : lines) {
        TQ_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        TQ_FUZZ_CHECK(line.empty() || (line.back() != ' ' && line.back() != '\t'));
        total += line.size();
    }
    TQ_FUZZ_CHECK(lines.empty() || !lines.back().empty());
    TQ_FUZZ_CHECK(total <= size);
    return 0;
}
