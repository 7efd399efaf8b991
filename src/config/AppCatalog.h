// The record set of configured applications: one application in memory (the record buffer)
// with an edit state, moved to and from the application's subkey of the Modules key.
#pragma once
#include "base/RegistryKey.h"
#include "config/Application.h"
#include "config/ServiceKeys.h"

#include <windows.h>
#include <string>
#include <vector>

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
    // Stores the record under the Modules key (see WriteApplication) and resets it. Refuses,
    // writing nothing, when not editing, when neither path nor ProgID is set, when a text to
    // store exceeds kMaxStoredText ANSI characters, or when the key cannot be created; fails,
    // still editing, when a value cannot be written.
    HRESULT Update();
    HRESULT CancelUpdate();
    // Deletes the application whose subkey name is exactly name, with everything below it;
    // result 1 when deleted, else 0. S_OK (E_POINTER for a null result).
    HRESULT Delete(const wchar_t* name, short* result);

    // The record buffer. Edit hands it out for changes whatever the edit state.
    const Application& Record() const { return record_; }
    Application& Edit() { return record_; }
    // Between AddNew and a successful Update or a CancelUpdate.
    bool IsEditing() const { return editing_; }

private:
    void Reset();
    HRESULT Fail(const char* message) const;

    ServiceKeys keys_;
    Application record_;
    bool editing_ = false;
};
