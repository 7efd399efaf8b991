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
