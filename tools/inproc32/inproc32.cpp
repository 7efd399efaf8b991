// A 32-bit in-process automation server for the tests: a DLL whose one class has one method.
//   WriteMark(path)   writes the id of the process that loaded the DLL into the file path
// It is always built for x86, whatever the build's architecture, and registered by the tests
// in the 32-bit registry view only: a 32-bit process can create it, a 64-bit one cannot load it.
#include "Guids.h"
#include "AutomationServer.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <string>

namespace {

constexpr DISPID kWriteMark = 1;

volatile LONG liveObjects = 0;  // objects and server locks; the DLL unloads at 0

bool WriteMark(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::string text = std::to_string(GetCurrentProcessId());
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}

class Marker final : public DispatchObject {
public:
    Marker() { InterlockedIncrement(&liveObjects); }

    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = DropReference();
        if (count == 0) {
            delete this;
            InterlockedDecrement(&liveObjects);
        }
        return static_cast<ULONG>(count);
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            bool known = i == 0 && names[i] && lstrcmpiW(names[i], L"WriteMark") == 0;
            ids[i] = known ? kWriteMark : DISPID_UNKNOWN;
            if (!known) result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*,
                                     EXCEPINFO*, UINT* argumentError) override {
        if (member != kWriteMark || !(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (!parameters || parameters->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        VARIANT path;
        VariantInit(&path);
        HRESULT result = VariantChangeType(&path, &parameters->rgvarg[0], 0, VT_BSTR);
        if (FAILED(result)) {
            if (argumentError) *argumentError = 0;
            return DISP_E_TYPEMISMATCH;
        }
        result = WriteMark(V_BSTR(&path)) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
        VariantClear(&path);
        return result;
    }

private:
    ~Marker() override = default;
};

void ChangeLocks(bool lock) {
    if (lock)
        InterlockedIncrement(&liveObjects);
    else
        InterlockedDecrement(&liveObjects);
}

StaticClassFactory<Marker, ChangeLocks> factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, kClsidInproc32Test)) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return liveObjects == 0 ? S_OK : S_FALSE; }
