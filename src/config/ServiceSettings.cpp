#include "config/ServiceSettings.h"

#include "config/RegistryKey.h"
#include "host/ServiceHost.h"

const ServiceSettingInfo& SettingInfo(ServiceSetting setting) {
    for (const auto& info : kServiceSettings)
        if (info.setting == setting) return info;
    return kServiceSettings[0];  // unreachable: every enumerator has a row
}

bool IsSettingOn(ServiceSetting setting) {
    const ServiceSettingInfo& info = SettingInfo(setting);
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, Host().parametersKeyPath.c_str(), KEY_READ) != ERROR_SUCCESS)
        return info.onUnlessZero;
    DWORD value = info.onUnlessZero ? 1 : 0;
    DWORD size = sizeof value;
    LONG read = RegQueryValueExA(parameters.get(), info.valueName, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(&value), &size);
    if (info.onUnlessZero) return !(read == ERROR_SUCCESS && value == 0);
    return read == ERROR_SUCCESS && value == 1;
}
