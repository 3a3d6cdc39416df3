// The settings store on Windows: the machine-wide registry hive, one key per
// front end, the value a string. Opened for reading with KEY_READ and for
// writing with KEY_WRITE (created when missing); every call opens and closes
// the key, and a key that will not open means an empty text or nothing
// written, never a message.
#include <windows.h>

#include <string>
#include <vector>

#include "shell/settings.h"

namespace pelmark {

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const wchar_t* text, std::size_t length) {
    if (length == 0) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

// The value as text: a string value (REG_SZ, or REG_EXPAND_SZ left
// unexpanded) up to its first terminator; empty for a missing value or one
// of another type.
std::string ReadString(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
        if (type != REG_SZ && type != REG_EXPAND_SZ) return {};
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        const LONG rc =
            RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (rc == ERROR_MORE_DATA) continue;  // it grew in between
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
        std::size_t length = got / sizeof(wchar_t);
        for (std::size_t i = 0; i < length; ++i) {
            if (data[i] == L'\0') {
                length = i;
                break;
            }
        }
        return Utf8(data.data(), length);
    }
    return {};
}

}  // namespace

std::string SettingsFilePath() { return "HKEY_LOCAL_MACHINE"; }

std::string ReadSetting(const char* name, int selector) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(SettingsKeyPath(selector)).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    const std::string value = ReadString(key, Wide(name != nullptr ? name : ""));
    RegCloseKey(key);
    return value;
}

void WriteSetting(const char* name, const std::string& value, int selector) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(SettingsKeyPath(selector)).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;  // no write access to the machine-wide hive: nothing is kept
    const std::wstring text = Wide(value);
    RegSetValueExW(key, Wide(name != nullptr ? name : "").c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

}  // namespace pelmark
