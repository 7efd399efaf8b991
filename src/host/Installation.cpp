#include "host/Installation.h"

#include "config/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "host/ServiceHost.h"

#include <vector>

std::string ModuleFileName(HMODULE module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutablePath() { return ModuleFileName(nullptr); }

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
                    (void)SetDwordValue(parameters.get(), setting.valueName, setting.defaultValue);
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
        (void)SetTextValue(source.get(), "EventMessageFile", ExecutablePath());
        (void)SetDwordValue(source.get(), "TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                                           EVENTLOG_INFORMATION_TYPE);
    }
}
