#include "config/ServiceSettings.h"

#include "base/RegistryKey.h"

const ServiceSettingInfo& SettingInfo(ServiceSetting setting) {
    for (const auto& info : kServiceSettings)
        if (info.setting == setting) return info;
    return kServiceSettings[0];  // unreachable: every enumerator has a row
}

bool IsSettingOn(const ServiceKeys& keys, ServiceSetting setting) {
    const ServiceSettingInfo& info = SettingInfo(setting);
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_READ) != ERROR_SUCCESS)
        return info.onUnlessZero;
    // A value that is not a REG_DWORD of 4 bytes counts as missing.
    DWORD value = 0;
    const bool read = ReadDword(parameters.get(), info.valueName, value) == ValueRead::Read;
    if (info.onUnlessZero) return !(read && value == 0);
    return read && value == 1;
}

void PrepareServiceKeys(const ServiceKeys& keys) {
    RegistryKey parameters;
    if (parameters.Create(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        for (const auto& setting : kServiceSettings) {
            DWORD value = 0;
            DWORD size = sizeof value;
            if (RegQueryValueExA(parameters.get(), setting.valueName, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
                (void)SetDwordValue(parameters.get(), setting.valueName, setting.defaultValue);
        }
    }
    RegistryKey modules;
    (void)modules.Create(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_ALL_ACCESS);
}
