#include "base/RegistryKey.h"

#include <cstring>
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

LONG RegistryKey::Create(HKEY parent, const char* path, REGSAM access) {
    HKEY created = nullptr;
    LONG result = RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
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

std::string ReadTextValue(const std::string& keyPath, const char* valueName) {
    return ReadTextValue(HKEY_LOCAL_MACHINE, keyPath, valueName, 0);
}

std::string ReadTextValue(HKEY root, const std::string& keyPath, const char* valueName, REGSAM view) {
    RegistryKey key;
    if (key.Open(root, keyPath.c_str(), KEY_READ | view) != ERROR_SUCCESS) return {};
    char buffer[260];
    DWORD size = sizeof buffer;
    if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return {};
    // Stored text may lack its terminator; 260 bytes without one does not fit 259 characters.
    std::string text(buffer, size);
    std::size_t end = text.find('\0');
    if (end == std::string::npos) {
        if (size == sizeof buffer) return {};
        return text;
    }
    text.resize(end);
    return text;
}

void ReadDwordValue(const std::string& keyPath, const char* valueName, DWORD* value) {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) return;
    DWORD read = 0;
    DWORD size = sizeof read;
    if (RegQueryValueExA(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size) !=
        ERROR_SUCCESS)
        return;
    // A value shorter than 4 bytes fills only its own bytes, as a read into the caller's
    // variable would.
    std::memcpy(value, &read, size);
}
