// The passphrase dialog of sealed files (shown through prompts::askPassphrase).
#pragma once

#include <QString>

namespace tq {

// A short hint on how hard `passphrase` is to guess: its rough strength in bits
// (length times the size of the character classes it uses, repeated characters
// counted once) and a word for it.
QString passphraseStrengthHint(const QString& passphrase);

} // namespace tq
