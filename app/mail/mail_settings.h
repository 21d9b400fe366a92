// The stored mail account values of the send and receive windows.
//
// Each value lives under the program's settings (Software\Tarnquill) as the
// line cipher's output for the field's text under a key triple fixed in the
// window, so that neither server names nor the password stand there as
// readable text. A missing value reads as the empty text.
//
// Two stored forms exist, under the same value names:
//  - current: kUtf8Marker followed by the cipher text of the field's UTF-8
//    bytes; every character survives ("Łukasz", "пароль", "密码");
//  - earlier versions: the cipher text of the field's Windows-1252 bytes,
//    where a character outside that code page had become "?".
// Values are always written in the current form and read in either. The
// cipher's output never holds a code from 5 to 64 (see linecipher.h), so an
// earlier value can never start with the marker.
#pragma once

#include "crypto/linecipher.h"

#include <QString>

#include <string>
#include <string_view>

namespace tq::mailsettings {

// The key triples of the two windows; independent of the user's key set. Key 2
// stays within the key fields' range, so that stored texts never hold a line
// break or a zero byte.
constexpr CipherKeys kSendKeys{23, 11, 77};
constexpr CipherKeys kReceiveKeys{41, 13, 150};

// First byte of a value in the current form.
constexpr char kUtf8Marker = '*';

// The stored form of `text` and back (what store and load write and read).
std::string encipher(const QString& text, const CipherKeys& keys);
QString decipher(std::string_view stored, const CipherKeys& keys);

// Reads and deciphers a value.
QString load(std::string_view name, const CipherKeys& keys);

// Enciphers and writes a value. The cipher mixes the clock into its output, so
// the stored text changes from one write to the next even for the same text.
void store(std::string_view name, const QString& text, const CipherKeys& keys);

} // namespace tq::mailsettings
