#include "config/ServiceKeys.h"

#include "base/RegistryKey.h"

ServiceKeys ServiceKeys::ForService(const std::string& serviceName) {
    ServiceKeys keys;
    keys.parameters = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName + "\\Parameters";
    keys.modules = keys.parameters + "\\Modules";
    keys.status = "SYSTEM\\CurrentControlSet\\Services\\" + serviceName + "\\Status";
    return keys;
}

DWORD CountApplications(const ServiceKeys& keys) {
    RegistryKey modules;
    if (modules.Open(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_READ) != ERROR_SUCCESS) return 0;
    DWORD subkeys = 0;
    if (RegQueryInfoKeyA(modules.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;
    return subkeys;
}

bool GetApplicationName(HKEY modulesKey, DWORD index, std::string& name) {
    if (!modulesKey) return false;
    char buffer[260];
    DWORD length = sizeof buffer;
    if (RegEnumKeyExA(modulesKey, index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name.assign(buffer, length);
    return true;
}
