#include "com/TypeInfoCache.h"

#include "base/Owners.h"
#include "Guids.h"

#include <cwchar>
#include <mutex>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

HRESULT TypeInfoCache::Load(LCID locale) {
    if (typeInfo_.load(std::memory_order_acquire)) return S_OK;
    std::lock_guard<std::mutex> guard(loadLock_);
    if (typeInfo_.load(std::memory_order_acquire)) return S_OK;  // another thread was first

    // The registered library is required; the executable's own resource is not read here.
    // Registration files it under its own locale, which is also tried when the caller's
    // locale finds nothing (the system looks for the exact locale only).
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(kTypeLibraryId, 1, 0, locale, &library);
    if (FAILED(hr) && locale != kTypeLibraryLocale)
        hr = LoadRegTypeLib(kTypeLibraryId, 1, 0, kTypeLibraryLocale, &library);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> info;
    hr = library->GetTypeInfoOfGuid(interfaceId_, &info);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo2> info2;
    if (SUCCEEDED(info->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(info2.GetAddressOf()))))
        info = info2;

    std::vector<CachedName> names;
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
        for (UINT index = 0; index < attributes->cFuncs; ++index) {
            FUNCDESC* function = nullptr;
            if (FAILED(info->GetFuncDesc(index, &function))) continue;
            Bstr name;
            if (SUCCEEDED(info->GetDocumentation(function->memid, name.out(), nullptr, nullptr, nullptr)) &&
                name.get())
                names.push_back({std::wstring(name.get(), name.length()), function->memid});
            info->ReleaseFuncDesc(function);
        }
        info->ReleaseTypeAttr(attributes);
    }
    names_ = std::move(names);
    typeInfo_.store(info.Detach(), std::memory_order_release);
    return S_OK;
}

HRESULT TypeInfoCache::GetTypeInfo(LCID locale, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    HRESULT hr = Load(locale);
    if (FAILED(hr)) return hr;
    ITypeInfo* info = typeInfo_.load(std::memory_order_acquire);
    info->AddRef();
    *typeInfo = info;
    return S_OK;
}

HRESULT TypeInfoCache::GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
    if (count > 0 && (!names || !ids)) return E_POINTER;
    HRESULT hr = Load(locale);
    if (FAILED(hr)) return hr;
    ITypeInfo* info = typeInfo_.load(std::memory_order_acquire);
    for (UINT i = 0; i < count; ++i) {
        if (!names[i]) return E_POINTER;
        const std::size_t length = std::wcslen(names[i]);
        bool cached = false;
        for (const CachedName& entry : names_) {
            if (entry.name.size() == length && std::wmemcmp(entry.name.data(), names[i], length) == 0) {
                ids[i] = entry.id;
                cached = true;
                break;
            }
        }
        if (cached) continue;
        hr = info->GetIDsOfNames(&names[i], 1, &ids[i]);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT TypeInfoCache::Invoke(void* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* parameters,
                              VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    HRESULT hr = Load(locale);
    if (FAILED(hr)) return hr;
    return typeInfo_.load(std::memory_order_acquire)
        ->Invoke(instance, member, flags, parameters, result, exception, argumentError);
}
