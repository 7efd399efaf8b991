#include "launch/ActiveXServer.h"

#include "base/Conversions.h"
#include "base/ErrorReporting.h"
#include "base/EventLog.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "config/Application.h"
#include "config/ParamTypeTable.h"
#include "Guids.h"

#include <cstdarg>
#include <string>
#include <vector>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

struct FormatLetter {
    char letter;
    VARTYPE type;
};

constexpr FormatLetter kFormatLetters[] = {
    {'s', VT_BSTR}, {'i', VT_I2},   {'I', VT_I4},       {'r', VT_R4},      {'R', VT_R8},     {'b', VT_BOOL},
    {'d', VT_DATE}, {'c', VT_CY},   {'v', VT_VARIANT},  {'D', VT_DISPATCH}, {'U', VT_UNKNOWN}, {'e', VT_ERROR},
};

struct FormatItem {
    char letter;
    VARTYPE type;
    bool byReference;
};

// The arguments that format describes, in argument order. A letter outside the table (or an
// "&" that is not followed by a letter) ends the list.
std::vector<FormatItem> ParseFormat(const char* format) {
    std::vector<FormatItem> items;
    if (!format) return items;
    bool byReference = false;
    for (const char* position = format; *position; ++position) {
        if (*position == '&' && !byReference) {
            byReference = true;
            continue;
        }
        const FormatLetter* found = nullptr;
        for (const FormatLetter& letter : kFormatLetters)
            if (letter.letter == *position) found = &letter;
        if (!found) break;
        items.push_back({found->letter, found->type, byReference});
        byReference = false;
    }
    return items;
}

// Takes one argument from the list into argument. Strings are copied into BSTRs that copies
// owns until the call is over.
HRESULT TakeArgument(const FormatItem& item, va_list* list, VARIANT* argument, std::vector<Bstr>* copies) {
    if (item.byReference) {
        void* target = va_arg(*list, void*);
        if (item.letter == 'b' && target) *static_cast<VARIANT_BOOL*>(target) = VARIANT_FALSE;
        V_VT(argument) = static_cast<VARTYPE>(item.type | VT_BYREF);
        V_BYREF(argument) = target;
        return S_OK;
    }
    switch (item.letter) {
    case 's': {
        const wchar_t* text = va_arg(*list, const wchar_t*);
        Bstr copy(text);
        if (text && !copy.get()) return E_OUTOFMEMORY;
        V_BSTR(argument) = copy.get();
        copies->push_back(std::move(copy));
        break;
    }
    case 'i': V_I2(argument) = static_cast<SHORT>(va_arg(*list, int)); break;
    case 'I': V_I4(argument) = static_cast<LONG>(va_arg(*list, int)); break;
    case 'r': V_R4(argument) = static_cast<float>(va_arg(*list, double)); break;
    case 'R': V_R8(argument) = va_arg(*list, double); break;
    case 'b': V_BOOL(argument) = va_arg(*list, int) ? VARIANT_TRUE : VARIANT_FALSE; break;
    case 'd': V_DATE(argument) = va_arg(*list, DATE); break;
    case 'c': V_CY(argument) = va_arg(*list, CY); break;
    case 'v': *argument = va_arg(*list, VARIANT); return S_OK;  // the caller's, as it is
    case 'D': V_DISPATCH(argument) = va_arg(*list, IDispatch*); break;
    case 'U': V_UNKNOWN(argument) = va_arg(*list, IUnknown*); break;
    case 'e': V_ERROR(argument) = static_cast<SCODE>(va_arg(*list, int)); break;
    default: return E_INVALIDARG;
    }
    V_VT(argument) = item.type;
    return S_OK;
}

// True when the class that progId names is an in-process server registered only in the
// registry view of the other architecture: a 32-bit DLL seen from the x64 build (or a 64-bit
// one from the x86 build), which this process cannot load.
bool IsInProcessServerOfOtherArchitecture(const std::string& progId) {
    std::string classId = ReadTextValue(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr, 0);
    if (classId.empty()) classId = ReadTextValue(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr, kOtherRegistryView);
    if (classId.empty()) return false;
    const std::string classKey = "CLSID\\" + classId;
    RegistryKey own;
    if (own.Open(HKEY_CLASSES_ROOT, classKey.c_str(), KEY_READ) == ERROR_SUCCESS) return false;
    RegistryKey other;
    return other.Open(HKEY_CLASSES_ROOT, (classKey + "\\InprocServer32").c_str(), KEY_READ | kOtherRegistryView) ==
           ERROR_SUCCESS;
}

