#include "app/mail/mail_security.h"

#include "app/mail/mail_settings.h"
#include "app/prompts.h"
#include "mail/net/pop3_client.h"
#include "mail/net/smtp_client.h"
#include "platform/desktop/settings.h"

#include <QSslCertificate>

#include <algorithm>

namespace tq::mailsecurity {
namespace {

constexpr const char* kTrusted = "TrustedCertificates";
constexpr const char* kClearText = "InClearText";

const char* name(Direction d, const char* send, const char* receive)
{
    return d == Direction::Send ? send : receive;
}

TSecurity securityOf(long long stored)
{
    switch (stored) {
    case 1:
        return TSecurity::StartTls;
    case 2:
        return TSecurity::SslTls;
    default:
        return TSecurity::None;
    }
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find(separator, pos), text.size());
        if (end > pos) {
            parts.push_back(text.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return parts;
}

void storeTrusted(const std::vector<TrustedCertificate>& list)
{
    std::string text;
    for (const auto& t : list) {
        text += (text.empty() ? "" : ";") + t.server + " " + t.fingerprint;
    }
    settings::writeString(kTrusted, text);
}

} // namespace

std::uint16_t defaultPort(Direction direction, TSecurity security)
{
    if (direction == Direction::Send) {
        switch (security) {
        case TSecurity::None:
            return 25;
        case TSecurity::StartTls:
            return 587;
        case TSecurity::SslTls:
            return 465;
        }
    }
    return security == TSecurity::SslTls ? 995 : 110;
}

QString securityName(TSecurity security)
{
    switch (security) {
    case TSecurity::StartTls:
        return QStringLiteral("STARTTLS");
    case TSecurity::SslTls:
        return QStringLiteral("SSL/TLS");
    case TSecurity::None:
        break;
    }
    return QStringLiteral("None");
}

Choice load(Direction direction)
{
    Choice c;
    const char* security = name(direction, "OutSecurity", "InSecurity");
    if (settings::contains(security)) {
        c.security = securityOf(settings::readInt(security, 0));
    } else {
        // A first run starts secure; an account of a version without the
        // choice keeps the plain connection it has always used.
        c.security = settings::contains(name(direction, "OutServername", "InServername")) ? TSecurity::None
                                                                                           : TSecurity::StartTls;
    }
    const long long port = settings::readInt(name(direction, "OutPort", "InPort"), 0);
    c.port = port >= 1 && port <= 65535 ? static_cast<std::uint16_t>(port) : defaultPort(direction, c.security);
    if (direction == Direction::Send) {
        c.signIn = settings::readBool("OutSignIn", false);
        c.login = settings::readString("OutLogin");
    }
    return c;
}

void store(Direction direction, const Choice& choice)
{
    settings::writeString(name(direction, "OutSecurity", "InSecurity"),
                          std::to_string(static_cast<int>(choice.security)));
    settings::writeString(name(direction, "OutPort", "InPort"), std::to_string(choice.port));
    if (direction == Direction::Send) {
        settings::writeBool("OutSignIn", choice.signIn);
        settings::writeString("OutLogin", choice.login);
    }
}

bool clearTextAccepted(const QString& account)
{
    return settings::contains(kClearText) &&
           mailsettings::load(kClearText, mailsettings::kReceiveKeys) == account;
}

void acceptClearText(const QString& account)
{
    mailsettings::store(kClearText, account, mailsettings::kReceiveKeys);
}

std::vector<TrustedCertificate> trustedCertificates()
{
    std::vector<TrustedCertificate> list;
    for (const auto& entry : split(settings::readString(kTrusted), ';')) {
        const auto parts = split(entry, ' ');
        if (parts.size() == 2) {
            list.push_back({parts[0], parts[1]});
        }
    }
    return list;
}

void trust(const std::string& server, const std::string& fingerprint)
{
    auto list = trustedCertificates();
    for (const auto& t : list) {
        if (t.server == server && t.fingerprint == fingerprint) {
            return;
        }
    }
    list.push_back({server, fingerprint});
    storeTrusted(list);
}

void removeTrust(const std::string& server, const std::string& fingerprint)
{
    auto list = trustedCertificates();
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const TrustedCertificate& t) {
                                  return t.server == server && t.fingerprint == fingerprint;
                              }),
               list.end());
    storeTrusted(list);
}

std::vector<std::string> trustedFor(const std::string& server)
{
    std::vector<std::string> out;
    for (const auto& t : trustedCertificates()) {
        if (t.server == server) {
            out.push_back(t.fingerprint);
        }
    }
    return out;
}

namespace {

QList<QSslCertificate>& extraAuthorities()
{
    static QList<QSslCertificate> authorities;
    return authorities;
}

} // namespace

void setExtraAuthorities(const QList<QSslCertificate>& authorities)
{
    extraAuthorities() = authorities;
}

void prepare(TLineSocket& client, Direction direction, QWidget* parent)
{
    const Choice c = load(direction);
    client.Security = c.security;
    // A plain connection keeps the port the window gave the client until the
    // user chose one; a secure one takes its mode's port.
    if (settings::contains(name(direction, "OutPort", "InPort")) || c.security != TSecurity::None) {
        client.Port = c.port;
    }
    client.CaCertificates = extraAuthorities();
    client.TrustedCertificates = trustedFor(client.ServerName());
    client.OnCertificateRejected = [&client, parent](const ECertificateError& e, bool& handled) {
        if (!prompts::askTrustCertificate(parent, QString::fromStdString(e.Server()),
                                          QString::fromStdString(e.Problem()),
                                          QString::fromStdString(e.Fingerprint()))) {
            return;
        }
        trust(e.Server(), e.Fingerprint());
        client.TrustedCertificates.push_back(e.Fingerprint());
        handled = true;
    };
}

void prepare(TSmtpClient& client, QWidget* parent)
{
    prepare(static_cast<TLineSocket&>(client), Direction::Send, parent);
    const Choice c = load(Direction::Send);
    client.SignIn = c.signIn && c.security != TSecurity::None;
    client.Login = c.login;
}

} // namespace tq::mailsecurity
