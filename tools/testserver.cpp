// A recording automation server for the tests: a COM server whose object implements IDispatch
// by hand and appends every call it receives to a log file.
//   testserver LOGFILE -Embedding   started by COM (LocalServer32 = "...\testserver.exe" "LOGFILE")
//   testserver -touch PATH          writes the file PATH and ends (a program for others to run)
//   testserver -sleep               holds the event "CorvaneTestSleeper" and sleeps until it is killed
// A serving test server also ends, revoking its class, when the event "CorvaneTestServerQuit"
// is set.
// Built with RECORDER_IN_PROCESS it is recorder.dll, the same class as an in-process server
// (InprocServer32), whose log file is named by its class key's subkey "LogFile".
//
// Log lines:
//   CREATED
//   CALL <name> flags=<n> args=<n> named=<id>,... | <vt>:<value> | ...
//        the arguments in the order of the array IDispatch::Invoke receives (element 0 first);
//        <vt> in hex with VT_BYREF included, by-reference values shown as their targets
//   RELEASED sleeper=<0|1>   the object's last reference went; whether a sleeper still runs
//   FAULTING                 the object's last reference went after "FaultOnRelease": the
//                            release then writes through a null pointer
//   HANGING                  the object's last reference went after "HangOnRelease": the
//                            release then returns only when "CorvaneTestUnblock" is set (or
//                            two minutes pass)
// Every member name is known, with a dispatch id of its own, except "Missing". "Block" does not
// return until the event "CorvaneTestUnblock" is set (or two minutes pass); then the server
// ends as if its last object had gone, revoking its class object, since a client that died
// meanwhile never releases its references. "Echo" also
// returns the argument part of its line as a string, and changes its by-reference arguments:
// I2 and I4 plus one, BOOL to VARIANT_TRUE, BSTR to "changed", R8 doubled, VARIANT to VT_I4 42.
#include "Guids.h"
#include "AutomationServer.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

const char kSleeperEvent[] = "CorvaneTestSleeper";
const char kUnblockEvent[] = "CorvaneTestUnblock";
const char kQuitEvent[] = "CorvaneTestServerQuit";

std::string logPath;
std::mutex logLock;
HANDLE finished = nullptr;
volatile LONG serverCount = 0;  // live objects and LockServer locks

