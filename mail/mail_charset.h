// Text of received mail in the memo's code page.
//
// Received text arrives in the sender's character set; the memo holds
// Windows-1252. These helpers convert text parts and header values from the
// character sets mail programs commonly use (UTF-8, US-ASCII, ISO-8859-1,
// ISO-8859-15, Windows-1252) and decode RFC 2047 encoded words ("=?utf-8?q?...?=")
// in header values. A character Windows-1252 has no place for becomes "?".
// Text in any other character set is left as it came. Attachments never pass
// through here.
#pragma once

#include <string>
#include <string_view>

namespace tq::mail {

// The value of a hexadecimal digit, -1 for any other character.
int hexDigit(char c);

// The charset parameter of a Content-Type value ("text/plain; charset=UTF-8"
// gives "UTF-8"), without quotes; empty when there is none.
std::string charsetOf(std::string_view contentType);

// True when `charset` is one of the sets this module converts.
bool isKnownCharset(std::string_view charset);

// `bytes` in `charset` as Windows-1252 text. US-ASCII text is taken as it is,
// bytes above 127 included: mail labelled US-ASCII that carries such bytes was
// written in the sender's 8-bit code page (as older versions of this program
// did with encrypted text). Unknown and empty charsets leave the bytes as they
// are.
std::string toCodePage(std::string_view bytes, std::string_view charset);

// A header value with its RFC 2047 encoded words decoded and converted to
// Windows-1252; blanks between two adjacent encoded words are dropped, as the
// RFC asks. Words that are not well-formed stay as they are.
std::string decodeHeaderValue(std::string_view value);

} // namespace tq::mail
