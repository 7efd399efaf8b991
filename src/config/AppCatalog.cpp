#include "config/AppCatalog.h"

#include "base/Conversions.h"
#include "base/ErrorReporting.h"
#include "base/RegistryKey.h"
#include "Guids.h"

#include <cwchar>
#include <utility>

namespace {

using TextMember = Bstr AppRecord::*;

struct TextValue {
    const char* name;  // registry value and property name
    TextMember member;
};

// The fourteen texts that Find reads from the registry (DispName is the subkey's name).
constexpr TextValue kLoadedTexts[] = {
    {"CmdLineArgs", &AppRecord::cmdLineArgs},
    {"ExePath", &AppRecord::exePath},
    {"StartDir", &AppRecord::startDir},
    {"ProgId", &AppRecord::progId},
    {"MethodName", &AppRecord::methodName},
    {"MethodReturnType", &AppRecord::methodReturnType},
    {"ParamOne", &AppRecord::paramOne},
    {"ParamOneType", &AppRecord::paramOneType},
    {"ParamTwo", &AppRecord::paramTwo},
    {"ParamTwoType", &AppRecord::paramTwoType},
    {"ParamThree", &AppRecord::paramThree},
    {"ParamThreeType", &AppRecord::paramThreeType},
    {"ParamFour", &AppRecord::paramFour},
    {"ParamFourType", &AppRecord::paramFourType},
};

constexpr char kUnknownName[] = "Unknown";

bool IsEmpty(const Bstr& text) { return ::IsEmpty(text.get()); }

// One value that Update is about to write.
struct StoredValue {
    const char* name;
    DWORD type;
    std::string text;
    DWORD number;
};

StoredValue Text(const char* name, const Bstr& field) { return {name, REG_SZ, ToAnsi(field.get()), 0}; }
StoredValue Text(const char* name, std::string text) { return {name, REG_SZ, std::move(text), 0}; }
StoredValue Number(const char* name, LONG value) { return {name, REG_DWORD, {}, static_cast<DWORD>(value)}; }

// The values of the record in the order in which Update writes them, with its adjustments:
// Attrib below 0 as 0, Instances below 1 as 1, a type only beside a non-empty value, and the
// method values only for an ActiveX application.
std::vector<StoredValue> StoredForm(const AppRecord& record) {
    std::vector<StoredValue> values = {
        Text("DispName", record.dispName),
        Text("ExePath", record.exePath),
        Text("StartDir", record.startDir),
        Number("Attrib", record.attrib >= 0 ? record.attrib : 0),
        Number("Instances", record.instances >= 1 ? record.instances : 1),
        Text("ProgId", record.progId),
        Text("CmdLineArgs", record.cmdLineArgs),
    };
    if (IsEmpty(record.progId)) return values;
    auto typeBeside = [](const Bstr& value, const Bstr& type) {
        return IsEmpty(value) ? std::string() : ToAnsi(type.get());
    };
    values.push_back(Text("MethodName", record.methodName));
    values.push_back(Text("MethodReturnType", typeBeside(record.methodName, record.methodReturnType)));
    values.push_back(Text("ParamOne", record.paramOne));
    values.push_back(Text("ParamOneType", typeBeside(record.paramOne, record.paramOneType)));
    values.push_back(Text("ParamTwo", record.paramTwo));
    values.push_back(Text("ParamTwoType", typeBeside(record.paramTwo, record.paramTwoType)));
    values.push_back(Text("ParamThree", record.paramThree));
    values.push_back(Text("ParamThreeType", typeBeside(record.paramThree, record.paramThreeType)));
    values.push_back(Text("ParamFour", record.paramFour));
    values.push_back(Text("ParamFourType", typeBeside(record.paramFour, record.paramFourType)));
    return values;
}

LONG WriteValue(HKEY key, const StoredValue& value) {
    return value.type == REG_SZ ? SetTextValue(key, value.name, value.text)
                                : SetDwordValue(key, value.name, value.number);
}

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
    record_.editMode = 0;
    record_.attrib = 0;
    record_.instances = 0;
    record_.dispName.reset(SysAllocString(L""));
    for (const TextValue& text : kLoadedTexts) (record_.*text.member).reset(SysAllocString(L""));
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

