#include "base/Conversions.h"

#include "base/Owners.h"

#include <cwchar>

BSTR ToBstr(const char* text) {
    if (!text) return nullptr;
    return ToBstr(std::string_view(text));
}

BSTR ToBstr(std::string_view text) {
    const std::wstring wide = ToWide(text);
    if (wide.empty() && !text.empty()) return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string ToAnsi(const wchar_t* text) {
    if (!text) return {};
    return ToAnsi(std::wstring_view(text));
}

std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int wideLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), wideLength, result.data(), length, nullptr, nullptr);
    return result;
}

bool FitsAnsi(std::wstring_view text) {
    if (text.empty()) return true;
    BOOL replaced = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, &replaced);
    return length > 0 && !replaced;
}

std::wstring ToWide(std::string_view text) {
    if (text.empty()) return {};
    const int ansiLength = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), ansiLength, nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), ansiLength, result.data(), length);
    return result;
}

bool EqualsAnsi(const wchar_t* held, const char* text) {
    if (!held || !text) return !held && !text;
    Bstr converted(ToBstr(text));
    return converted.get() && std::wcscmp(held, converted.get()) == 0;
}

std::string GuidText(REFGUID guid) {
    wchar_t text[40];
    if (StringFromGUID2(guid, text, 40) == 0) return {};
    return ToAnsi(text);
}

std::string LoadResourceString(HINSTANCE module, UINT id) {
    // A string table block holds 16 strings, each its length in UTF-16 units and then its text.
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id / 16 + 1), MAKEINTRESOURCEA(6));  // RT_STRING
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* entry = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
    if (!entry) return {};
    const WCHAR* const end = entry + SizeofResource(module, found) / sizeof(WCHAR);
    for (UINT index = 0; index < id % 16 && entry < end; ++index) entry += 1 + *entry;
    if (entry >= end || entry + 1 + *entry > end) return {};
    return ToAnsi(std::wstring_view(entry + 1, *entry));
}
