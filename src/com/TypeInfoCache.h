// The type information of one dual interface, loaded once per process from the registered
// type library, with a cache of its member names. It serves the IDispatch of the COM classes.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// The locale of the program's type library (its description says lcid 0x409).
inline constexpr LCID kTypeLibraryLocale = 0x409;

class TypeInfoCache {
public:
    explicit TypeInfoCache(const IID& interfaceId) : interfaceId_(interfaceId) {}
    TypeInfoCache(const TypeInfoCache&) = delete;
    TypeInfoCache& operator=(const TypeInfoCache&) = delete;

    // The interface's type information with one added reference; the loading failure when it
    // cannot be loaded (tried again at the next call).
    HRESULT GetTypeInfo(LCID locale, ITypeInfo** typeInfo);
    // Each name in turn, from the name cache or else from the type information; the first
    // failure ends the call.
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids);
    // ITypeInfo::Invoke on instance, the object's dual interface.
    HRESULT Invoke(void* instance, DISPID member, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError);

private:
    struct CachedName {
        std::wstring name;
        DISPID id;
    };

    HRESULT Load(LCID locale);

    const IID& interfaceId_;
    std::mutex loadLock_;  // one loader at a time
    // Published once, after the name cache is complete; kept until the process ends.
    std::atomic<ITypeInfo*> typeInfo_{nullptr};
    std::vector<CachedName> names_;
};
