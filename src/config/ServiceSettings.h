// The five service-wide flags stored in the Parameters key, and their reading rules.
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>

enum class ServiceSetting { EnableTrayIcon, RelaunchOnContinue, EnableLaunch, TerminateOnPause, TerminateOnStop };

struct ServiceSettingInfo {
    ServiceSetting setting;
    const char* valueName;
    DWORD defaultValue;
    // true: on unless present and 0; false: on only when present and exactly 1.
    bool onUnlessZero;
};

// In the order in which defaults are written at each run.
inline constexpr ServiceSettingInfo kServiceSettings[] = {
    {ServiceSetting::EnableTrayIcon, "EnableTrayIcon", 1, true},
    {ServiceSetting::RelaunchOnContinue, "RelaunchOnContinue", 0, false},
    {ServiceSetting::EnableLaunch, "EnableLaunch", 1, true},
    {ServiceSetting::TerminateOnPause, "TerminateOnPause", 0, false},
    {ServiceSetting::TerminateOnStop, "TerminateOnStop", 0, false},
};

const ServiceSettingInfo& SettingInfo(ServiceSetting setting);

// Opens the Parameters key, reads the flag and applies its rule; a value that is not a REG_DWORD
// of 4 bytes counts as missing. Nothing is cached: every call reads the registry as it is now.
bool IsSettingOn(const ServiceKeys& keys, ServiceSetting setting);

// Creates the Parameters key with every missing setting at its default (a value that reads
// into 4 bytes is left alone, whatever its type) and the Modules key. Reports nothing.
void PrepareServiceKeys(const ServiceKeys& keys);
