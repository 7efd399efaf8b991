// The service-wide settings stored in the Parameters key, in one table with their reading rules:
// the five flags that every run writes with their defaults, and the supervision settings, which
// nothing writes (without them the service behaves as it always has). Every reader goes through
// this table; nothing is cached: each call reads the registry as it is now.
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>

enum class ServiceSetting {
    EnableTrayIcon,
    RelaunchOnContinue,
    EnableLaunch,
    TerminateOnPause,
    TerminateOnStop,
    GracefulStopTimeout,   // milliseconds; above 0, programs are asked to end before termination
    TerminateProcessTree,  // 1: programs run in the service's job and end with their processes
    PublishStatus,         // 0: the live status is not published (for measuring its cost)
};

// How a setting's REG_DWORD is read. A value that is not a REG_DWORD of 4 bytes counts as
// missing, and a missing value reads as the setting's default.
enum class SettingRule {
    OnUnlessZero,  // a flag that is on unless present and 0
    OnOnlyIfOne,   // a flag that is on only when present and exactly 1
    Number,        // a number taken as it stands
};

struct ServiceSettingInfo {
    ServiceSetting setting;
    const char* valueName;
    DWORD defaultValue;
    SettingRule rule;
    bool writtenAtRun;  // every run writes the default of a missing value
    // What the service does with a malformed value, for the report of it.
    const char* whenMalformed;
};

// Those written at each run come first, in the order in which their defaults are written.
inline constexpr ServiceSettingInfo kServiceSettings[] = {
    {ServiceSetting::EnableTrayIcon, "EnableTrayIcon", 1, SettingRule::OnUnlessZero, true, "1 (on)"},
    {ServiceSetting::RelaunchOnContinue, "RelaunchOnContinue", 0, SettingRule::OnOnlyIfOne, true, "0 (off)"},
    {ServiceSetting::EnableLaunch, "EnableLaunch", 1, SettingRule::OnUnlessZero, true, "1 (on)"},
    {ServiceSetting::TerminateOnPause, "TerminateOnPause", 0, SettingRule::OnOnlyIfOne, true, "0 (off)"},
    {ServiceSetting::TerminateOnStop, "TerminateOnStop", 0, SettingRule::OnOnlyIfOne, true, "0 (off)"},
    {ServiceSetting::GracefulStopTimeout, "GracefulStopTimeout", 0, SettingRule::Number, false,
     "0 (programs are terminated at once)"},
    {ServiceSetting::TerminateProcessTree, "TerminateProcessTree", 0, SettingRule::OnOnlyIfOne, false, "0 (off)"},
    {ServiceSetting::PublishStatus, "PublishStatus", 1, SettingRule::OnUnlessZero, false, "1 (published)"},
};

// The names of the supervision settings, for those who write them.
inline constexpr const char* kGracefulStopTimeoutValue = kServiceSettings[5].valueName;
inline constexpr const char* kTerminateProcessTreeValue = kServiceSettings[6].valueName;

const ServiceSettingInfo& SettingInfo(ServiceSetting setting);

// The setting as the service reads it: a flag is 1 or 0 by its rule, a number its value.
DWORD SettingValue(const ServiceKeys& keys, ServiceSetting setting);
// A flag by its rule (a number: whether it is above 0).
bool IsSettingOn(const ServiceKeys& keys, ServiceSetting setting);
// GracefulStopTimeout in milliseconds; 0 (programs are terminated at once) when absent.
inline DWORD GracefulStopTimeoutMs(const ServiceKeys& keys) {
    return SettingValue(keys, ServiceSetting::GracefulStopTimeout);
}

// Creates the Parameters key with every missing setting that a run writes at its default, and
// the Modules key. A value that is present is left alone whatever its type or size: nothing an
// administrator wrote is lost. Reports nothing.
void PrepareServiceKeys(const ServiceKeys& keys);

// Reports to the event log each setting of the table that is present but not a REG_DWORD of 4
// bytes, naming it and what the service does instead. A missing value is not reported. The host
// calls it once per service start.
void ReportMalformedSettings(const ServiceKeys& keys);
