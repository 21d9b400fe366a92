// Where the mail windows keep passwords: in the desktop's keyring (through
// QtKeychain) where a keyring service runs, otherwise as the enciphered
// settings value the windows have always written, which only obscures it.
// Reading finds a password in either place; a password found in the settings
// while a keyring runs moves into the keyring (and leaves the settings), so a
// move from one place to the other keeps it.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tq {

// A store of secrets by name. The program uses the desktop's keyring; tests
// install their own (setKeyring).
class TKeyring {
public:
    virtual ~TKeyring() = default;
    // False when no keyring service runs.
    virtual bool available() = 0;
    // The secret, or nothing when there is none (or it cannot be read).
    virtual std::optional<QString> read(const std::string& name) = 0;
    // False when it could not be stored.
    virtual bool write(const std::string& name, const QString& secret) = 0;
    virtual void remove(const std::string& name) = 0;
};

// The keyring in use; the desktop's through QtKeychain unless one was set.
TKeyring& keyring();
// Installs another keyring (empty: the desktop's again); returns the previous
// one that was set.
std::unique_ptr<TKeyring> setKeyring(std::unique_ptr<TKeyring> keyring);

class TPasswordStore {
public:
    // The enciphered settings value named `name` (the same name serves the
    // keyring entry).
    struct Obscured {
        std::function<QString()> load;
        std::function<void(const QString&)> store;
        std::function<void()> remove;
    };
    TPasswordStore(std::string name, Obscured obscured);

    QString read();
    void write(const QString& password);
    // True when the password can only be obscured (no keyring runs); the
    // window says so.
    bool obscuredOnly();

private:
    std::string name_;
    Obscured obscured_;
};

} // namespace tq
