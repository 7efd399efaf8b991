#include "com/ClassFactory.h"

#include <new>
#include <wrl/client.h>

HRESULT ClassFactory::Create(ComServer& server, InstanceCreator creator, REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    // The holder's reference ends the factory when the query fails.
    Microsoft::WRL::ComPtr<IClassFactory> factory(new (std::nothrow) ClassFactory(server, creator));
    if (!factory) return E_OUTOFMEMORY;
    return factory->QueryInterface(interfaceId, object);
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    if (InlineIsEqualGUID(interfaceId, IID_IUnknown) || InlineIsEqualGUID(interfaceId, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&referenceCount_)); }

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    LONG count = InterlockedDecrement(&referenceCount_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer && !InlineIsEqualGUID(interfaceId, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return creator_(server_, outer, interfaceId, object);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock)
        server_.lifetime.Lock();
    else
        (void)server_.lifetime.Unlock();  // an unmatched unlock is ignored
    return S_OK;
}
