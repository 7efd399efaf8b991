// A system DLL that only some runs need, loaded at its first use rather than with the program,
// so that a service that never shows an icon or a file dialog does not carry the DLL (and what
// it loads in turn) in its working set.
#pragma once
#include "base/Owners.h"

#include <windows.h>

#include <string>

// The DLL of the system directory, loaded for as long as the owner holds it; null when it is
// missing.
inline ModuleHandle LoadSystemLibrary(const char* dll) {
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) return ModuleHandle();
    return ModuleHandle(LoadLibraryA((std::string(directory) + "\\" + dll).c_str()));
}

// The function name of a loaded module; null when it has none.
template <typename Function>
Function ModuleFunction(HMODULE module, const char* name) {
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// The function name of the DLL in the system directory; null when either is missing. The DLL
// stays loaded until the process ends: keep the result (a function-local static will do).
template <typename Function>
Function SystemFunction(const char* dll, const char* name) {
    return ModuleFunction<Function>(LoadSystemLibrary(dll).release(), name);
}
