// The program's 8-bit code page: Windows-1252.
//
// Memo text, archive entry names and mail text are byte strings, one byte a
// character. At the edges (screen, file system, clipboard) they are converted to
// and from Unicode with this table. The mapping is lossless for all 256 codes:
// the five codes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// map to the C1 control characters of the same number, as Windows does.
#pragma once

#include <string>
#include <string_view>

namespace tq::cp1252 {

// The Unicode code point of an 8-bit code.
char32_t toUnicode(unsigned char code);

// The 8-bit code of a Unicode code point, or -1 when Windows-1252 cannot hold it.
int fromUnicode(char32_t codePoint);

// 8-bit text to UTF-8.
std::string toUtf8(std::string_view bytes);

// UTF-8 to 8-bit text. Returns false when the input is not valid UTF-8 or holds a
// character that Windows-1252 cannot hold; `out` then holds the text converted so
// far with '?' for each such character, and `badChar` (when given) the first
// offending code point (or U+FFFD for invalid UTF-8).
bool fromUtf8(std::string_view utf8, std::string& out, char32_t* badChar = nullptr);

// UTF-8 to 8-bit text, writing '?' for every character that cannot be held.
std::string fromUtf8Lossy(std::string_view utf8);

// Upper-cases an 8-bit code as Windows compares file names: ASCII letters and the
// accented letters of Windows-1252 (including š, œ, ž, ÿ).
unsigned char toUpper(unsigned char code);

// Case-insensitive equality of two 8-bit strings under toUpper.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

} // namespace tq::cp1252
