#include "com/ModuleObject.h"

HRESULT STDMETHODCALLTYPE ModuleObject::Reserved(BSTR, short* flag) {
    if (!flag) return E_POINTER;
    *flag = 1;
    return S_OK;
}

HRESULT ModuleObject::Get(std::wstring Application::*field, BSTR* value) const {
    if (!value) return E_POINTER;
    const std::wstring& text = catalog_.Record().*field;
    *value = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT ModuleObject::Put(std::wstring Application::*field, BSTR value) {
    if (!value) return E_POINTER;
    catalog_.Edit().*field = value;
    return S_OK;
}

HRESULT ModuleObject::Get(LONG Application::*field, LONG* value) const {
    if (!value) return E_POINTER;
    *value = catalog_.Record().*field;
    return S_OK;
}

HRESULT ModuleObject::Put(LONG Application::*field, LONG value) {
    catalog_.Edit().*field = value;
    return S_OK;
}
