// Installing and removing the service, the AppID, the classes and the type library.
#include "base/Conversions.h"
#include "base/ErrorResult.h"
#include "base/EventLog.h"
#include "base/ModulePath.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "com/ClassTable.h"
#include "host/Installation.h"
#include "registrar/RegistrarScript.h"
#include "Guids.h"
#include "resource.h"

#include <objbase.h>
#include <oleauto.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// After a stop request, how long "Install" waits for an old service to be gone.
constexpr DWORD kServiceGoneTimeoutMs = 30000;

// Waits until the service is no longer known to the service manager (deleted and stopped).
void WaitUntilServiceGone(const HostIdentity& identity) {
    for (DWORD waited = 0; waited < kServiceGoneTimeoutMs && IsServiceInstalled(identity); waited += 100) Sleep(100);
}

// Reports text to the event log and fails, keeping the thread's last error for the caller.
bool FailWithEvent(const char* text) {
    const DWORD error = GetLastError();
    LogEventText(text);
    SetLastError(error);
    return false;
}

// Keeps the first failure of a sequence of steps.
void KeepFirstFailure(HRESULT& result, HRESULT step) {
    if (SUCCEEDED(result) && FAILED(step)) result = step;
}

// Whether a class of this program is registered (its class key exists).
bool AreClassesRegistered() {
    for (const ClassEntry& entry : ProgramClassTable()) {
        RegistryKey classKey;
        if (classKey.Open(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidText(*entry.clsid)).c_str(), KEY_READ) == ERROR_SUCCESS)
            return true;
    }
    return false;
}

// Removes the AppID's values that name the service, so that COM no longer starts it to serve
// the classes: it serves them with the program itself. A value that is not there is fine.
HRESULT ForgetServiceInAppId() {
    RegistryKey appId;
    LONG error = appId.Open(HKEY_CLASSES_ROOT, (std::string("AppID\\") + kAppIdText).c_str(), KEY_WRITE);
    if (error == ERROR_FILE_NOT_FOUND) return S_OK;
    if (error != ERROR_SUCCESS) return Win32Result(error);
    HRESULT result = S_OK;
    for (const char* value : {kLocalServiceValue, kServiceParametersValue}) {
        error = RegDeleteValueA(appId.get(), value);
        if (error != ERROR_FILE_NOT_FOUND) KeepFirstFailure(result, Win32Result(error));
    }
    return result;
}

}  // namespace

bool IsServiceInstalled(const HostIdentity& identity) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), identity.serviceName.c_str(), SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

bool CreateHostService(const HostIdentity& identity) {
    if (IsServiceInstalled(identity)) return true;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return FailWithEvent("Could not open Service Manager.");
    // Quoted: unquoted, a path with a blank lets the service manager start another program.
    const std::string binaryPath = "\"" + ExecutablePath() + "\"";
    const std::string& name = identity.serviceName;
    ServiceHandle service(CreateServiceA(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, SERVICE_AUTO_START,
                                         SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, "RPCSS\0",
                                         nullptr, nullptr));
    if (!service) return FailWithEvent("Could not create Service.");
    return true;
}

bool DeleteHostService(const HostIdentity& identity) {
    if (!IsServiceInstalled(identity)) return true;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return FailWithEvent("Could not open Service Manager.");
    ServiceHandle service(OpenServiceA(manager.get(), identity.serviceName.c_str(), SERVICE_STOP | DELETE));
    if (!service) return FailWithEvent("Could not open Service.");
    SERVICE_STATUS status{};
    (void)ControlService(service.get(), SERVICE_CONTROL_STOP, &status);  // a stopped service refuses; fine
    if (!DeleteService(service.get())) return FailWithEvent("Error while deleting Service.");
    return true;
}

