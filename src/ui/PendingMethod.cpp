#include "ui/PendingMethod.h"

#include "config/AppCatalog.h"

namespace {
// Each value beside the catalogue property that holds it, in the order of storing.
struct MethodValue {
    std::wstring PendingMethod::*field;
    Bstr AppRecord::*stored;
    HRESULT (AppCatalog::*put)(const wchar_t*);
};
constexpr MethodValue kMethodValues[] = {
    {&PendingMethod::methodName, &AppRecord::methodName, &AppCatalog::put_MethodName},
    {&PendingMethod::methodReturnType, &AppRecord::methodReturnType, &AppCatalog::put_MethodReturnType},
    {&PendingMethod::paramOne, &AppRecord::paramOne, &AppCatalog::put_ParamOne},
    {&PendingMethod::paramOneType, &AppRecord::paramOneType, &AppCatalog::put_ParamOneType},
    {&PendingMethod::paramTwo, &AppRecord::paramTwo, &AppCatalog::put_ParamTwo},
    {&PendingMethod::paramTwoType, &AppRecord::paramTwoType, &AppCatalog::put_ParamTwoType},
    {&PendingMethod::paramThree, &AppRecord::paramThree, &AppCatalog::put_ParamThree},
    {&PendingMethod::paramThreeType, &AppRecord::paramThreeType, &AppCatalog::put_ParamThreeType},
    {&PendingMethod::paramFour, &AppRecord::paramFour, &AppCatalog::put_ParamFour},
    {&PendingMethod::paramFourType, &AppRecord::paramFourType, &AppCatalog::put_ParamFourType},
};
}  // namespace

void PendingMethod::Clear() {
    for (const MethodValue& value : kMethodValues) (this->*value.field).clear();
}

void PendingMethod::LoadFrom(const AppCatalog& catalog) {
    for (const MethodValue& value : kMethodValues) {
        const BSTR text = (catalog.Record().*value.stored).get();
        this->*value.field = text ? text : L"";
    }
}

void PendingMethod::StoreInto(AppCatalog& catalog) const {
    // A put fails only for a null string, which these never are.
    for (const MethodValue& value : kMethodValues) (void)(catalog.*value.put)((this->*value.field).c_str());
}
