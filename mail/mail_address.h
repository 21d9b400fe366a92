// The address part of a mailbox header value (From, Reply-To), as RFC 5322
// reads it.
//
// The value is read as it came, before encoded words are decoded: a display
// name is a phrase of words, quoted strings and encoded words, and nothing in
// it ("<evil@x>" in quotes, or an encoded word that decodes to it) can stand in
// for the address. Comments "(...)" are skipped, a group "Name: a@b, c@d;"
// gives its first member, an obsolete route "<@relay:a@b>" is dropped.
#pragma once

#include <string>
#include <string_view>

namespace tq::mail {

// The address of the first mailbox in `rawValue`: the content of its angle
// brackets, or the bare address when it has none. Empty when the value holds
// no usable address (only a display name, an unclosed bracket, line breaks or
// control characters in the address).
std::string mailboxAddress(std::string_view rawValue);

} // namespace tq::mail
