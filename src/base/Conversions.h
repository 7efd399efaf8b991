// Conversions between the ANSI text of the registry and the system calls (the process code
// page) and the wide strings of the COM boundary. Every conversion returns its own string, so
// threads may convert at the same time.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

// A newly allocated BSTR holding text converted with CP_ACP; null when text is null or the
// allocation fails. The caller frees it.
[[nodiscard]] BSTR ToBstr(const char* text);
[[nodiscard]] BSTR ToBstr(std::string_view text);

// Wide text converted to ANSI with CP_ACP; empty for null. The pointer form reads up to the
// first zero; the view form converts exactly its characters (zeros included).
std::string ToAnsi(const wchar_t* text);
std::string ToAnsi(std::wstring_view text);

// Whether CP_ACP holds every character of the wide text exactly (no replacement, no best fit),
// so that ToAnsi loses nothing.
bool FitsAnsi(std::wstring_view text);

// ANSI text converted to wide with CP_ACP.
std::wstring ToWide(std::string_view text);

// Whether the wide string held equals the ANSI text once converted, exactly. Two absent
// strings are equal; one absent string equals nothing.
bool EqualsAnsi(const wchar_t* held, const char* text);

// Whether a wide string is absent or empty.
inline bool IsEmpty(const wchar_t* text) { return !text || text[0] == L'\0'; }

// The string resource id of module, converted with CP_ACP; empty when it has none. Unlike
// LoadString it needs no window library, which a service's start does not load.
std::string LoadResourceString(HINSTANCE module, UINT id);

// A GUID in registry form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in upper case.
std::string GuidText(REFGUID guid);
