// ASCII armour: the bytes of a sealed file (crypto/sealed.h) as plain text that
// survives mail relays, copying and pasting (docs/sealed-format.md, "ASCII
// armour").
//
//   -----BEGIN TARNQUILL SEALED MESSAGE-----
//   base64 of the sealed bytes (standard alphabet, "=" padding), 76 characters
//   a line, the last line shorter
//   -----END TARNQUILL SEALED MESSAGE-----
//
// Armor() takes any bytes and returns the block; every line is 7-bit ASCII of
// at most 76 characters, each ended by the line break asked for.
//
// Find() looks for the block inside surrounding text: a mail body with a
// greeting before and a signature after it, lines quoted with ">" or "> "
// prefixes (any depth), CR LF or LF line breaks, blanks at line ends. It returns
// the decoded bytes and where the block stands in the text. Inside the block it
// refuses, with ArmorError and a message a user can act on, everything else: a
// missing end line, an empty or foreign line, a character outside the base64
// alphabet, a line longer than 76 characters, padding anywhere but at the very
// end, a length that is not a whole number of groups, and unused bits that are
// not zero (so that a changed character never decodes to the same bytes).
// Whether the bytes are a genuine, untouched sealed file is the sealed layer's
// question: Unseal() refuses any change with its one message.
//
// Plain C++ (no Qt, no libsodium): the windows and tarnquill-cli share it.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tq::armor {

constexpr std::string_view kBeginLine = "-----BEGIN TARNQUILL SEALED MESSAGE-----";
constexpr std::string_view kEndLine = "-----END TARNQUILL SEALED MESSAGE-----";
// Base64 characters on a full line (57 bytes of data).
constexpr std::size_t kLineLength = 76;
constexpr std::size_t kBytesPerLine = kLineLength / 4 * 3;

// A block that was found but cannot be decoded.
class ArmorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The armour of `bytes`: the begin line, the base64 lines, the end line, each
// followed by `lineBreak` ("\r\n" for mail and the memo, "\n" for files).
std::string Armor(std::string_view bytes, std::string_view lineBreak = "\r\n");

// True when `text` holds a begin line (a line that is the begin line after
// optional quote marks and blanks). Cheap; says nothing about the rest.
bool ContainsArmor(std::string_view text);

struct Found {
    // The decoded bytes.
    std::string bytes;
    // The block in `text`: from the start of the begin line (its quote marks
    // included) to the end of the end line (its trailing blanks included, its
    // line break not).
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The first block in `text`; nullopt when there is no begin line. Throws
// ArmorError when a begin line is there but the block is damaged.
std::optional<Found> Find(std::string_view text);

} // namespace tq::armor
