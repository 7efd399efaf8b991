// The object machinery shared by the two COM classes: a dual interface served from the type
// library with ISupportErrorInfo, the reference counting of plain and aggregated objects, and
// the server lock that every object holds while it lives.
#pragma once
#include "base/ErrorReporting.h"
#include "com/ServerLifetime.h"
#include "com/TypeInfoCache.h"

#include <windows.h>
#include <oaidl.h>
#include <new>
#include <wrl/client.h>

// A class's dual interface (also its IDispatch and IUnknown) and ISupportErrorInfo. The
// IUnknown operations are ComObject's.
template <class DualInterface, const IID* InterfaceId>
class DualObject : public DualInterface, public ISupportErrorInfo {
public:
    using DualInterfaceType = DualInterface;
    // Both interfaces carry IUnknown; declared once here (and defined by ComObject) so that
    // calls on the object are not ambiguous.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override = 0;
    ULONG STDMETHODCALLTYPE AddRef() override = 0;
    ULONG STDMETHODCALLTYPE Release() override = 0;

    // IDispatch, served from the registered type library.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    // The same type information for any index.
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID locale, ITypeInfo** typeInfo) override {
        return TypeInfo().GetTypeInfo(locale, typeInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return TypeInfo().GetIDsOfNames(names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        return TypeInfo().Invoke(static_cast<DualInterface*>(this), member, locale, flags, parameters, result,
                                 exception, argumentError);
    }

    // ISupportErrorInfo: only the class's own dual interface reports error info.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID interfaceId) override {
        return ::InterfaceSupportsErrorInfo(*InterfaceId, interfaceId);
    }

    // The interface table: IUnknown, IDispatch and the dual interface give the dual
    // interface, ISupportErrorInfo the second one. Adds a reference through the interface
    // given out (which, aggregated, is the outer object's).
    HRESULT FindInterface(REFIID interfaceId, void** object) {
        if (!object) return E_POINTER;
        IUnknown* found = nullptr;
        if (InlineIsEqualGUID(interfaceId, IID_IUnknown) || InlineIsEqualGUID(interfaceId, IID_IDispatch) ||
            InlineIsEqualGUID(interfaceId, *InterfaceId))
            found = static_cast<DualInterface*>(this);
        else if (InlineIsEqualGUID(interfaceId, IID_ISupportErrorInfo))
            found = static_cast<ISupportErrorInfo*>(this);
        *object = found;
        if (!found) return E_NOINTERFACE;
        found->AddRef();
        return S_OK;
    }

    static const IID& DualInterfaceId() { return *InterfaceId; }

protected:
    DualObject() = default;

    static TypeInfoCache& TypeInfo() {
        static TypeInfoCache cache(*InterfaceId);
        return cache;
    }

    IUnknown* outer_ = nullptr;  // the controlling object when aggregated
    volatile LONG referenceCount_ = 0;
};

// A complete object of class Base (a DualObject constructed from the ComServer). Plain, it
// counts its own references and is destroyed by its last Release; aggregated (inside
// AggregatedObject), its interfaces hand AddRef, Release and QueryInterface to the outer
// object. The server lock is released after everything else of the object is gone.
template <class Base>
class ComObject final : private ServerLock, public Base {
public:
    ComObject(ComServer& server, IUnknown* outer) : ServerLock(server.lifetime), Base(server) {
        this->outer_ = outer;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override {
        if (!object) return E_POINTER;
        // Aggregated: the outer object answers first; its own table only when it does not.
        if (this->outer_ && SUCCEEDED(this->outer_->QueryInterface(interfaceId, object))) return S_OK;
        return this->FindInterface(interfaceId, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (this->outer_) return this->outer_->AddRef();
        return static_cast<ULONG>(InterlockedIncrement(&this->referenceCount_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (this->outer_) return this->outer_->Release();
        LONG count = InterlockedDecrement(&this->referenceCount_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
};

// The aggregated form: an IUnknown of its own, with its own count, that controls the inner
// object's lifetime and answers every id but IID_IUnknown from the inner object's table.
template <class Base>
class AggregatedObject final : public IUnknown {
public:
    AggregatedObject(ComServer& server, IUnknown* outer) : inner_(server, outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override {
        if (!object) return E_POINTER;
        if (InlineIsEqualGUID(interfaceId, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner_.FindInterface(interfaceId, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = InterlockedDecrement(&count_);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

    Base& Inner() { return inner_; }

private:
    volatile LONG count_ = 0;
    ComObject<Base> inner_;
};

// The instance creator of a class-table entry: a plain object without an outer unknown, an
// aggregated one with it; then QueryInterface for interfaceId, which destroys the new object
// when it fails. The aggregation rules are the class factory's.
template <class Base>
[[nodiscard]] HRESULT CreateObjectInstance(ComServer& server, IUnknown* outer, REFIID interfaceId, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    IUnknown* created = nullptr;
    if (outer)
        created = new (std::nothrow) AggregatedObject<Base>(server, outer);
    else
        created = static_cast<typename Base::DualInterfaceType*>(new (std::nothrow) ComObject<Base>(server, nullptr));
    if (!created) return E_OUTOFMEMORY;
    // Born with a count of 0: the holder's reference ends it when the query fails.
    Microsoft::WRL::ComPtr<IUnknown> holder(created);
    return holder->QueryInterface(interfaceId, object);
}

// The in-process creation that the program itself uses: a plain object, born with a count of
// 0 and one server lock; object holds its first reference.
template <class Base>
[[nodiscard]] HRESULT NewInstance(ComServer& server, Microsoft::WRL::ComPtr<Base>& object) {
    Base* created = new (std::nothrow) ComObject<Base>(server, nullptr);
    if (!created) return E_OUTOFMEMORY;
    object = created;
    return S_OK;
}
