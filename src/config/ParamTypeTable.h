// The data types that an ActiveX method's parameters and result may take: the name the
// Method dialog shows, the name the record and the registry hold, and the letter of the call
// format of InvokeByName.
#pragma once
#include <windows.h>
#include <oleauto.h>

struct ParamType {
    const char* displayName;
    const char* storedName;
    char letter;  // '\0' for "None"
};

inline constexpr ParamType kParamTypes[] = {
    {"String", "VT_BSTR", 's'},      {"Integer", "VT_I2", 'i'},    {"Long", "VT_I4", 'I'},
    {"Single", "VT_R4", 'r'},        {"Double", "VT_R8", 'R'},     {"Boolean", "VT_BOOL", 'b'},
    {"Date", "VT_DATE", 'd'},        {"Currency", "VT_CY", 'c'},   {"Variant", "VT_VARIANT", 'v'},
    {"Object", "VT_DISPATCH", 'D'},  {"None", "", '\0'},
};

// The stored name of a display name, as a new BSTR: empty for "None" and any unknown name;
// null when given null (or when the allocation fails).
[[nodiscard]] BSTR ToVariantTypeName(const wchar_t* displayName);
// The display name of a stored name, as a new BSTR: "None" for the empty name and any unknown
// name; null when given null (or when the allocation fails).
[[nodiscard]] BSTR ToDisplayTypeName(const wchar_t* storedName);

// The call-format letter of a stored name; '\0' for the empty name and any unknown name.
// Names are compared exactly, letter case included.
char TypeLetter(const wchar_t* storedName);
