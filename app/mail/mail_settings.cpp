#include "app/mail/mail_settings.h"

#include "platform/codepage.h"
#include "platform/desktop/settings.h"

namespace tq::mailsettings {

// The plain cipher engine: no progress bar and no abort flag, so that a value
// is always stored enciphered, even while the main window's Abort flag is set.
std::string encipher(const QString& text, const CipherKeys& keys)
{
    LineCipher cipher;
    return kUtf8Marker + cipher.CodeLine(text.toStdString(), keys);
}

QString decipher(std::string_view stored, const CipherKeys& keys)
{
    LineCipher cipher;
    if (!stored.empty() && stored.front() == kUtf8Marker) {
        return QString::fromStdString(cipher.DeCodeLine(stored.substr(1), keys));
    }
    return QString::fromStdString(cp1252::toUtf8(cipher.DeCodeLine(stored, keys)));
}

QString load(std::string_view name, const CipherKeys& keys)
{
    return decipher(settings::readString(name), keys);
}

void store(std::string_view name, const QString& text, const CipherKeys& keys)
{
    settings::writeString(name, encipher(text, keys));
}

} // namespace tq::mailsettings
