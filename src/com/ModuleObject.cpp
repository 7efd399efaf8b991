#include "com/ModuleObject.h"

HRESULT STDMETHODCALLTYPE ModuleObject::Reserved(BSTR, short* flag) {
    if (!flag) return E_POINTER;
    *flag = 1;
    return S_OK;
}
