#include "platform/desktop/winregistry.h"

#include <windows.h>
#include <shlobj.h>

#include <stdexcept>
#include <vector>

namespace tq::winreg {
namespace {

std::wstring wide(std::string_view utf8)
{
    if (utf8.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

HKEY root(bool classesRoot)
{
    return classesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

std::string describe(bool classesRoot, std::string_view key)
{
    return std::string(classesRoot ? "HKEY_CLASSES_ROOT\\" : "HKEY_CURRENT_USER\\") + std::string(key);
}

[[noreturn]] void fail(const char* what, bool classesRoot, std::string_view key, LONG rc)
{
    wchar_t buffer[256] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(rc), 0,
                   buffer, 255, nullptr);
    throw std::runtime_error(std::string(what) + " \"" + describe(classesRoot, key) + "\": " + narrow(buffer));
}

// An open key, closed when it goes out of scope.
class Key {
public:
    Key(bool classesRoot, std::string_view key, bool create)
    {
        const std::wstring path = wide(key);
        const LONG rc = create ? RegCreateKeyExW(root(classesRoot), path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_READ,
                                                 nullptr, &handle_, nullptr)
                               : RegOpenKeyExW(root(classesRoot), path.c_str(), 0, KEY_READ | KEY_SET_VALUE, &handle_);
        if (rc != ERROR_SUCCESS) {
            handle_ = nullptr;
            if (create) {
                fail("Cannot open the registry key", classesRoot, key, rc);
            }
        }
    }
    ~Key()
    {
        if (handle_ != nullptr) {
            RegCloseKey(handle_);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY handle() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

} // namespace

void createKey(bool classesRoot, std::string_view key)
{
    Key k(classesRoot, key, true);
}

void writeString(bool classesRoot, std::string_view key, std::string_view name, std::string_view value)
{
    Key k(classesRoot, key, true);
    const std::wstring data = wide(value);
    const std::wstring valueName = wide(name);
    const LONG rc = RegSetValueExW(k.handle(), name.empty() ? nullptr : valueName.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(data.c_str()),
                                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS) {
        fail("Cannot write to the registry key", classesRoot, key, rc);
    }
}

std::optional<std::string> readString(bool classesRoot, std::string_view key, std::string_view name)
{
    Key k(classesRoot, key, false);
    if (k.handle() == nullptr) {
        return std::nullopt;
    }
    const std::wstring valueName = wide(name);
    const wchar_t* namePtr = name.empty() ? nullptr : valueName.c_str();
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(k.handle(), namePtr, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(k.handle(), namePtr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return narrow(std::wstring(buffer.data()));
}

bool keyExists(bool classesRoot, std::string_view key)
{
    Key k(classesRoot, key, false);
    return k.handle() != nullptr;
}

void removeValue(bool classesRoot, std::string_view key, std::string_view name)
{
    Key k(classesRoot, key, false);
    if (k.handle() == nullptr) {
        return;
    }
    const std::wstring valueName = wide(name);
    const LONG rc = RegDeleteValueW(k.handle(), name.empty() ? nullptr : valueName.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
        fail("Cannot delete a value of the registry key", classesRoot, key, rc);
    }
}

void notifyAssociationsChanged()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace tq::winreg
