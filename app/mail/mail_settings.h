// The stored mail account values of the send and receive windows.
//
// Each value lives under the program's settings (Software\Tarnquill) as the
// line cipher's output for the field's text under a key triple fixed in the
// window, so that neither server names nor the password stand there as
// readable text. A missing value reads as the empty text. Field texts are
// Unicode; they are stored as the memo's code page (Windows-1252), a character
// it has no place for becoming "?".
#pragma once

#include "crypto/linecipher.h"

#include <QString>

#include <string_view>

namespace tq::mailsettings {

// The key triples of the two windows; independent of the user's key set. Key 2
// stays within the key fields' range, so that stored texts never hold a line
// break or a zero byte.
constexpr CipherKeys kSendKeys{23, 11, 77};
constexpr CipherKeys kReceiveKeys{41, 13, 150};

// Reads and deciphers a value.
QString load(std::string_view name, const CipherKeys& keys);

// Enciphers and writes a value. The cipher mixes the clock into its output, so
// the stored text changes from one write to the next even for the same text.
void store(std::string_view name, const QString& text, const CipherKeys& keys);

} // namespace tq::mailsettings
