#include "platform/desktop/settings.h"

#include "platform/codepage.h"
#ifdef _WIN32
#include "platform/desktop/winregistry.h"
#endif

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <memory>
#include <stdexcept>

namespace tq::settings {
namespace {

std::string& overridePath()
{
    static std::string path;
    return path;
}

QString fromBytes(std::string_view bytes)
{
    // The Windows-1252 mapping is lossless for all 256 codes, so any byte string
    // comes back unchanged after a round trip through Unicode.
    return QString::fromStdString(cp1252::toUtf8(bytes));
}

std::string toBytes(const QString& text)
{
    return cp1252::fromUtf8Lossy(text.toStdString());
}

QString iniPath()
{
    if (!overridePath().empty()) {
        return QString::fromStdString(overridePath());
    }
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/Tarnquill/tarnquill.ini");
}

bool overridden()
{
    return !overridePath().empty();
}

std::unique_ptr<QSettings> open()
{
#ifdef _WIN32
    if (!overridden()) {
        return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Software\\Tarnquill"),
                                           QSettings::NativeFormat);
    }
#endif
    return std::make_unique<QSettings>(iniPath(), QSettings::IniFormat);
}

QString key(std::string_view name)
{
    return QString::fromUtf8(name.data(), static_cast<int>(name.size()));
}

[[noreturn]] void cannotWrite()
{
    throw std::runtime_error("Cannot write the settings to \"" + location() + "\"");
}

// Makes the settings file's folder (0700 when it is new: only the user may look
// into it) before the first write.
void makeFolder(const QSettings& s)
{
#ifndef _WIN32
    const QString folder = QFileInfo(s.fileName()).absolutePath();
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (QFileInfo(folder).isDir()) {
        // The program's own folder, made open by an earlier version, is closed;
        // a folder given as an override is the caller's.
        if (!overridden() && QFile::permissions(folder) != (ownerOnly | QFileDevice::ReadUser |
                                                              QFileDevice::WriteUser | QFileDevice::ExeUser)) {
            QFile::setPermissions(folder, ownerOnly);
        }
        return;
    }
    if (!QDir().mkpath(QFileInfo(folder).absolutePath()) || !QDir().mkdir(folder, ownerOnly) ||
        !QFile::setPermissions(folder, ownerOnly)) {
        cannotWrite();
    }
#else
    (void)s;
#endif
}

void commit(QSettings& s)
{
    s.sync();
    if (s.status() != QSettings::NoError) {
        cannotWrite();
    }
#ifndef _WIN32
    // The file holds the obscured mail password: only the user may read it.
    QFile file(s.fileName());
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (file.exists() && (file.permissions() & others) != 0 &&
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        cannotWrite();
    }
#endif
}

} // namespace

std::string readString(std::string_view name, std::string_view fallback)
{
    auto s = open();
    const QVariant v = s->value(key(name));
    if (!v.isValid()) {
        return std::string(fallback);
    }
    return toBytes(v.toString());
}

long long readInt(std::string_view name, long long fallback)
{
    auto s = open();
    const QVariant v = s->value(key(name));
    if (!v.isValid()) {
        return fallback;
    }
    bool ok = false;
    const long long n = v.toString().trimmed().toLongLong(&ok, 10);
    return ok ? n : fallback;
}

bool readBool(std::string_view name, bool fallback)
{
    auto s = open();
    const QVariant v = s->value(key(name));
    if (!v.isValid()) {
        return fallback;
    }
    bool ok = false;
    const long long n = v.toString().trimmed().toLongLong(&ok, 10);
    return ok ? n != 0 : fallback;
}

void writeString(std::string_view name, std::string_view value)
{
    auto s = open();
    // QSettings does not create missing folders on every platform.
    makeFolder(*s);
    s->setValue(key(name), fromBytes(value));
    commit(*s);
}

void writeBool(std::string_view name, bool value)
{
    writeString(name, value ? "1" : "0");
}

