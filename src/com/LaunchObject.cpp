#include "com/LaunchObject.h"

#include "launch/StartApplication.h"

HRESULT STDMETHODCALLTYPE LaunchObject::StartApplication(BSTR strPath, VARIANT strCmdLineArgs,
                                                         VARIANT lngShowAttrib, VARIANT strWorkDir,
                                                         DWORD* lngProcessId) {
    return ::StartApplication(strPath, &strCmdLineArgs, &lngShowAttrib, &strWorkDir, lngProcessId);
}
