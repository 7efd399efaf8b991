// Owner of at most one open registry key, and the small toolkit built on it.
#pragma once
#include <windows.h>
#include <string>
#include <utility>

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(RegistryKey&& other) noexcept;
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // Opens parent\path. On failure the error is returned and a key already held stays held;
    // on success a held key is closed first and the result is that close's result.
    [[nodiscard]] LONG Open(HKEY parent, const char* path, REGSAM access);
    // Creates or opens parent\path (non-volatile), with the same ownership rules as Open.
    [[nodiscard]] LONG Create(HKEY parent, const char* path, REGSAM access);
    LONG Close();
    // Deletes the named subkey of the held key with everything below it, children first.
    [[nodiscard]] LONG DeleteTree(const char* name);

    // Takes over a handle opened elsewhere (closing any held key).
    void Attach(HKEY key);
    // Gives up the held handle without closing it.
    HKEY Release() { return std::exchange(key_, nullptr); }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

// Writes a REG_SZ value with its terminating zero counted / a REG_DWORD value.
LONG SetTextValue(HKEY key, const char* name, const std::string& text);
LONG SetDwordValue(HKEY key, const char* name, DWORD value);

// Reads a text value of HKLM\keyPath; empty when the key or value cannot be read or the
// text does not fit 259 characters. The stored type is not checked.
std::string ReadTextValue(const std::string& keyPath, const char* valueName);
// Reads at most 4 bytes of HKLM\keyPath\valueName into *value; leaves it untouched on failure.
void ReadDwordValue(const std::string& keyPath, const char* valueName, DWORD* value);
