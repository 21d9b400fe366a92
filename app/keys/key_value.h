// The one reading of a key value, typed into a key box or read from a key file:
// optional blanks around, an optional sign and decimal digits, within 32 bits.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace tq {

// The value of `text`, or nothing when it is not a whole number of that form.
std::optional<std::int32_t> parseKeyValue(const QString& text);

// The value of `text`; anything else throws std::runtime_error
// "\"<text>\" is not a valid key value (<where>)."
std::int32_t keyValue(const QString& text, const QString& where);

} // namespace tq
