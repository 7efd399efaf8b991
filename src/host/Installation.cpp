#include "host/Installation.h"

#include "config/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "host/ServiceHost.h"

#include <vector>

namespace {

std::string ModulePath(HMODULE module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

LONG SetText(HKEY key, const char* name, const std::string& text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG SetDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

}  // namespace

std::string ExecutablePath() { return ModulePath(nullptr); }

void PrepareRegistry() {
    ServiceHost& host = Host();
    std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + host.serviceName + "\\Parameters";
    {
        RegistryKey parameters;
        if (parameters.Create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
            for (const auto& setting : kServiceSettings) {
                // A value that reads into 4 bytes is left alone, whatever its type.
                DWORD value = 0;
                DWORD size = sizeof value;
                if (RegQueryValueExA(parameters.get(), setting.valueName, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
                    (void)SetDword(parameters.get(), setting.valueName, setting.defaultValue);
            }
        }
    }
    host.parametersKeyPath = path;

    path += "\\Modules";
    {
        RegistryKey modules;
        (void)modules.Create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS);
    }
    host.modulesKeyPath = path;

    RegistryKey source;
    std::string sourcePath = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + host.serviceName;
    if (source.Create(HKEY_LOCAL_MACHINE, sourcePath.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        (void)SetText(source.get(), "EventMessageFile", ExecutablePath());
        (void)SetDword(source.get(), "TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                                           EVENTLOG_INFORMATION_TYPE);
    }
}
