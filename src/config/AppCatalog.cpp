#include "config/AppCatalog.h"

#include "base/Conversions.h"
#include "base/ErrorReporting.h"
#include "base/RegistryKey.h"
#include "Guids.h"

#include <cwchar>
#include <utility>

namespace {

// Looks for the subkey named exactly name (letter case included; a null name matches
// nothing) among the first count subkeys of an open Modules key.
bool FindSubkey(HKEY modules, DWORD count, const wchar_t* name, std::string* subkeyName) {
    for (DWORD index = 0; index < count; ++index) {
        std::string candidate;
        if (!GetApplicationName(modules, index, candidate)) return false;
        if (EqualsAnsi(name, candidate.c_str())) {
            *subkeyName = std::move(candidate);
            return true;
        }
    }
    return false;
}

}  // namespace

AppCatalog::AppCatalog(ServiceKeys keys) : keys_(std::move(keys)) { Reset(); }

void AppCatalog::Reset() {
    editing_ = false;
    record_ = Application{};
}

HRESULT AppCatalog::Fail(const char* message) const {
    // The code that ReportComError returns is not the one this operation reports.
    (void)ReportComError(kClsidModule, message, 0, nullptr, kIidIModule, 0, nullptr);
    return E_FAIL;
}

std::vector<std::string> AppCatalog::ListApplicationNames() const {
    std::vector<std::string> names;
    DWORD count = CountApplications(keys_);
    if (count == 0) return names;
    RegistryKey modules;
    if (modules.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_READ) != ERROR_SUCCESS) return names;
    for (DWORD index = 0; index < count; ++index) {
        std::string name;
        if (!GetApplicationName(modules.get(), index, name)) break;
        names.push_back(std::move(name));
    }
    return names;
}

HRESULT AppCatalog::Find(const wchar_t* name, short* found) {
    if (!found) return E_POINTER;
    *found = 0;
    DWORD count = CountApplications(keys_);
    RegistryKey modules;
    if (modules.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_READ) != ERROR_SUCCESS) return S_OK;
    std::string subkeyName;
    if (!FindSubkey(modules.get(), count, name, &subkeyName)) return S_OK;
    modules.Close();

    record_ = ReadApplication(keys_, subkeyName);
    *found = 1;
    return S_OK;
}

HRESULT AppCatalog::AddNew() {
    if (editing_) return Fail("AddNew must be followed by Update or CancelUpdate before calling AddNew again");
    editing_ = true;
    return S_OK;
}

HRESULT AppCatalog::Update() {
    if (!editing_) return Fail("Cannot call Update method without first calling AddNew");
    if (record_.exePath.empty() && record_.progId.empty())
        return Fail("Cannot call Update method without specifying either Path or ProgID");
    // A value that cannot be written fails the update as the key would: still editing, with
    // the fields kept, so that the caller can try again.
    std::string problem;
    if (!WriteApplication(keys_, record_, problem)) return Fail(problem.c_str());
    Reset();
    return S_OK;
}

HRESULT AppCatalog::CancelUpdate() {
    Reset();
    return S_OK;
}

HRESULT AppCatalog::Delete(const wchar_t* name, short* result) {
    if (!result) return E_POINTER;
    *result = 0;
    DWORD count = CountApplications(keys_);
    if (count == 0) return S_OK;
    RegistryKey modules;
    if (modules.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_READ) != ERROR_SUCCESS) return S_OK;
    std::string subkeyName;
    for (DWORD index = 0;; ++index) {
        if (index >= count) return S_OK;
        std::string candidate;
        if (!GetApplicationName(modules.get(), index, candidate)) return S_OK;
        RegistryKey application;
        if (application.Open(modules.get(), candidate.c_str(), KEY_READ) != ERROR_SUCCESS) return S_OK;
        if (EqualsAnsi(name, candidate.c_str())) {
            subkeyName = std::move(candidate);
            break;
        }
    }
    RegistryKey writable;
    if (writable.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return S_OK;
    *result = writable.DeleteTree(subkeyName.c_str()) == ERROR_SUCCESS ? 1 : 0;
    return S_OK;
}
