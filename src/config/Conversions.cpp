#include "config/Conversions.h"

#include "host/Owners.h"

#include <cwchar>

BSTR ToBstr(const char* text) {
    if (!text) return nullptr;
    return ToBstr(std::string(text));
}

BSTR ToBstr(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length == 0 && !text.empty()) return nullptr;
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (!result) return nullptr;
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result, length);
    result[length] = L'\0';
    return result;
}

std::string ToAnsi(const wchar_t* text) {
    if (!text) return {};
    int wideLength = static_cast<int>(std::wcslen(text));
    if (wideLength == 0) return {};
    int length = WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, wideLength, result.data(), length, nullptr, nullptr);
    return result;
}

bool EqualsAnsi(const wchar_t* held, const char* text) {
    if (!held || !text) return !held && !text;
    Bstr converted(ToBstr(text));
    return converted.get() && std::wcscmp(held, converted.get()) == 0;
}
