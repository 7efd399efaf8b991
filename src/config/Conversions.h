// Conversions between the ANSI text of the registry and the system calls (the process code
// page) and the wide strings of the COM boundary.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <string>

// A newly allocated BSTR holding text converted with CP_ACP; null when text is null or the
// allocation fails. The caller frees it.
[[nodiscard]] BSTR ToBstr(const char* text);
[[nodiscard]] BSTR ToBstr(const std::string& text);

// text converted to ANSI with CP_ACP, held whole; empty for null. Each call returns its own
// string, so threads may convert at the same time.
std::string ToAnsi(const wchar_t* text);

// Whether the wide string held equals the ANSI text once converted, exactly. Two absent
// strings are equal; one absent string equals nothing.
bool EqualsAnsi(const wchar_t* held, const char* text);
