#include "config/LaunchObject.h"

#include "launch/ActiveXServer.h"
#include "launch/StartApplication.h"

HRESULT STDMETHODCALLTYPE LaunchObject::StartApplication(BSTR strPath, VARIANT strCmdLineArgs,
                                                         VARIANT lngShowAttrib, VARIANT strWorkDir,
                                                         DWORD* lngProcessId) {
    return ::StartApplication(strPath, &strCmdLineArgs, &lngShowAttrib, &strWorkDir, lngProcessId);
}

HRESULT LaunchObject::StartActiveXServer(BSTR progId, IDispatch** server) {
    return ::StartActiveXServer(progId, server);
}
