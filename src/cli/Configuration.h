// The configuration as the console companion sees it: the values stored in the Parameters key
// and in each application's key, as JSON named exactly as in the registry (texts as strings,
// numbers as numbers). What a value may hold comes from the model's tables (Application.h,
// ServiceSettings.h) and its rules from CheckApplication; this file only moves values between
// JSON and the registry.
#pragma once
#include "config/ServiceKeys.h"

#include <nlohmann/json.hpp>
#include <windows.h>
#include <string>
#include <vector>

using Json = nlohmann::ordered_json;

// Something wrong with a configuration, at its place ("applications.Agent.Instances").
struct Finding {
    std::string place;
    std::string text;
};
struct Findings {
    std::vector<Finding> problems;  // refused
    std::vector<Finding> warnings;  // questions the dialog would ask; problems when strict
};

// The values of an application or of the settings that the tables know and that are stored with
// their type, in the tables' order. Stored values the tables do not know, or stored with another
// type, are named in unknown ("applications.Agent.Color") and left out.
Json ReadApplicationValues(HKEY key, const std::string& place, std::vector<std::string>& unknown);
Json ReadSettingValues(HKEY key, const std::string& place, std::vector<std::string>& unknown);
// {"settings": {...}, "applications": {"Name": {...}, ...}}; registry names are ANSI, JSON UTF-8.
Json ReadConfiguration(const ServiceKeys& keys, std::vector<std::string>& unknown);

// Checks the values of application name: known names, JSON types, the table's limits, texts the
// ANSI code page holds, then the model's rules. Questions are warnings unless strict.
void CheckApplicationValues(const std::string& name, const Json& values, const std::string& place, bool strict,
                            Findings& findings);
void CheckSettingValues(const Json& values, const std::string& place, Findings& findings);
// Whether name is a value of an application / a setting, and whether it holds a number.
bool IsApplicationValue(const std::string& name, bool* isNumber = nullptr);
bool IsSettingValue(const std::string& name);
// The command line's DATA for a value: a number (decimal or 0x hexadecimal) or the text itself.
// A null JSON when a number is expected and DATA is none.
Json ParseData(const std::string& data, bool isNumber);

// Makes the known values of an open key equal wanted (values missing from wanted are deleted,
// unknown values stay), adding "~ label.Value: old -> new" for each change. Writes only when
// write; the first registry error is returned and the rest is not written.
LONG UpdateValues(HKEY key, const Json& current, const Json& wanted, const std::string& label, bool write,
                  std::vector<std::string>& changes);

// A value for people: a text as it is, a number in decimal, "(none)" for none.
std::string Shown(const Json& value);