void AppendLog(const std::string& line) {
    std::lock_guard<std::mutex> guard(logLock);
    HANDLE file = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void AddServerReference() { InterlockedIncrement(&serverCount); }
void DropServerReference() {
    if (InterlockedDecrement(&serverCount) == 0) SetEvent(finished);
}

std::string Narrow(const wchar_t* text) {
    if (!text) return "<null>";
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    if (length > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
}

std::string Number(const char* format, ...) {
    char buffer[64];
    va_list list;
    va_start(list, format);
    std::vsnprintf(buffer, sizeof buffer, format, list);
    va_end(list);
    return buffer;
}

std::string DescribeValue(const VARIANT& value);

// The value of an argument of type vt whose data is at data (the VARIANT's own union, or the
// target of a by-reference argument).
std::string DescribeData(VARTYPE vt, const void* data) {
    switch (vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_BSTR: return Narrow(*static_cast<const BSTR*>(data));
    case VT_I2: return Number("%d", *static_cast<const SHORT*>(data));
    case VT_I4: return Number("%ld", *static_cast<const LONG*>(data));
    case VT_R4: return Number("%.9g", static_cast<double>(*static_cast<const float*>(data)));
    case VT_R8:
    case VT_DATE: return Number("%.17g", *static_cast<const double*>(data));
    case VT_BOOL: return Number("%d", *static_cast<const VARIANT_BOOL*>(data));
    case VT_CY: return Number("%lld", static_cast<long long>(static_cast<const CY*>(data)->int64));
    case VT_ERROR: return Number("0x%08lx", static_cast<unsigned long>(*static_cast<const SCODE*>(data)));
    case VT_DISPATCH:
    case VT_UNKNOWN: return *static_cast<IUnknown* const*>(data) ? "object" : "none";
    case VT_VARIANT: return std::string("(").append(DescribeValue(*static_cast<const VARIANT*>(data))).append(")");
    default: return "?";
    }
}

std::string DescribeValue(const VARIANT& value) {
    VARTYPE vt = V_VT(&value);
    std::string text = Number("%04x:", vt);
    if (vt & VT_BYREF) {
        const void* target = V_BYREF(&value);
        return text + (target ? DescribeData(vt & VT_TYPEMASK, target) : "<no target>");
    }
    return text + DescribeData(vt, &value.lVal);
}

// What Echo does to a by-reference argument, so that the caller can see it come back.
void ChangeTarget(VARIANT& value) {
    if (!(V_VT(&value) & VT_BYREF) || !V_BYREF(&value)) return;
    switch (V_VT(&value) & VT_TYPEMASK) {
    case VT_I2: *V_I2REF(&value) += 1; break;
    case VT_I4: *V_I4REF(&value) += 1; break;
    case VT_BOOL: *V_BOOLREF(&value) = VARIANT_TRUE; break;
    case VT_R8: *V_R8REF(&value) *= 2; break;
    case VT_BSTR:
        SysFreeString(*V_BSTRREF(&value));
        *V_BSTRREF(&value) = SysAllocString(L"changed");
        break;
    case VT_VARIANT:
        VariantClear(V_VARIANTREF(&value));
        V_VT(V_VARIANTREF(&value)) = VT_I4;
        V_I4(V_VARIANTREF(&value)) = 42;
        break;
    default: break;
    }
}

class Recorder final : public DispatchObject {
public:
    Recorder() {
        AddServerReference();
        AppendLog("CREATED");
    }

    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = DropReference();
        if (count == 0 && hangOnRelease_) {
            // A server that stops answering: the release returns only when the test lets it.
            AppendLog("HANGING");
            HANDLE unblock = CreateEventA(nullptr, TRUE, FALSE, kUnblockEvent);
            WaitForSingleObject(unblock, 120000);
            CloseHandle(unblock);
        }
        if (count == 0 && faultOnRelease_) {
            AppendLog("FAULTING");
            int* volatile nowhere = nullptr;
            *nowhere = 1;  // an access violation, as a faulty server raises it
        }
        if (count == 0) {
            HANDLE sleeper = OpenEventA(SYNCHRONIZE, FALSE, kSleeperEvent);
            AppendLog(std::string("RELEASED sleeper=") + (sleeper ? "1" : "0"));
            if (sleeper) CloseHandle(sleeper);
            delete this;
            DropServerReference();
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        std::lock_guard<std::mutex> guard(namesLock_);
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            std::wstring name = names[i] ? names[i] : L"";
            if (name == L"Missing") {
                ids[i] = DISPID_UNKNOWN;
                result = DISP_E_UNKNOWNNAME;
                continue;
            }
            std::size_t index = 0;
            while (index < names_.size() && names_[index] != name) ++index;
            if (index == names_.size()) names_.push_back(name);
            ids[i] = static_cast<DISPID>(index + 1);
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        std::wstring name;
        {
            std::lock_guard<std::mutex> guard(namesLock_);
            if (member < 1 || static_cast<std::size_t>(member) > names_.size()) return DISP_E_MEMBERNOTFOUND;
            name = names_[static_cast<std::size_t>(member) - 1];
        }
        UINT count = parameters ? parameters->cArgs : 0;
        std::string arguments = Number("flags=%u args=%u named=", flags, count);
        for (UINT i = 0; parameters && i < parameters->cNamedArgs; ++i) {
            if (i) arguments += ',';
            arguments += Number("%ld", parameters->rgdispidNamedArgs[i]);
        }
        for (UINT i = 0; i < count; ++i) arguments += " | " + DescribeValue(parameters->rgvarg[i]);
        AppendLog("CALL " + Narrow(name.c_str()) + " " + arguments);

        if (name == L"FaultOnRelease") faultOnRelease_ = true;
        if (name == L"HangOnRelease") hangOnRelease_ = true;
        if (name == L"Block") {
            HANDLE unblock = CreateEventA(nullptr, TRUE, FALSE, kUnblockEvent);
            WaitForSingleObject(unblock, 120000);
            CloseHandle(unblock);
            AppendLog("UNBLOCKED");
            SetEvent(finished);
        }
        if (name == L"Echo") {
            for (UINT i = 0; i < count; ++i) ChangeTarget(parameters->rgvarg[i]);
            if (result) {
                std::wstring wide(arguments.begin(), arguments.end());
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = SysAllocString(wide.c_str());
            }
        }
        return S_OK;
    }

private:
    ~Recorder() override = default;

    volatile bool faultOnRelease_ = false;
    volatile bool hangOnRelease_ = false;
    std::mutex namesLock_;
    std::vector<std::wstring> names_;
};

void ChangeServerLocks(bool lock) {
    if (lock)
        AddServerReference();
    else
        DropServerReference();
}

using RecorderFactory = StaticClassFactory<Recorder, ChangeServerLocks>;

#ifndef RECORDER_IN_PROCESS

int Touch(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, "touched", 7, &written, nullptr);
    CloseHandle(file);
    return 0;
}

int Sleeper() {
    HANDLE alive = CreateEventA(nullptr, TRUE, FALSE, kSleeperEvent);
    Sleep(INFINITE);
    CloseHandle(alive);
    return 0;
}

int Serve() {
    finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
    static RecorderFactory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(kClsidTestServer, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie))) {
        CoUninitialize();
        return 3;
    }
    // Ends when the last object and lock are gone, when asked to quit (an object whose client
    // died is never released), or when nobody has used it for a while.
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, kQuitEvent);
    HANDLE ends[] = {finished, quit};
    const DWORD idleLimitMs = 120000;
    for (;;) {
        if (WaitForMultipleObjects(quit ? 2 : 1, ends, FALSE, idleLimitMs) != WAIT_TIMEOUT) break;
        if (serverCount == 0) break;
    }
    if (quit) CloseHandle(quit);
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && lstrcmpiA(argv[1], "-touch") == 0) return Touch(argv[2]);
    if (argc >= 2 && lstrcmpiA(argv[1], "-sleep") == 0) return Sleeper();
    if (argc >= 2 && argv[1][0] != '-' && argv[1][0] != '/') {
        logPath = argv[1];
        return Serve();
    }
    std::fprintf(stderr, "usage: testserver LOGFILE -Embedding | -touch PATH | -sleep\n");
    return 1;
}

#else  // RECORDER_IN_PROCESS

// The log file named by the class key; read once, when COM first asks for the class.
void ReadLogPath() {
    static std::once_flag once;
    std::call_once(once, [] {
        char key[64] = "CLSID\\";
        wchar_t guid[64] = L"";
        StringFromGUID2(kClsidTestServer, guid, 64);
        WideCharToMultiByte(CP_ACP, 0, guid, -1, key + 6, sizeof key - 6, nullptr, nullptr);
        char path[MAX_PATH] = "";
        LONG size = sizeof path;
        if (RegQueryValueA(HKEY_CLASSES_ROOT, (std::string(key) + "\\LogFile").c_str(), path, &size) == ERROR_SUCCESS)
            logPath = path;
    });
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID classId, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(classId, kClsidTestServer)) return CLASS_E_CLASSNOTAVAILABLE;
    ReadLogPath();
    static RecorderFactory factory;
    return factory.QueryInterface(iid, object);
}

// Never unloaded: an object that faulted in its release is never freed.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

#endif  // RECORDER_IN_PROCESS
