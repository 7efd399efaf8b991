// Owner of at most one open registry key, and the small toolkit built on it.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

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
    // Creates or opens parent\path, with the same ownership rules as Open. A volatile key (and
    // every key below it, which must be volatile too) is gone at the next boot.
    [[nodiscard]] LONG Create(HKEY parent, const char* path, REGSAM access, DWORD options = REG_OPTION_NON_VOLATILE);
    LONG Close();
    // Deletes the named subkey of the held key with everything below it, children first, in the
    // registry view that view names (0: the program's own; see kOtherRegistryView).
    [[nodiscard]] LONG DeleteTree(const char* name, REGSAM view = 0);

    // Takes over a handle opened elsewhere (closing any held key).
    void Attach(HKEY key);
    // Gives up the held handle without closing it.
    HKEY Release() { return std::exchange(key_, nullptr); }
    HKEY get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

// On 64-bit Windows a 32-bit program (the x86 build, under WOW64) and a 64-bit program see two
// views of some keys: below HKCR, the class keys ("CLSID"), the interface keys and, under Wine,
// the ProgIDs are kept apart; the Services key, AppID and TypeLib are shared. Added to an access
// mask, this flag reaches the view of the other build: the 32-bit view from the x64 build, the
// 64-bit view from the x86 build. 32-bit Windows has one view, which the flag then names.
inline constexpr REGSAM kOtherRegistryView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

// The names of the key's subkeys, in the order the registry enumerates them; empty when the key
// has none or cannot be enumerated.
std::vector<std::string> SubkeyNames(HKEY key);

// Writes a REG_SZ value with its terminating zero counted / a REG_DWORD value.
[[nodiscard]] LONG SetTextValue(HKEY key, const char* name, const std::string& text);
[[nodiscard]] LONG SetDwordValue(HKEY key, const char* name, DWORD value);

// Longest text, in characters, that a text value may hold.
inline constexpr std::size_t kMaxValueText = 259;

// What a reader found. Anything but Read leaves the caller's default in place.
enum class ValueRead {
    Read,
    Missing,    // no such value (or key), or it cannot be read
    WrongType,  // a number that is not a REG_DWORD of 4 bytes, a text that is not REG_SZ or REG_EXPAND_SZ
    TooLong,    // a text of more than kMaxValueText characters
};

// Reads a text from REG_SZ, or from REG_EXPAND_SZ with its environment variables expanded. A
// text stored without its terminating zero is read whole; one with a zero ends there.
ValueRead ReadText(HKEY key, const char* name, std::string& text);
// Reads a number from a REG_DWORD of exactly 4 bytes.
ValueRead ReadDword(HKEY key, const char* name, DWORD& value);

// The same for a value of HKLM\keyPath (a key that cannot be opened: the value is missing).
// The text is empty and the number untouched unless the value was read.
std::string ReadTextValue(const std::string& keyPath, const char* valueName);
// The same below root, in the registry view that view names (0: the program's own).
std::string ReadTextValue(HKEY root, const std::string& keyPath, const char* valueName, REGSAM view);
void ReadDwordValue(const std::string& keyPath, const char* valueName, DWORD* value);
