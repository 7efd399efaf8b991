#include "config/LaunchObject.h"

#include "launch/ActiveXServer.h"

HRESULT STDMETHODCALLTYPE LaunchObject::StartApplication(BSTR strPath, VARIANT strCmdLineArgs,
                                                         VARIANT lngShowAttrib, VARIANT strWorkDir,
                                                         DWORD* lngProcessId) {
    // Standard programs are started by the launch engine's StartApplication, which joins here
    // when it lands.
    return E_NOTIMPL;
}

HRESULT LaunchObject::StartActiveXServer(BSTR progId, IDispatch** server) {
    return ::StartActiveXServer(progId, server);
}
