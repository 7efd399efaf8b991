// Paths of loaded modules, read in full whatever their length.
#pragma once
#include <windows.h>
#include <string>

// The full path of a module's file (null: the executable); empty on failure, with the last
// error set.
std::string ModuleFileName(HMODULE module);
std::wstring ModuleFileNameWide(HMODULE module);

// The executable's full path.
inline std::string ExecutablePath() { return ModuleFileName(nullptr); }
