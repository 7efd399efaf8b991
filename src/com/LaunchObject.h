// The COM class Launch ("Launcher.Launch.1"): starts standard programs and ActiveX servers.
#pragma once
#include "com/ComObject.h"
#include "Guids.h"

#include <windows.h>
#include <oaidl.h>

// The dual interface of Launch: IUnknown, IDispatch, then its one operation. The type library
// declares no members, so the operation is reachable in-process only.
struct ILaunch : public IDispatch {
    // Starts one instance of a standard program. The three VARIANTs are optional: VT_ERROR
    // with DISP_E_PARAMNOTFOUND counts as omitted.
    virtual HRESULT STDMETHODCALLTYPE StartApplication(BSTR strPath, VARIANT strCmdLineArgs, VARIANT lngShowAttrib,
                                                       VARIANT strWorkDir, DWORD* lngProcessId) = 0;
};

class LaunchObject : public DualObject<ILaunch, &kIidILaunch> {
public:
    explicit LaunchObject(ComServer&) {}

    HRESULT STDMETHODCALLTYPE StartApplication(BSTR strPath, VARIANT strCmdLineArgs, VARIANT lngShowAttrib,
                                               VARIANT strWorkDir, DWORD* lngProcessId) override;
};
