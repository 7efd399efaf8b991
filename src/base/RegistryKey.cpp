#include "base/RegistryKey.h"

#include <algorithm>
#include <utility>

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
}

RegistryKey::~RegistryKey() { Close(); }

LONG RegistryKey::Open(HKEY parent, const char* path, REGSAM access) {
    HKEY opened = nullptr;
    LONG result = RegOpenKeyExA(parent, path, 0, access, &opened);
    if (result != ERROR_SUCCESS) return result;
    result = Close();
    key_ = opened;
    return result;
}

LONG RegistryKey::Create(HKEY parent, const char* path, REGSAM access, DWORD options) {
    HKEY created = nullptr;
    LONG result = RegCreateKeyExA(parent, path, 0, nullptr, options, access, nullptr,
                                  &created, nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = Close();
    key_ = created;
    return result;
}

LONG RegistryKey::Close() {
    if (!key_) return ERROR_SUCCESS;
    LONG result = RegCloseKey(key_);
    key_ = nullptr;
    return result;
}

void RegistryKey::Attach(HKEY key) {
    Close();
    key_ = key;
}

LONG RegistryKey::DeleteTree(const char* name, REGSAM view) {
    RegistryKey child;
    LONG result = child.Open(key_, name, KEY_READ | KEY_WRITE | view);
    if (result != ERROR_SUCCESS) return result;
    // Index 0 each time: deleting a child moves the next one down to index 0.
    for (;;) {
        char grandchild[256];
        DWORD length = sizeof grandchild;
        if (RegEnumKeyExA(child.get(), 0, grandchild, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        result = child.DeleteTree(grandchild, view);
        if (result != ERROR_SUCCESS) return result;
    }
    child.Close();
    return RegDeleteKeyExA(key_, name, view, 0);
}

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];  // the longest key name the registry allows, and its terminator
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    return names;
}

LONG SetTextValue(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG SetDwordValue(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

ValueRead ReadText(HKEY key, const char* name, std::string& text) {
    text.clear();
    DWORD type = 0;
    DWORD size = 0;
    std::string data;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    // A value that grows between the two calls is asked for again.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ValueRead::WrongType;
        data.assign(size, '\0');
        result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (result == ERROR_SUCCESS) break;
    }
    if (result != ERROR_SUCCESS) return ValueRead::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return ValueRead::WrongType;
    // The stored text ends at its first zero, or with its data when it has none.
    data.resize(size);
    data.resize(std::min(data.find('\0'), data.size()));
    if (data.size() > kMaxValueText) return ValueRead::TooLong;
    if (type == REG_EXPAND_SZ) {
        DWORD needed = ExpandEnvironmentStringsA(data.c_str(), nullptr, 0);
        std::string expanded(needed, '\0');
        if (needed == 0 || ExpandEnvironmentStringsA(data.c_str(), expanded.data(), needed) == 0)
            return ValueRead::Missing;
        expanded.resize(std::min(expanded.find('\0'), expanded.size()));
        data = std::move(expanded);
    }
    text = std::move(data);
    return ValueRead::Read;
}

ValueRead ReadDword(HKEY key, const char* name, DWORD& value) {
    DWORD type = 0;
    DWORD read = 0;
    DWORD size = sizeof read;
    LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size);
    if (result == ERROR_MORE_DATA) return ValueRead::WrongType;  // longer than 4 bytes
    if (result != ERROR_SUCCESS) return ValueRead::Missing;
    if (type != REG_DWORD || size != sizeof read) return ValueRead::WrongType;
    value = read;
    return ValueRead::Read;
}

std::string ReadTextValue(const std::string& keyPath, const char* valueName) {
    return ReadTextValue(HKEY_LOCAL_MACHINE, keyPath, valueName, 0);
}

std::string ReadTextValue(HKEY root, const std::string& keyPath, const char* valueName, REGSAM view) {
    RegistryKey key;
    std::string text;
    if (key.Open(root, keyPath.c_str(), KEY_READ | view) == ERROR_SUCCESS)
        (void)ReadText(key.get(), valueName, text);  // anything not read leaves the text empty
    return text;
}

void ReadDwordValue(const std::string& keyPath, const char* valueName, DWORD* value) {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) == ERROR_SUCCESS)
        (void)ReadDword(key.get(), valueName, *value);  // anything not read leaves the number as it was
}
