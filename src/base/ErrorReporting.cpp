#include "base/ErrorReporting.h"

#include "base/Conversions.h"
#include "base/MessageBox.h"
#include "base/Owners.h"
#include "base/ProgramName.h"

#include <objbase.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

void FillErrorInfo(REFCLSID classId, const std::string& description, DWORD helpContext, const wchar_t* helpFile,
                   REFIID interfaceId) {
    std::wstring wide = ToWide(description);
    ComPtr<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(&created))) return;
    created->SetGUID(interfaceId);
    CoTaskMemory<wchar_t> progId;
    if (SUCCEEDED(ProgIDFromCLSID(classId, progId.put())) && progId) created->SetSource(progId.get());
    if (helpContext != 0 && helpFile) {
        created->SetHelpFile(const_cast<wchar_t*>(helpFile));
        created->SetHelpContext(helpContext);
    }
    created->SetDescription(wide.data());
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(created.As(&info))) SetErrorInfo(0, info.Get());
}

}  // namespace

HRESULT ReportComError(REFCLSID classId, const char* description, DWORD helpContext, const wchar_t* helpFile,
                       REFIID interfaceId, HRESULT result, HINSTANCE) {
    FillErrorInfo(classId, description ? description : "", helpContext, helpFile, interfaceId);
    return result != 0 ? result : DISP_E_EXCEPTION;
}

HRESULT ReportComError(REFCLSID classId, UINT descriptionId, DWORD helpContext, const wchar_t* helpFile,
                       REFIID interfaceId, HRESULT result, HINSTANCE module) {
    char text[1024];
    if (LoadStringA(module, descriptionId, text, sizeof text) <= 0) lstrcpyA(text, "Unknown Error");
    if (result == 0) result = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, descriptionId & 0xFFFF);
    FillErrorInfo(classId, text, helpContext, helpFile, interfaceId);
    return result;
}

HRESULT InterfaceSupportsErrorInfo(REFIID ownInterface, REFIID interfaceId) {
    return InlineIsEqualGUID(ownInterface, interfaceId) ? S_OK : S_FALSE;
}

std::string GetSystemErrorText(const std::string& prefix) {
    DWORD error = GetLastError();
    LocalMemory<char> systemText;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, error,
                                  LANG_USER_DEFAULT, reinterpret_cast<char*>(systemText.put()), 0, nullptr);
    std::string text = prefix;
    if (length != 0 && systemText) {
        text += '\n';
        text.append(systemText.get(), length);
    }
    return text;
}

void ShowSystemError(const std::string& message) {
    ShowMessageBox(nullptr, GetSystemErrorText(message), ProgramName(), MB_SERVICE_NOTIFICATION);
}
