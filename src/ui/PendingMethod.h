// The method values of the ActiveX application being edited: what the Method dialog shows and
// changes, and what the Manage Applications dialog stores when it saves the application.
#pragma once
#include <string>

class AppCatalog;

struct PendingMethod {
    // Types hold the stored type names ("VT_VARIANT"), empty for none.
    std::wstring methodName;
    std::wstring methodReturnType;
    std::wstring paramOne;
    std::wstring paramOneType;
    std::wstring paramTwo;
    std::wstring paramTwoType;
    std::wstring paramThree;
    std::wstring paramThreeType;
    std::wstring paramFour;
    std::wstring paramFourType;

    void Clear();
    // Takes the ten values from the catalogue's record buffer.
    void LoadFrom(const AppCatalog& catalog);
    // Puts the ten values into the catalogue's record buffer, in the order of the fields above.
    void StoreInto(AppCatalog& catalog) const;
};
