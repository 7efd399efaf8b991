// Parts shared by the test tools' automation servers (tools/testserver.cpp, tools/inproc32).
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <new>

// An object that offers IDispatch without type information. It starts with no reference; the
// derived class adds Release (which deletes it at 0), GetIDsOfNames and Invoke.
class DispatchObject : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }

protected:
    virtual ~DispatchObject() = default;
    // The count after the release; the derived Release deletes the object when it is 0.
    LONG DropReference() { return InterlockedDecrement(&references_); }

private:
    volatile LONG references_ = 0;
};

// The class factory: one static object per module, which makes objects of Object with new and
// counts LockServer calls through ChangeLocks(true/false).
template <class Object, void (*ChangeLocks)(bool lock)>
class StaticClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory lives as long as its module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* created = new (std::nothrow) Object();
        if (!created) return E_OUTOFMEMORY;
        created->AddRef();
        HRESULT result = created->QueryInterface(iid, object);
        created->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        ChangeLocks(lock != FALSE);
        return S_OK;
    }
};