// The event text for a server that could not be started: the ProgID, and why.
std::string StartFailureText(const std::string& progId, HRESULT failure) {
    std::string text = "Unable to start ActiveX server: " + progId + "\nDetailed error info: ";
    if (IsInProcessServerOfOtherArchitecture(progId)) {
        if (sizeof(void*) == 8)
            return text + "its class is registered only for 32-bit programs, as an in-process server (a DLL) that "
                          "the 64-bit Corvane cannot load. The x86 build of Corvane can create it.";
        return text + "its class is registered only for 64-bit programs, as an in-process server (a DLL) that "
                      "the 32-bit Corvane cannot load. The x64 build of Corvane can create it.";
    }
    char code[16];
    wsprintfA(code, "0x%08lX", static_cast<unsigned long>(failure));
    SetLastError(static_cast<DWORD>(failure));  // the system's text for the COM result
    return text + code + GetSystemErrorText("");
}

}  // namespace

HRESULT StartActiveXServer(BSTR progId, IDispatch** server) {
    if (!server) return E_POINTER;
    *server = nullptr;
    CLSID classId{};
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    HRESULT result = progId ? CLSIDFromProgID(progId, &classId) : E_POINTER;
    if (SUCCEEDED(result)) result = CoCreateInstance(classId, nullptr, CLSCTX_SERVER, IID_IUnknown, &unknown);
    if (SUCCEEDED(result)) result = unknown.As(&dispatch);
    if (SUCCEEDED(result)) {
        *server = dispatch.Detach();
        return S_OK;
    }
    // The service's only witness of a server that did not start is the event log.
    LogEventText(StartFailureText(progId ? ToAnsi(progId) : std::string(), result));
    // The code that ReportComError returns is not the one this operation reports.
    (void)ReportComError(kClsidLaunch, "Unable to start ActiveX server", 0, nullptr, kIidILaunch, 0, nullptr);
    return E_FAIL;
}

int InvokeConfiguredMethod(const ApplicationMethod& record, IDispatch* server) {
    if (!server) return 0;
    if (record.methodName.empty()) return 1;

    int count = 0;
    std::string format;
    for (const MethodParameter& parameter : kMethodParameters) {
        const std::wstring& type = record.*parameter.type;
        if (type.empty()) continue;
        ++count;
        if (char letter = TypeLetter(type.c_str())) format += letter;
    }

    // The method's own outcome is not looked at: a server that refuses the call stays started.
    const wchar_t* method = record.methodName.c_str();
    if (count == 0) {
        (void)InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, method, nullptr);
        return 1;
    }
    for (int i = 0; i < count; ++i)
        if (!EqualsAnsi((record.*kMethodParameters[i].type).c_str(), "VT_VARIANT")) return 0;

    // Every parameter goes as its stored text; the server converts it itself.
    Variant parameters[4];
    for (int i = 0; i < count; ++i) {
        V_VT(parameters[i].get()) = VT_BSTR;
        V_BSTR(parameters[i].get()) = SysAllocString((record.*kMethodParameters[i].value).c_str());
    }
    const char* letters = format.c_str();
    switch (count) {
    case 1:
        (void)InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, method, letters, *parameters[0].get());
        break;
    case 2:
        (void)InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, method, letters, *parameters[0].get(),
                           *parameters[1].get());
        break;
    case 3:
        (void)InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, method, letters, *parameters[0].get(),
                           *parameters[1].get(), *parameters[2].get());
        break;
    default:
        (void)InvokeByName(server, DISPATCH_METHOD, nullptr, nullptr, nullptr, method, letters, *parameters[0].get(),
                           *parameters[1].get(), *parameters[2].get(), *parameters[3].get());
        break;
    }
    return 1;
}

HRESULT InvokeByName(IDispatch* dispatch, WORD flags, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                     const wchar_t* name, const char* format, ...) {
    if (!dispatch || !name) return E_INVALIDARG;
    DISPID member = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(hr)) return hr;

    const std::vector<FormatItem> items = ParseFormat(format);
    DISPID propertyPut = DISPID_PROPERTYPUT;
    DISPPARAMS parameters{};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (items.empty()) return E_INVALIDARG;  // a put needs the value
        parameters.cNamedArgs = 1;
        parameters.rgdispidNamedArgs = &propertyPut;
    }

    // IDispatch::Invoke takes the arguments last first.
    std::vector<VARIANT> arguments(items.size());
    for (VARIANT& argument : arguments) VariantInit(&argument);
    std::vector<Bstr> copies;
    va_list list;
    va_start(list, format);
    for (std::size_t i = 0; i < items.size() && SUCCEEDED(hr); ++i)
        hr = TakeArgument(items[i], &list, &arguments[items.size() - 1 - i], &copies);
    va_end(list);
    if (FAILED(hr)) return hr;
    parameters.cArgs = static_cast<UINT>(arguments.size());
    parameters.rgvarg = arguments.empty() ? nullptr : arguments.data();

    if (result) VariantInit(result);
    // The arguments are not cleared afterwards: "v" arguments stay the caller's, and the
    // string copies go with their owners.
    return dispatch->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, exception,
                            argumentError);
}
