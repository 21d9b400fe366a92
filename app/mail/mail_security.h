// Connection security of the mail windows: the stored choices (plain settings
// beside the account values, since they are not secret), the default ports,
// the certificates the user chose to trust, and how a client is set up from
// them before it connects.
//
// Settings: "OutSecurity" and "InSecurity" ("0" None, "1" STARTTLS, "2"
// SSL/TLS; when absent, STARTTLS on a first run and None where the window's
// server was stored by a version that had no choice and always sent in plain
// text), "OutPort" and "InPort", "OutSignIn" ("0"/"1") and "OutLogin" for
// sending, and "TrustedCertificates": entries "host:port FINGERPRINT" joined by
// ";". Only the system's authorities are trusted, and the certificates the
// user chose; a test adds its own servers' authority with setExtraAuthorities.
#pragma once

#include "mail/net/line_socket.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

class QWidget;

namespace tq {
class TSmtpClient;
class TPop3Client;
}

namespace tq::mailsecurity {

enum class Direction { Send, Receive };

// None 25, STARTTLS 587, SSL/TLS 465 for sending; None 110, STARTTLS 110,
// SSL/TLS 995 for receiving.
std::uint16_t defaultPort(Direction direction, TSecurity security);

// The names shown in the mode list, in the order of TSecurity.
QString securityName(TSecurity security);

struct Choice {
    TSecurity security = TSecurity::None;
    std::uint16_t port = 0;
    // Sending only.
    bool signIn = false;
    std::string login;
};

Choice load(Direction direction);
void store(Direction direction, const Choice& choice);

// Whether the user agreed that the password of the receiving account
// (TMailAccount::text()) crosses the network readable, and the agreement
// (kept enciphered as "InClearText"; only the last account is kept).
bool clearTextAccepted(const QString& account);
void acceptClearText(const QString& account);

struct TrustedCertificate {
    std::string server;      // "host:port"
    std::string fingerprint; // as TLineSocket::fingerprintOf spells it
};
std::vector<TrustedCertificate> trustedCertificates();
// Adds exactly this certificate for this server (nothing when it is there).
void trust(const std::string& server, const std::string& fingerprint);
void removeTrust(const std::string& server, const std::string& fingerprint);
// The fingerprints trusted for one server.
std::vector<std::string> trustedFor(const std::string& server);

// Sets Security, Port, the authorities and the trusted certificates from the
// stored choice (Host must be set), and makes a refused certificate ask the
// user (prompts::askTrustCertificate) whether to trust it; a yes is stored.
// With None the port is set only when one was stored.
void prepare(TLineSocket& client, Direction direction, QWidget* parent);

// Authorities every prepared client trusts beside the system's: none in the
// program; a test installs the authority of its own servers.
void setExtraAuthorities(const QList<QSslCertificate>& authorities);
// The same, and for sending the sign-in (Login; the password is the caller's).
void prepare(TSmtpClient& client, QWidget* parent);

} // namespace tq::mailsecurity
