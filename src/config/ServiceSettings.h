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

// Creates the Parameters key with every missing setting at its default and the Modules key. A
// value that is present is left alone whatever its type or size: nothing an administrator wrote
// is lost. Reports nothing.
void PrepareServiceKeys(const ServiceKeys& keys);

// Reports to the event log each service-wide value of the Parameters key (the five flags and
// the supervision values GracefulStopTimeout and TerminateProcessTree) that is present but not a
// REG_DWORD of 4 bytes, naming it and what the service does instead. A missing value is not
// reported. The host calls it once per service start.
void ReportMalformedSettings(const ServiceKeys& keys);
