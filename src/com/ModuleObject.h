// The COM class Module ("Launcher.Module.1"): the application catalogue as a COM object.
#pragma once
#include "config/AppCatalog.h"
#include "com/ComObject.h"
#include "Guids.h"

#include <windows.h>
#include <oaidl.h>
#include <string>
#include <vector>

// The dual interface of Module: IUnknown, IDispatch, then these thirty-nine operations in
// this order (the order is the interface's binary layout). The type library declares no
// members, so they are reachable in-process only. A text get hands out a string that the
// caller frees.
struct IModule : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Instances(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Instances(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelUpdate() = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CmdLineArgs(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CmdLineArgs(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE Update() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddNew() = 0;
    // Sets *flag to 1 whatever the name; kept for the interface's layout, nothing calls it.
    virtual HRESULT STDMETHODCALLTYPE Reserved(BSTR name, short* flag) = 0;
    virtual HRESULT STDMETHODCALLTYPE Delete(BSTR name, short* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProgId(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Attrib(LONG* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Attrib(LONG value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ExePath(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ExePath(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DispName(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DispName(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StartDir(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StartDir(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MethodName(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MethodName(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamOne(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamOne(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamTwo(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamTwo(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamThree(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamThree(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamFour(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamFour(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MethodReturnType(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MethodReturnType(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamOneType(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamOneType(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamTwoType(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamTwoType(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamThreeType(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamThreeType(BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParamFourType(BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ParamFourType(BSTR value) = 0;
};

// The property list below repeats IModule's on purpose: the order of a COM vtable is the
// interface's binary layout. Each property reads or writes a member of the catalogue's record
// buffer; the operations forward to the catalogue.
class ModuleObject : public DualObject<IModule, &kIidIModule> {
public:
    explicit ModuleObject(ComServer& server) : catalog_(server.keys) {}

    HRESULT STDMETHODCALLTYPE get_Instances(LONG* value) override { return Get(&Application::instances, value); }
    HRESULT STDMETHODCALLTYPE put_Instances(LONG value) override { return Put(&Application::instances, value); }
    HRESULT STDMETHODCALLTYPE CancelUpdate() override { return catalog_.CancelUpdate(); }
    HRESULT STDMETHODCALLTYPE get_CmdLineArgs(BSTR* value) override { return Get(&Application::cmdLineArgs, value); }
    HRESULT STDMETHODCALLTYPE put_CmdLineArgs(BSTR value) override { return Put(&Application::cmdLineArgs, value); }
    HRESULT STDMETHODCALLTYPE Update() override { return catalog_.Update(); }
    HRESULT STDMETHODCALLTYPE AddNew() override { return catalog_.AddNew(); }
    HRESULT STDMETHODCALLTYPE Reserved(BSTR name, short* flag) override;
    HRESULT STDMETHODCALLTYPE Delete(BSTR name, short* result) override { return catalog_.Delete(name, result); }
    HRESULT STDMETHODCALLTYPE get_ProgId(BSTR* value) override { return Get(&Application::progId, value); }
    HRESULT STDMETHODCALLTYPE put_ProgId(BSTR value) override { return Put(&Application::progId, value); }
    HRESULT STDMETHODCALLTYPE get_Attrib(LONG* value) override { return Get(&Application::attrib, value); }
    HRESULT STDMETHODCALLTYPE put_Attrib(LONG value) override { return Put(&Application::attrib, value); }
    HRESULT STDMETHODCALLTYPE get_ExePath(BSTR* value) override { return Get(&Application::exePath, value); }
    HRESULT STDMETHODCALLTYPE put_ExePath(BSTR value) override { return Put(&Application::exePath, value); }
    HRESULT STDMETHODCALLTYPE get_DispName(BSTR* value) override { return Get(&Application::name, value); }
    HRESULT STDMETHODCALLTYPE put_DispName(BSTR value) override { return Put(&Application::name, value); }
    HRESULT STDMETHODCALLTYPE get_StartDir(BSTR* value) override { return Get(&Application::startDir, value); }
    HRESULT STDMETHODCALLTYPE put_StartDir(BSTR value) override { return Put(&Application::startDir, value); }
    HRESULT STDMETHODCALLTYPE get_MethodName(BSTR* value) override { return Get(&Application::methodName, value); }
    HRESULT STDMETHODCALLTYPE put_MethodName(BSTR value) override { return Put(&Application::methodName, value); }
    HRESULT STDMETHODCALLTYPE get_ParamOne(BSTR* value) override { return Get(&Application::paramOne, value); }
    HRESULT STDMETHODCALLTYPE put_ParamOne(BSTR value) override { return Put(&Application::paramOne, value); }
    HRESULT STDMETHODCALLTYPE get_ParamTwo(BSTR* value) override { return Get(&Application::paramTwo, value); }
    HRESULT STDMETHODCALLTYPE put_ParamTwo(BSTR value) override { return Put(&Application::paramTwo, value); }
    HRESULT STDMETHODCALLTYPE get_ParamThree(BSTR* value) override { return Get(&Application::paramThree, value); }
    HRESULT STDMETHODCALLTYPE put_ParamThree(BSTR value) override { return Put(&Application::paramThree, value); }
    HRESULT STDMETHODCALLTYPE get_ParamFour(BSTR* value) override { return Get(&Application::paramFour, value); }
    HRESULT STDMETHODCALLTYPE put_ParamFour(BSTR value) override { return Put(&Application::paramFour, value); }
    HRESULT STDMETHODCALLTYPE get_MethodReturnType(BSTR* value) override {
        return Get(&Application::methodReturnType, value);
    }
    HRESULT STDMETHODCALLTYPE put_MethodReturnType(BSTR value) override {
        return Put(&Application::methodReturnType, value);
    }
    HRESULT STDMETHODCALLTYPE get_ParamOneType(BSTR* value) override { return Get(&Application::paramOneType, value); }
    HRESULT STDMETHODCALLTYPE put_ParamOneType(BSTR value) override { return Put(&Application::paramOneType, value); }
    HRESULT STDMETHODCALLTYPE get_ParamTwoType(BSTR* value) override { return Get(&Application::paramTwoType, value); }
    HRESULT STDMETHODCALLTYPE put_ParamTwoType(BSTR value) override { return Put(&Application::paramTwoType, value); }
    HRESULT STDMETHODCALLTYPE get_ParamThreeType(BSTR* value) override {
        return Get(&Application::paramThreeType, value);
    }
    HRESULT STDMETHODCALLTYPE put_ParamThreeType(BSTR value) override {
        return Put(&Application::paramThreeType, value);
    }
    HRESULT STDMETHODCALLTYPE get_ParamFourType(BSTR* value) override {
        return Get(&Application::paramFourType, value);
    }
    HRESULT STDMETHODCALLTYPE put_ParamFourType(BSTR value) override {
        return Put(&Application::paramFourType, value);
    }

    // Not part of IModule.
    HRESULT Find(BSTR name, short* found) { return catalog_.Find(name, found); }
    std::vector<std::string> ListApplicationNames() const { return catalog_.ListApplicationNames(); }
    AppCatalog& Catalog() { return catalog_; }

private:
    // A text get hands out a copy, which the caller frees; a put copies up to the first zero.
    // Neither looks at the edit state or at lengths.
    HRESULT Get(std::wstring Application::*field, BSTR* value) const;
    HRESULT Put(std::wstring Application::*field, BSTR value);
    HRESULT Get(LONG Application::*field, LONG* value) const;
    HRESULT Put(LONG Application::*field, LONG value);

    AppCatalog catalog_;
};
