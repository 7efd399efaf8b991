// A function of a system DLL that only some runs need, loaded at its first use rather than with
// the program, so that a service that never shows an icon or a file dialog does not carry the
// DLL (and what it loads in turn) in its working set.
#pragma once
#include <windows.h>

#include <string>

// The function name of the DLL in the system directory; null when either is missing. The DLL
// stays loaded until the process ends: keep the result (a function-local static will do).
template <typename Function>
Function SystemFunction(const char* dll, const char* name) {
    char directory[MAX_PATH];
    const UINT length = GetSystemDirectoryA(directory, sizeof directory);
    if (length == 0 || length >= sizeof directory) return nullptr;
    const HMODULE module = LoadLibraryA((std::string(directory) + "\\" + dll).c_str());
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
