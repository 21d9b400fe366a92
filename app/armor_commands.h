// Sealed text as ASCII armour in the windows: the send window seals the memo
// into armour for the mail body, the receive window's Open and the memo's
// Edit > "Unseal text" open armour found in a text (crypto/armor.h).
//
// Both functions ask for the passphrase first (through prompts::askPassphrase)
// and then run the sealed engine with the caller's Work (its event pump, stop
// flag and progress display). A refusal is shown in an error box; nothing of a
// refused or stopped text is returned.
#pragma once

#include "crypto/sealed.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

namespace tq::armourcommands {

// The armour (CR LF lines) of `plain` sealed under a new passphrase that the
// user types twice. nullopt when the user cancels or gives an empty passphrase
// (an error box says so), or when the work is stopped. Throws SealedError
// (Failed) when sealing cannot run (no memory for the derivation).
std::optional<std::string> sealAsArmour(QWidget* parent, std::string_view plain, const sealed::Params& params,
                                        const sealed::Work& work);

// The first armour block of a text, opened.
struct Unsealed {
    // The memo bytes it sealed (wipe them when done).
    std::string plain;
    // Where the block stood in the text (see armor::Found).
    std::size_t begin = 0;
    std::size_t end = 0;
};

// Opens the first armour block in `text`. `title` heads the passphrase
// question. `busy(true)` is called once the passphrase is
// given, `busy(false)` when the work has ended (before any error box).
// nullopt when the text holds no block (nothing is asked), the block is
// damaged, the user cancels, the passphrase is wrong or the sealed bytes were
// changed (one box with the sealed layer's message), or the work is stopped.
std::optional<Unsealed> unsealArmour(QWidget* parent, std::string_view text, const QString& title,
                                     const sealed::Work& work, const std::function<void(bool busy)>& busy = {});

} // namespace tq::armourcommands
