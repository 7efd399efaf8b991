#include "base/ModulePath.h"

#include <vector>

namespace {

// GetModuleFileName truncates silently when the buffer is too small: a result that fills
// the buffer is tried again with a larger one.
template <class Char, class Getter>
std::basic_string<Char> ReadModulePath(HMODULE module, Getter getter) {
    std::vector<Char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = getter(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::basic_string<Char>(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string ModuleFileName(HMODULE module) { return ReadModulePath<char>(module, &GetModuleFileNameA); }

std::wstring ModuleFileNameWide(HMODULE module) { return ReadModulePath<wchar_t>(module, &GetModuleFileNameW); }
