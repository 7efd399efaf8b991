// The record set of configured applications: one application's fields in memory (the record
// buffer) with an edit state, moved to and from the application's subkey of the Modules key.
#pragma once
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "config/ServiceKeys.h"

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>

// One configured application. Every text is an allocated BSTR (empty after a reset, never
// null unless an allocation failed).
struct AppRecord {
    LONG editMode = 0;  // 1 between AddNew and a successful Update or a CancelUpdate
    Bstr progId;
    Bstr exePath;
    Bstr dispName;
    Bstr startDir;
    Bstr cmdLineArgs;
    Bstr methodName;
    Bstr methodReturnType;
    Bstr paramOne;
    Bstr paramOneType;
    Bstr paramTwo;
    Bstr paramTwoType;
    Bstr paramThree;
    Bstr paramThreeType;
    Bstr paramFour;
    Bstr paramFourType;
    LONG attrib = 0;
    LONG instances = 0;
};

// Longest text, in ANSI characters, that a stored application may hold.
inline constexpr std::size_t kMaxStoredText = kMaxValueText;

// Used by one thread at a time; instances share nothing but the registry.
class AppCatalog {
public:
    explicit AppCatalog(ServiceKeys keys);
    AppCatalog(const AppCatalog&) = delete;
    AppCatalog& operator=(const AppCatalog&) = delete;

    // Names of the Modules key's subkeys in enumeration order; stops early when a name cannot
    // be taken. Empty when there are none.
    std::vector<std::string> ListApplicationNames() const;
    // Loads the application whose subkey name is exactly name (letter case included). found
    // is 1 when loaded, else 0 and the record is unchanged. S_OK (E_POINTER for a null found).
    HRESULT Find(const wchar_t* name, short* found);

    // The editing operations. Failures are reported as the thread's error info (the Module
    // class, IModule) and returned as E_FAIL.
    HRESULT AddNew();
    // Stores the record under the Modules key (overwriting an application of that name) and
    // resets it. Refuses, writing nothing, when not editing, when neither path nor ProgID is
    // set, when a text to store exceeds kMaxStoredText ANSI characters, or when the key
    // cannot be created; fails, still editing, when a value cannot be written.
    HRESULT Update();
    HRESULT CancelUpdate();
    // Deletes the application whose subkey name is exactly name, with everything below it;
    // result 1 when deleted, else 0. S_OK (E_POINTER for a null result).
    HRESULT Delete(const wchar_t* name, short* result);

    // The accessors. A text get hands out a copy of the field, which the caller frees; a put
    // copies. Neither looks at the edit state or at lengths.
    HRESULT get_ProgId(BSTR* value) const;
    HRESULT put_ProgId(const wchar_t* value);
    HRESULT get_ExePath(BSTR* value) const;
    HRESULT put_ExePath(const wchar_t* value);
    HRESULT get_DispName(BSTR* value) const;
    HRESULT put_DispName(const wchar_t* value);
    HRESULT get_StartDir(BSTR* value) const;
    HRESULT put_StartDir(const wchar_t* value);
    HRESULT get_CmdLineArgs(BSTR* value) const;
    HRESULT put_CmdLineArgs(const wchar_t* value);
    HRESULT get_MethodName(BSTR* value) const;
    HRESULT put_MethodName(const wchar_t* value);
    HRESULT get_MethodReturnType(BSTR* value) const;
    HRESULT put_MethodReturnType(const wchar_t* value);
    HRESULT get_ParamOne(BSTR* value) const;
    HRESULT put_ParamOne(const wchar_t* value);
    HRESULT get_ParamOneType(BSTR* value) const;
    HRESULT put_ParamOneType(const wchar_t* value);
    HRESULT get_ParamTwo(BSTR* value) const;
    HRESULT put_ParamTwo(const wchar_t* value);
    HRESULT get_ParamTwoType(BSTR* value) const;
    HRESULT put_ParamTwoType(const wchar_t* value);
    HRESULT get_ParamThree(BSTR* value) const;
    HRESULT put_ParamThree(const wchar_t* value);
    HRESULT get_ParamThreeType(BSTR* value) const;
    HRESULT put_ParamThreeType(const wchar_t* value);
    HRESULT get_ParamFour(BSTR* value) const;
    HRESULT put_ParamFour(const wchar_t* value);
    HRESULT get_ParamFourType(BSTR* value) const;
    HRESULT put_ParamFourType(const wchar_t* value);
    HRESULT get_Attrib(LONG* value) const;
    HRESULT put_Attrib(LONG value);
    HRESULT get_Instances(LONG* value) const;
    HRESULT put_Instances(LONG value);

    // The record buffer, for in-process readers.
    const AppRecord& Record() const { return record_; }

private:
    void Reset();
    HRESULT Fail(const char* message) const;
    static HRESULT GetText(const Bstr& field, BSTR* value);
    static HRESULT PutText(Bstr& field, const wchar_t* value);

    ServiceKeys keys_;
    AppRecord record_;
};