void remove(std::string_view name)
{
    auto s = open();
    if (!s->contains(key(name))) {
        return;
    }
    s->remove(key(name));
    commit(*s);
}

bool contains(std::string_view name)
{
    return open()->contains(key(name));
}

std::string location()
{
    return open()->fileName().toStdString();
}

void setStorageOverride(std::string_view iniPath)
{
    overridePath() = std::string(iniPath);
}

// --- Other keys of the registry ---------------------------------------------

namespace {

// The marker value that makes a created key without values exist in the INI
// file; readers never see it.
const QString kKeyMarker = QStringLiteral("(Key)");

QString iniGroup(Hive hive, std::string_view key)
{
    QString group = QString::fromUtf8(hive == Hive::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER");
    const QString path = QString::fromUtf8(key.data(), static_cast<int>(key.size()));
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
        group += u'/' + part;
    }
    return group;
}

QString iniName(std::string_view name)
{
    return name.empty() ? QStringLiteral("(Default)") : key(name);
}

std::unique_ptr<QSettings> openIni()
{
    auto s = std::make_unique<QSettings>(iniPath(), QSettings::IniFormat);
    makeFolder(*s);
    return s;
}

[[noreturn]] void noRegistry()
{
    throw std::runtime_error("This system has no registry");
}

} // namespace

bool registryAvailable()
{
#ifdef _WIN32
    return true;
#else
    return overridden();
#endif
}

void createKey(Hive hive, std::string_view key)
{
    if (!overridden()) {
#ifdef _WIN32
        winreg::createKey(hive == Hive::ClassesRoot, key);
        return;
#else
        noRegistry();
#endif
    }
    auto s = openIni();
    s->beginGroup(iniGroup(hive, key));
    if (s->childKeys().isEmpty() && s->childGroups().isEmpty()) {
        s->setValue(kKeyMarker, QString());
    }
    s->endGroup();
    commit(*s);
}

void writeKeyValue(Hive hive, std::string_view key, std::string_view name, std::string_view value)
{
    if (!overridden()) {
#ifdef _WIN32
        winreg::writeString(hive == Hive::ClassesRoot, key, name, value);
        return;
#else
        noRegistry();
#endif
    }
    auto s = openIni();
    s->beginGroup(iniGroup(hive, key));
    s->remove(kKeyMarker);
    s->setValue(iniName(name), QString::fromUtf8(value.data(), static_cast<int>(value.size())));
    s->endGroup();
    commit(*s);
}

std::optional<std::string> readKeyValue(Hive hive, std::string_view key, std::string_view name)
{
    if (!overridden()) {
#ifdef _WIN32
        return winreg::readString(hive == Hive::ClassesRoot, key, name);
#else
        noRegistry();
#endif
    }
    auto s = openIni();
    const QVariant v = s->value(iniGroup(hive, key) + u'/' + iniName(name));
    if (!v.isValid()) {
        return std::nullopt;
    }
    return v.toString().toStdString();
}

bool keyExists(Hive hive, std::string_view key)
{
    if (!overridden()) {
#ifdef _WIN32
        return winreg::keyExists(hive == Hive::ClassesRoot, key);
#else
        noRegistry();
#endif
    }
    auto s = openIni();
    s->beginGroup(iniGroup(hive, key));
    return !s->childKeys().isEmpty() || !s->childGroups().isEmpty();
}

void removeKeyValue(Hive hive, std::string_view key, std::string_view name)
{
    if (!overridden()) {
#ifdef _WIN32
        winreg::removeValue(hive == Hive::ClassesRoot, key, name);
        return;
#else
        noRegistry();
#endif
    }
    auto s = openIni();
    const QString full = iniGroup(hive, key) + u'/' + iniName(name);
    if (!s->contains(full)) {
        return;
    }
    s->remove(full);
    commit(*s);
}

} // namespace tq::settings
