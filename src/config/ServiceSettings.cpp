#include "config/ServiceSettings.h"

#include "base/EventLog.h"
#include "base/RegistryKey.h"

#include <string>

const ServiceSettingInfo& SettingInfo(ServiceSetting setting) {
    for (const auto& info : kServiceSettings)
        if (info.setting == setting) return info;
    return kServiceSettings[0];  // unreachable: every enumerator has a row
}

DWORD SettingValue(const ServiceKeys& keys, ServiceSetting setting) {
    const ServiceSettingInfo& info = SettingInfo(setting);
    RegistryKey parameters;
    DWORD value = 0;
    const bool read = parameters.Open(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_READ) == ERROR_SUCCESS &&
                      ReadDword(parameters.get(), info.valueName, value) == ValueRead::Read;
    switch (info.rule) {
    case SettingRule::OnUnlessZero: return read && value == 0 ? 0 : 1;
    case SettingRule::OnOnlyIfOne: return read && value == 1 ? 1 : 0;
    case SettingRule::Number: return read ? value : info.defaultValue;
    }
    return info.defaultValue;
}

bool IsSettingOn(const ServiceKeys& keys, ServiceSetting setting) { return SettingValue(keys, setting) != 0; }

void PrepareServiceKeys(const ServiceKeys& keys) {
    RegistryKey parameters;
    if (parameters.Create(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        // Only a value that is not there gets its default: the query asks for no data, so a
        // value of any type or size counts as present.
        for (const auto& setting : kServiceSettings)
            if (setting.writtenAtRun && RegQueryValueExA(parameters.get(), setting.valueName, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_FILE_NOT_FOUND)
                (void)SetDwordValue(parameters.get(), setting.valueName, setting.defaultValue);
    }
    RegistryKey modules;
    (void)modules.Create(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_ALL_ACCESS);
}

void ReportMalformedSettings(const ServiceKeys& keys) {
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_READ) != ERROR_SUCCESS) return;
    for (const auto& setting : kServiceSettings) {
        DWORD unused = 0;
        if (ReadDword(parameters.get(), setting.valueName, unused) == ValueRead::WrongType)
            LogEventText(std::string("Setting \"") + setting.valueName +
                         "\" is not a REG_DWORD of 4 bytes; the service treats it as " + setting.whenMalformed + ".");
    }
}
