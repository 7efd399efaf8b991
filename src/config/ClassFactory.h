// The class object of both COM classes: creates instances through the class's instance
// creator and keeps the server alive on request.
#pragma once
#include <windows.h>
#include <objbase.h>

class ClassFactory final : public IClassFactory {
public:
    using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID interfaceId, void** object);

    // The class-object creator of a class-table entry: a new class object bound to creator,
    // asked for interfaceId (and destroyed when that fails).
    static HRESULT Create(InstanceCreator creator, REFIID interfaceId, void** object);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Aggregation is offered only for IID_IUnknown.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interfaceId, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    explicit ClassFactory(InstanceCreator creator) : creator_(creator) {}
    ~ClassFactory() = default;

    InstanceCreator creator_;
    // The class object's own references do not count as server locks.
    volatile LONG referenceCount_ = 0;
};

template <HRESULT (*Creator)(IUnknown*, REFIID, void**)>
HRESULT CreateClassObject(REFIID interfaceId, void** object) {
    return ClassFactory::Create(Creator, interfaceId, object);
}
