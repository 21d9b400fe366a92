// Where the mail windows keep passwords: in the desktop's keyring (through
// QtKeychain) where a keyring service runs, otherwise as the enciphered
// settings value the windows have always written, which only obscures it.
//
// A password belongs to one account: user, server and port. Its keyring entry
// is named after it ("InPassword tester@pop.example.org:110"), so a changed
// server or user never gets another account's password. Earlier versions kept
// one entry per window under the bare name ("InPassword"), and the settings
// value when no keyring ran; either is still found, and moves to the entry of
// the account that reads it first. Without a keyring the settings value holds
// the account beside the password (an account line, a line break, the
// password), for the same reason.
//
// Writing the keyring is slow (a call to another process): the windows store
// a password when its field, or a field of its account, is left and when a
// command starts (settle), not at every keystroke; only the settings value is
// written at every change. A keyring that runs but
// fails to read or store is an error the user sees (EKeyringError); the
// password is then not quietly kept in the weaker place instead.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tq {

// A keyring that runs but did not read or store a secret; what() says why.
class EKeyringError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A store of secrets by name. The program uses the desktop's keyring; tests
// install their own (setKeyring).
class TKeyring {
public:
    virtual ~TKeyring() = default;
    // False when no keyring service runs.
    virtual bool available() = 0;
    // The secret, or nothing when there is none. Throws EKeyringError when it
    // cannot be read.
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

// The account a password belongs to.
struct TMailAccount {
    QString user;
    QString server;
    std::uint16_t port = 0;

    // "user@server:port".
    QString text() const;
    bool operator==(const TMailAccount& o) const
    {
        return user == o.user && server == o.server && port == o.port;
    }
    bool operator!=(const TMailAccount& o) const { return !(*this == o); }
};

class TPasswordStore {
public:
    // The enciphered settings value named `name` (the bare name of earlier
    // keyring entries too).
    struct Obscured {
        std::function<QString()> load;
        std::function<void(const QString&)> store;
        std::function<void()> remove;
    };
    // `account` gives the account of the window's fields at the moment asked.
    TPasswordStore(std::string name, Obscured obscured, std::function<TMailAccount()> account);

    // The keyring entry of an account.
    std::string entryName(const TMailAccount& account) const;

    // The password of the current account (empty when none is stored).
    QString read();
    // Stores the password of the current account; nothing happens when it is
    // the one read or stored last for that account. Throws EKeyringError when
    // a running keyring does not take it.
    void write(const QString& password);
    // The password a field showing `shown` should hold now: `shown` (stored)
    // while the account is the one the field was filled for, else the stored
    // password of the new account. Called when a field is left and when a
    // command starts.
    QString settle(const QString& shown);
    // A keystroke in the password field: stored at once only where a keyring
    // write costs nothing (no keyring runs: the settings value).
    void edited(const QString& password);
    // True when the password can only be obscured (no keyring runs); the
    // window says so.
    bool obscuredOnly();

private:
    std::optional<QString> obscuredFor(const TMailAccount& account);

    std::string name_;
    Obscured obscured_;
    std::function<TMailAccount()> account_;
    // The account and password last read or stored.
    std::optional<TMailAccount> known_;
    QString knownPassword_;
};

} // namespace tq
