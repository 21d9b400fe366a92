#include "app/mail/mail_settings.h"

#include "platform/codepage.h"
#include "platform/desktop/settings.h"

namespace tq::mailsettings {

// The plain cipher engine: no progress bar and no abort flag, so that a value
// is always stored enciphered, even while the main window's Abort flag is set.
QString load(std::string_view name, const CipherKeys& keys)
{
    LineCipher cipher;
    const std::string plain = cipher.DeCodeLine(settings::readString(name), keys);
    return QString::fromStdString(cp1252::toUtf8(plain));
}

void store(std::string_view name, const QString& text, const CipherKeys& keys)
{
    LineCipher cipher;
    settings::writeString(name, cipher.CodeLine(cp1252::fromUtf8Lossy(text.toStdString()), keys));
}

} // namespace tq::mailsettings
