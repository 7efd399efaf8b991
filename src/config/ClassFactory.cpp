#include "config/ClassFactory.h"

#include "host/ServiceHost.h"

#include <new>

HRESULT ClassFactory::Create(InstanceCreator creator, REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ClassFactory* factory = new (std::nothrow) ClassFactory(creator);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(interfaceId, object);
    factory->Release();  // ends it when the query failed
    return hr;
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
    return creator_(outer, interfaceId, object);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock)
        InterlockedIncrement(&Host().lockCount);
    else
        Host().ReleaseServerLock();
    return S_OK;
}
