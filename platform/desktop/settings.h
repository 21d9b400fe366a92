// Per-user settings of the program under the key Software\Tarnquill.
//
// Every value is a string; booleans are stored as "0" and "1" and read back as an
// integer (absent or not a number: the default; any non-zero number: true).
// Values are 8-bit strings (Windows-1252) and survive storage unchanged, every
// one of the 256 codes included. Reads of missing values return the defaults;
// the first write creates the storage.
//
// Windows: HKEY_CURRENT_USER\Software\Tarnquill in the registry.
// Elsewhere: an INI file in the user's configuration folder,
// $XDG_CONFIG_HOME/Tarnquill/tarnquill.ini (or ~/.config/Tarnquill/tarnquill.ini).
// The folder is made 0700 and the file kept 0600: it holds the obscured mail
// password. setStorageOverride() points the settings at another file (tests use
// this).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tq::settings {

// Reads a string value; `fallback` when the value is missing.
std::string readString(std::string_view name, std::string_view fallback = {});

// Reads an integer value; `fallback` when missing or not a whole decimal number.
long long readInt(std::string_view name, long long fallback = 0);

// Reads a boolean: true for any non-zero number, `fallback` when missing or not a number.
bool readBool(std::string_view name, bool fallback = false);

// Writes a string value (creating the storage when needed).
void writeString(std::string_view name, std::string_view value);

// Writes a boolean as "1" or "0".
void writeBool(std::string_view name, bool value);

// Removes a value; removing a missing value does nothing.
void remove(std::string_view name);

// True when the value exists.
bool contains(std::string_view name);

// Where the settings are kept (file path or registry key), for messages.
std::string location();

// Points the settings at another INI file (empty: back to the default). Not used
// by the program itself; tests call it to work in a temporary folder.
void setStorageOverride(std::string_view iniPath);

// --- Other keys of the registry ---------------------------------------------
// The file associations under HKEY_CLASSES_ROOT and the current user's Run key.
// Key paths use backslashes ("crpfile\shell\open\command"); an empty value
// name is the key's default (unnamed) value; every value is a string (REG_SZ).
//
// Windows: the registry itself. With a storage override
// the same calls go to the override INI file instead, where each key is a group
// under the hive's name ("HKEY_CLASSES_ROOT/crpfile/shell/open/command") and the
// default value is named "(Default)"; tests check the registry entries there.
// Elsewhere without an override there is no registry: every call throws.
enum class Hive { CurrentUser, ClassesRoot };

// True when the calls below have a registry to work on.
bool registryAvailable();
// Creates the key (and its parents) when missing.
void createKey(Hive hive, std::string_view key);
// Writes a string value, creating the key when needed.
void writeKeyValue(Hive hive, std::string_view key, std::string_view name, std::string_view value);
// Reads a string value; nothing when the key or value is missing.
std::optional<std::string> readKeyValue(Hive hive, std::string_view key, std::string_view name);
// True when the key exists.
bool keyExists(Hive hive, std::string_view key);
// Deletes a value; deleting a missing value does nothing.
void removeKeyValue(Hive hive, std::string_view key, std::string_view name);

} // namespace tq::settings
