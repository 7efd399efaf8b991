#include "config/ServiceSettings.h"

#include "base/EventLog.h"
#include "base/RegistryKey.h"
#include "config/SupervisionSettings.h"

#include <string>
#include <vector>

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
        // Only a value that is not there gets its default: the query asks for no data, so a
        // value of any type or size counts as present.
        for (const auto& setting : kServiceSettings)
            if (RegQueryValueExA(parameters.get(), setting.valueName, nullptr, nullptr, nullptr, nullptr) ==
                ERROR_FILE_NOT_FOUND)
                (void)SetDwordValue(parameters.get(), setting.valueName, setting.defaultValue);
    }
    RegistryKey modules;
    (void)modules.Create(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_ALL_ACCESS);
}

void ReportMalformedSettings(const ServiceKeys& keys) {
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_READ) != ERROR_SUCCESS) return;
    // Each value with what its reader does when it is malformed, which counts as missing.
    struct CheckedValue {
        const char* name;
        const char* treatedAs;
    };
    std::vector<CheckedValue> checked;
    for (const auto& setting : kServiceSettings)
        checked.push_back({setting.valueName, setting.onUnlessZero ? "1 (on)" : "0 (off)"});
    checked.push_back({kGracefulStopTimeoutValue, "0 (programs are terminated at once)"});
    checked.push_back({kTerminateProcessTreeValue, "0 (off)"});
    for (const CheckedValue& value : checked) {
        DWORD unused = 0;
        if (ReadDword(parameters.get(), value.name, unused) == ValueRead::WrongType)
            LogEventText(std::string("Setting \"") + value.name +
                         "\" is not a REG_DWORD of 4 bytes; the service treats it as " + value.treatedAs + ".");
    }
}
