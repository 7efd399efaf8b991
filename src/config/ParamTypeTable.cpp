#include "config/ParamTypeTable.h"

#include "base/Conversions.h"

namespace {

const ParamType* FindByDisplayName(const wchar_t* displayName) {
    for (const ParamType& type : kParamTypes)
        if (EqualsAnsi(displayName, type.displayName)) return &type;
    return nullptr;
}

const ParamType* FindByStoredName(const wchar_t* storedName) {
    for (const ParamType& type : kParamTypes)
        if (EqualsAnsi(storedName, type.storedName)) return &type;
    return nullptr;
}

}  // namespace

BSTR ToVariantTypeName(const wchar_t* displayName) {
    if (!displayName) return nullptr;
    const ParamType* type = FindByDisplayName(displayName);
    return ToBstr(type ? type->storedName : "");
}

BSTR ToDisplayTypeName(const wchar_t* storedName) {
    if (!storedName) return nullptr;
    const ParamType* type = FindByStoredName(storedName);
    return ToBstr(type ? type->displayName : "None");
}

char TypeLetter(const wchar_t* storedName) {
    if (!storedName) return '\0';
    const ParamType* type = FindByStoredName(storedName);
    return type ? type->letter : '\0';
}
