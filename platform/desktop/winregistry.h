// The Windows registry and shell calls behind the settings' key functions and
// the file associations (Windows builds only). Strings are UTF-8; key paths use
// backslashes; an empty value name is the key's default value. Failures throw
// std::runtime_error naming the key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tq::winreg {

// `classesRoot`: HKEY_CLASSES_ROOT; otherwise HKEY_CURRENT_USER.
void createKey(bool classesRoot, std::string_view key);
void writeString(bool classesRoot, std::string_view key, std::string_view name, std::string_view value);
std::optional<std::string> readString(bool classesRoot, std::string_view key, std::string_view name);
bool keyExists(bool classesRoot, std::string_view key);
void removeValue(bool classesRoot, std::string_view key, std::string_view name);

// Tells the shell that file associations changed (no item list).
void notifyAssociationsChanged();

} // namespace tq::winreg