void ResetLocalServerKeys() {
    RegistryKey classes;
    if (classes.Open(HKEY_CLASSES_ROOT, "CLSID", KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    // Quoted: unquoted, a path with a blank lets COM start another program in its place.
    const std::string path = "\"" + ExecutablePath() + "\"";
    for (const ClassEntry& entry : ProgramClassTable()) {
        RegistryKey classKey;
        if (classKey.Open(classes.get(), GuidText(*entry.clsid).c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
            continue;
        RegDeleteValueA(classKey.get(), "AppID");
        RegDeleteValueA(classKey.get(), "_LocalServer32");
        RegistryKey server;
        if (server.Create(classKey.get(), "LocalServer32", KEY_ALL_ACCESS) == ERROR_SUCCESS)
            (void)SetTextValue(server.get(), nullptr, path);
    }
}

HRESULT RegisterClasses(const HostIdentity& identity) {
    for (const ClassEntry& entry : ProgramClassTable())
        RETURN_IF_FAILED(RunRegistrationScript(identity.instance, entry.registrationScript, true));
    return RegisterTypeLibrary(identity);
}

HRESULT UnregisterClasses(const HostIdentity& identity) {
    HRESULT result = S_OK;
    for (const ClassEntry& entry : ProgramClassTable())
        KeepFirstFailure(result, RunRegistrationScript(identity.instance, entry.registrationScript, false));
    KeepFirstFailure(result, UnregisterTypeLibrary(identity));
    return result;
}

HRESULT LoadOwnTypeLibrary(const HostIdentity& identity, ITypeLib** library, std::wstring* path) {
    *library = nullptr;
    std::wstring file = ModuleFileNameWide(identity.instance);
    if (file.empty()) return LastErrorResult();
    HRESULT result = LoadTypeLib(file.c_str(), library);
    if (FAILED(result)) {
        std::size_t dot = file.rfind(L'.');
        file = (dot == std::wstring::npos ? file : file.substr(0, dot)) + L".tlb";
        result = LoadTypeLib(file.c_str(), library);
        if (FAILED(result)) return result;
    }
    if (path) *path = file;
    return S_OK;
}

namespace {

// The library's version key below HKCR\TypeLib, as RegisterTypeLib names it ("{libid}\1.0").
std::string TypeLibraryVersionKey(const TLIBATTR& attributes) {
    char version[32];
    wsprintfA(version, "%x.%x", attributes.wMajorVerNum, attributes.wMinorVerNum);
    return "TypeLib\\" + GuidText(attributes.guid) + "\\" + version;
}

// The key below a locale of the library's version key that names the file for one platform.
// TypeLib is shared by both registry views: the x64 build files its library as "win64", the
// x86 build as "win32".
const char* PlatformKeyName(SYSKIND platform) { return platform == SYS_WIN64 ? "win64" : "win32"; }
const char* OtherPlatformKeyName() { return PlatformKeyName(sizeof(void*) == 8 ? SYS_WIN32 : SYS_WIN64); }

// Wine's type-library marshaller looks a library up under the neutral locale only, so a
// library filed under its own locale alone cannot marshal its dual interfaces across
// processes there. The same file is therefore also named under locale 0; Windows finds the
// library's own locale first either way.
void RegisterUnderNeutralLocale(ITypeLib* library, const std::wstring& path) {
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return;
    if (attributes->lcid != 0 && (attributes->syskind == SYS_WIN64 || attributes->syskind == SYS_WIN32)) {
        const std::string ansiPath = ToAnsi(path);
        const std::string key =
            TypeLibraryVersionKey(*attributes) + "\\0\\" + PlatformKeyName(attributes->syskind);
        RegistryKey neutral;
        if (neutral.Create(HKEY_CLASSES_ROOT, key.c_str(), KEY_WRITE) == ERROR_SUCCESS)
            (void)SetTextValue(neutral.get(), nullptr, ansiPath);
    }
    library->ReleaseTLibAttr(attributes);
}

// What the type library of the other architecture's build registered: its interface keys in
// that build's registry view, and its platform's name below each locale of the shared version
// key. The version key goes too when no locale is left in it.
void RemoveOtherBuildTypeLibrary(const HostIdentity& identity) {
    ComPtr<ITypeLib> library;
    if (FAILED(LoadOwnTypeLibrary(identity, &library, nullptr))) return;
    RegistryKey interfaces;
    if (interfaces.Open(HKEY_CLASSES_ROOT, "Interface", KEY_ALL_ACCESS | kOtherRegistryView) == ERROR_SUCCESS) {
        for (UINT index = 0; index < library->GetTypeInfoCount(); ++index) {
            ComPtr<ITypeInfo> info;
            TYPEATTR* type = nullptr;
            if (FAILED(library->GetTypeInfo(index, &info)) || FAILED(info->GetTypeAttr(&type))) continue;
            if (type->typekind == TKIND_DISPATCH || type->typekind == TKIND_INTERFACE)
                (void)interfaces.DeleteTree(GuidText(type->guid).c_str());  // absent unless registered
            info->ReleaseTypeAttr(type);
        }
    }

    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return;
    const std::string libraryId = GuidText(attributes->guid);
    const std::string versionPath = TypeLibraryVersionKey(*attributes);
    library->ReleaseTLibAttr(attributes);
    RegistryKey version;
    if (version.Open(HKEY_CLASSES_ROOT, versionPath.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    bool localeLeft = false;
    for (const std::string& name : SubkeyNames(version.get())) {
        if (lstrcmpiA(name.c_str(), "FLAGS") == 0 || lstrcmpiA(name.c_str(), "HELPDIR") == 0) continue;
        RegistryKey locale;
        if (locale.Open(version.get(), name.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
        (void)locale.DeleteTree(OtherPlatformKeyName());  // absent unless registered
        if (SubkeyNames(locale.get()).empty()) {
            locale.Close();
            (void)version.DeleteTree(name.c_str());
        } else {
            localeLeft = true;
        }
    }
    if (localeLeft) return;
    // No build has the library registered: the version key and, when it was the last, the
    // library's key go.
    version.Close();
    RegistryKey libraryKey;
    if (libraryKey.Open(HKEY_CLASSES_ROOT, ("TypeLib\\" + libraryId).c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return;
    (void)libraryKey.DeleteTree(versionPath.substr(versionPath.rfind('\\') + 1).c_str());
    if (!SubkeyNames(libraryKey.get()).empty()) return;
    libraryKey.Close();
    RegistryKey typeLibraries;
    if (typeLibraries.Open(HKEY_CLASSES_ROOT, "TypeLib", KEY_ALL_ACCESS) == ERROR_SUCCESS)
        (void)typeLibraries.DeleteTree(libraryId.c_str());
}

// Installing or removing either build also removes the class registration that the other
// architecture's build left in its own registry view, so that one build replaces the other
// and a removal leaves neither behind. The service and the AppID are shared by both views.
void RemoveOtherBuildClasses(const HostIdentity& identity) {
    for (const ClassEntry& entry : ProgramClassTable())
        (void)RunRegistrationScript(identity.instance, entry.registrationScript, false, nullptr, kOtherRegistryView);
    RemoveOtherBuildTypeLibrary(identity);
}

}  // namespace

HRESULT RegisterTypeLibrary(const HostIdentity& identity) {
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT result = LoadOwnTypeLibrary(identity, &library, &path);
    if (FAILED(result)) return result;
    std::size_t separator = path.find_last_of(L"\\/:");
    std::wstring helpDirectory = separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
    result = RegisterTypeLib(library.Get(), path.data(), helpDirectory.data());
    if (SUCCEEDED(result)) RegisterUnderNeutralLocale(library.Get(), path);
    return result;
}

HRESULT UnregisterTypeLibrary(const HostIdentity& identity) {
    ComPtr<ITypeLib> library;
    HRESULT result = LoadOwnTypeLibrary(identity, &library, nullptr);
    if (FAILED(result)) return result;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes))) return result;
    if (attributes->lcid != 0) {
        // The neutral-locale name goes first, so that the version key is left empty for the
        // system's unregistration to remove.
        RegistryKey version;
        if (version.Open(HKEY_CLASSES_ROOT, TypeLibraryVersionKey(*attributes).c_str(), KEY_ALL_ACCESS) ==
            ERROR_SUCCESS)
            (void)version.DeleteTree("0");
    }
    using UnRegisterFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    if (ModuleHandle automation{LoadLibraryA("oleaut32.dll")}) {
        // An automation library without the function leaves the library registered, silently.
        if (auto unregister =
                reinterpret_cast<UnRegisterFunction>(GetProcAddress(automation.get(), "UnRegisterTypeLib")))
            (void)unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                             attributes->syskind);
    }
    library->ReleaseTLibAttr(attributes);
    return result;
}

HRESULT RegisterHost(const HostIdentity& identity, bool classes, bool service) {
    ComInitialization com(COINIT_APARTMENTTHREADED);
    HRESULT result = com.result();
    if (FAILED(result)) return result;

    // Any installed service goes first, whichever halves are installed. Its stop is requested
    // but it may take a moment to end; the new service is created once the old one is gone.
    bool hadService = IsServiceInstalled(identity);
    (void)DeleteHostService(identity);
    if (hadService) WaitUntilServiceGone(identity);
    // A service still there now is marked for deletion (its process or a handle holds it):
    // it would vanish later, so it does not count as installed.
    bool serviceBlocked = hadService && IsServiceInstalled(identity);

    if (service) {
        (void)RunRegistrationScript(identity.instance, IDR_APPID_SCRIPT, true);
        RegistryKey appIdRoot;
        RETURN_IF_WIN32_ERROR(appIdRoot.Open(HKEY_CLASSES_ROOT, "AppID", KEY_WRITE));
        RegistryKey appId;
        RETURN_IF_WIN32_ERROR(appId.Open(appIdRoot.get(), kAppIdText, KEY_WRITE));
        RegDeleteValueA(appId.get(), kLocalServiceValue);
        // COM starts the service named here to serve the classes, so it names this service.
        (void)SetTextValue(appId.get(), kLocalServiceValue, identity.serviceName);
        (void)SetTextValue(appId.get(), kServiceParametersValue, "-Install");
        // A failed creation is in the event log, and reaches the exit code.
        if (serviceBlocked) {
            LogEventText("Could not create Service.");
            result = HRESULT_FROM_WIN32(ERROR_SERVICE_MARKED_FOR_DELETE);
        } else if (!CreateHostService(identity) && SUCCEEDED(result)) {
            result = LastErrorResult();
        }
    }
    if (classes) {
        if (!service) {
            // The COM half alone: the program serves its classes only where the AppID key
            // exists, and the service deleted above must no longer be named there.
            KeepFirstFailure(result, RunRegistrationScript(identity.instance, IDR_APPID_SCRIPT, true));
            KeepFirstFailure(result, ForgetServiceInAppId());
        }
        RemoveOtherBuildClasses(identity);
        ResetLocalServerKeys();
        HRESULT registered = RegisterClasses(identity);
        if (FAILED(registered) || SUCCEEDED(result)) result = registered;
    }
    return result;
}

HRESULT UnregisterHost(const HostIdentity& identity, bool classes, bool service) {
    ComInitialization com(COINIT_APARTMENTTHREADED);
    if (FAILED(com.result())) return com.result();
    HRESULT result = S_OK;
    // The AppID key serves both halves: it goes with the last of them, else only its naming of
    // the service goes with the service.
    if (service) {
        if (classes || !AreClassesRegistered())
            KeepFirstFailure(result, RunRegistrationScript(identity.instance, IDR_APPID_SCRIPT, false));
        else
            KeepFirstFailure(result, ForgetServiceInAppId());
        if (!DeleteHostService(identity)) KeepFirstFailure(result, LastErrorResult());
    }
    if (classes) {
        RemoveOtherBuildClasses(identity);
        KeepFirstFailure(result, UnregisterClasses(identity));
        if (!service && !IsServiceInstalled(identity))
            KeepFirstFailure(result, RunRegistrationScript(identity.instance, IDR_APPID_SCRIPT, false));
    }
    return result;
}