    const std::string path = keys_.Application(subkeyName);
    for (const TextValue& text : kLoadedTexts)
        (record_.*text.member).reset(ToBstr(ReadTextValue(path, text.name)));
    DWORD attrib = 0;
    DWORD instances = 0;
    ReadDwordValue(path, "Attrib", &attrib);
    ReadDwordValue(path, "Instances", &instances);
    record_.dispName.reset(ToBstr(subkeyName));
    record_.attrib = static_cast<LONG>(attrib);
    record_.instances = static_cast<LONG>(instances);
    *found = 1;
    return S_OK;
}

HRESULT AppCatalog::AddNew() {
    if (record_.editMode == 1)
        return Fail("AddNew must be followed by Update or CancelUpdate before calling AddNew again");
    record_.editMode = 1;
    return S_OK;
}

HRESULT AppCatalog::Update() {
    if (record_.editMode == 0) return Fail("Cannot call Update method without first calling AddNew");
    if (IsEmpty(record_.exePath) && IsEmpty(record_.progId))
        return Fail("Cannot call Update method without specifying either Path or ProgID");

    // Every text is checked before anything is written, so a refused record leaves the
    // registry as it was.
    std::vector<StoredValue> values = StoredForm(record_);
    for (const StoredValue& value : values) {
        if (value.type == REG_SZ && value.text.size() > kMaxStoredText) {
            std::string message = std::string(value.name) + " is longer than " + std::to_string(kMaxStoredText) +
                                  " characters";
            return Fail(message.c_str());
        }
    }

    const std::string& dispName = values.front().text;
    RegistryKey modules;
    RegistryKey application;
    if (modules.Create(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        application.Create(HKEY_LOCAL_MACHINE,
                           keys_.Application(dispName.empty() ? kUnknownName : dispName).c_str(),
                           KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return Fail("Error while working with registry");

    // A value that cannot be written fails the update as the key would: still editing, with
    // the fields kept, so that the caller can try again.
    for (const StoredValue& value : values)
        if (WriteValue(application.get(), value) != ERROR_SUCCESS) return Fail("Error while working with registry");
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

HRESULT AppCatalog::GetText(const Bstr& field, BSTR* value) {
    if (!value) return E_POINTER;
    // A copy: a caller across COM frees what it gets.
    *value = SysAllocStringLen(field.get(), field.length());
    return *value || !field.get() ? S_OK : E_OUTOFMEMORY;
}

HRESULT AppCatalog::PutText(Bstr& field, const wchar_t* value) {
    if (!value) return E_POINTER;
    BSTR copy = SysAllocString(value);
    if (!copy) return E_OUTOFMEMORY;
    field.reset(copy);
    return S_OK;
}

#define CATALOG_TEXT_PROPERTY(Name, member)                                                         \
    HRESULT AppCatalog::get_##Name(BSTR* value) const { return GetText(record_.member, value); } \
    HRESULT AppCatalog::put_##Name(const wchar_t* value) { return PutText(record_.member, value); }

CATALOG_TEXT_PROPERTY(ProgId, progId)
CATALOG_TEXT_PROPERTY(ExePath, exePath)
CATALOG_TEXT_PROPERTY(DispName, dispName)
CATALOG_TEXT_PROPERTY(StartDir, startDir)
CATALOG_TEXT_PROPERTY(CmdLineArgs, cmdLineArgs)
CATALOG_TEXT_PROPERTY(MethodName, methodName)
CATALOG_TEXT_PROPERTY(MethodReturnType, methodReturnType)
CATALOG_TEXT_PROPERTY(ParamOne, paramOne)
CATALOG_TEXT_PROPERTY(ParamOneType, paramOneType)
CATALOG_TEXT_PROPERTY(ParamTwo, paramTwo)
CATALOG_TEXT_PROPERTY(ParamTwoType, paramTwoType)
CATALOG_TEXT_PROPERTY(ParamThree, paramThree)
CATALOG_TEXT_PROPERTY(ParamThreeType, paramThreeType)
CATALOG_TEXT_PROPERTY(ParamFour, paramFour)
CATALOG_TEXT_PROPERTY(ParamFourType, paramFourType)

#undef CATALOG_TEXT_PROPERTY

HRESULT AppCatalog::get_Attrib(LONG* value) const {
    if (!value) return E_POINTER;
    *value = record_.attrib;
    return S_OK;
}

HRESULT AppCatalog::put_Attrib(LONG value) {
    record_.attrib = value;
    return S_OK;
}

HRESULT AppCatalog::get_Instances(LONG* value) const {
    if (!value) return E_POINTER;
    *value = record_.instances;
    return S_OK;
}

HRESULT AppCatalog::put_Instances(LONG value) {
    record_.instances = value;
    return S_OK;
}
