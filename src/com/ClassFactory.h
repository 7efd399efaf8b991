// The class object of both COM classes: creates instances through the class's instance
// creator and keeps the server alive on request.
#pragma once
#include "com/ServerLifetime.h"

#include <windows.h>
#include <objbase.h>

class ClassFactory final : public IClassFactory {
public:
    using InstanceCreator = HRESULT (*)(ComServer& server, IUnknown* outer, REFIID interfaceId, void** object);

    // The class-object creator of a class-table entry: a new class object bound to creator,
    // asked for interfaceId (and destroyed when that fails).
    [[nodiscard]] static HRESULT Create(ComServer& server, InstanceCreator creator, REFIID interfaceId, void** object);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID interfaceId, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Aggregation is offered only for IID_IUnknown.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID interfaceId, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ClassFactory(ComServer& server, InstanceCreator creator) : server_(server), creator_(creator) {}
    ~ClassFactory() = default;

    ComServer& server_;
    InstanceCreator creator_;
    // The class object's own references do not count as server locks.
    volatile LONG referenceCount_ = 0;
};

template <HRESULT (*Creator)(ComServer&, IUnknown*, REFIID, void**)>
HRESULT CreateClassObject(ComServer& server, REFIID interfaceId, void** object) {
    return ClassFactory::Create(server, Creator, interfaceId, object);
}
