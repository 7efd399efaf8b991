#include "cli/Configuration.h"

#include "base/Conversions.h"
#include "base/RegistryKey.h"
#include "cli/Console.h"
#include "config/Application.h"
#include "config/ServiceSettings.h"

#include <cstdint>
#include <limits>

namespace {

const ApplicationValue* ApplicationRow(const std::string& name) {
    for (const ApplicationValue& value : ApplicationValues())
        if (name == value.name) return &value;
    return nullptr;
}

const ServiceSettingInfo* SettingRow(const std::string& name) {
    for (const ServiceSettingInfo& info : kServiceSettings)
        if (name == info.valueName) return &info;
    return nullptr;
}

// A registry value of one row: a text (REG_SZ or REG_EXPAND_SZ) or a REG_DWORD.
bool ReadValue(HKEY key, const char* name, bool isNumber, Json& value) {
    if (isNumber) {
        DWORD number = 0;
        if (ReadDword(key, name, number) != ValueRead::Read) return false;
        value = number;
        return true;
    }
    std::string text;
    if (ReadText(key, name, text) != ValueRead::Read) return false;
    value = ToUtf8(ToWide(text));
    return true;
}

// Values of the key that are not in taken, named as place.Name.
void NameOthers(HKEY key, const Json& taken, const std::string& place, std::vector<std::string>& unknown) {
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD length = sizeof name;
        if (RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string text(name, length);
        if (!taken.contains(ToUtf8(ToWide(text)))) unknown.push_back(place + "." + ToUtf8(ToWide(text)));
    }
}

constexpr long long kLowestNumber = std::numeric_limits<LONG>::min();
constexpr long long kHighestNumber = std::numeric_limits<DWORD>::max();

// Checks a number against [lowest, highest]; the registry holds a negative one as its bits.
bool CheckNumber(const Json& value, long long lowest, long long highest, const std::string& place, Findings& findings) {
    if (!value.is_number_integer()) {
        findings.problems.push_back({place, "must be a whole number"});
        return false;
    }
    const long long number = value.is_number_unsigned() && value.get<std::uint64_t>() > kHighestNumber
                                 ? kHighestNumber + 1
                                 : value.get<long long>();
    if (number < lowest || number > highest) {
        findings.problems.push_back(
            {place, "must be from " + std::to_string(lowest) + " to " + std::to_string(highest)});
        return false;
    }
    return true;
}

const char* ProblemText(ApplicationProblem problem) {
    switch (problem) {
    case ApplicationProblem::NoName: return "a name is needed";
    case ApplicationProblem::ReservedName: return "this name is reserved";
    case ApplicationProblem::NoPathOrProgId: return "a program needs ExePath (or ProgId for an ActiveX application)";
    case ApplicationProblem::NoInstances: return "must be at least 1";
    case ApplicationProblem::ManyInstances: return "more than 10 instances";
    case ApplicationProblem::NoMethod: return "an ActiveX application needs a method to call";
    case ApplicationProblem::UnregisteredProgId: return "this ProgID is not registered";
    case ApplicationProblem::UnopenablePath: return "the program cannot be opened";
    }
    return "is not valid";
}

}  // namespace

bool IsApplicationValue(const std::string& name, bool* isNumber) {
    const ApplicationValue* row = ApplicationRow(name);
    if (row && isNumber) *isNumber = row->type == REG_DWORD;
    return row != nullptr;
}

bool IsSettingValue(const std::string& name) { return SettingRow(name) != nullptr; }

Json ReadApplicationValues(HKEY key, const std::string& place, std::vector<std::string>& unknown) {
    Json values = Json::object();
    for (const ApplicationValue& row : ApplicationValues()) {
        Json value;
        if (ReadValue(key, row.name, row.type == REG_DWORD, value)) values[row.name] = value;
    }
    NameOthers(key, values, place, unknown);
    return values;
}

Json ReadSettingValues(HKEY key, const std::string& place, std::vector<std::string>& unknown) {
    Json values = Json::object();
    for (const ServiceSettingInfo& row : kServiceSettings) {
        Json value;
        if (ReadValue(key, row.valueName, true, value)) values[row.valueName] = value;
    }
    NameOthers(key, values, place, unknown);
    return values;
}

Json ReadConfiguration(const ServiceKeys& keys, std::vector<std::string>& unknown) {
    Json configuration = {{"settings", Json::object()}, {"applications", Json::object()}};
    RegistryKey parameters;
    if (parameters.Open(HKEY_LOCAL_MACHINE, keys.parameters.c_str(), KEY_READ) == ERROR_SUCCESS)
        configuration["settings"] = ReadSettingValues(parameters.get(), "settings", unknown);
    RegistryKey modules;
    if (modules.Open(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_READ) != ERROR_SUCCESS) return configuration;
    for (const std::string& name : SubkeyNames(modules.get())) {
        RegistryKey application;
        if (application.Open(modules.get(), name.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
        const std::string shown = ToUtf8(ToWide(name));
        configuration["applications"][shown] = ReadApplicationValues(application.get(), "applications." + shown, unknown);
    }
    return configuration;
}

void CheckApplicationValues(const std::string& name, const Json& values, const std::string& place, bool strict,
                            Findings& findings) {
    if (!values.is_object()) {
        findings.problems.push_back({place, "must be an object of values"});
        return;
    }
    const std::size_t before = findings.problems.size();
    const std::wstring wideName = FromUtf8(name);
    if (!FitsAnsi(wideName))
        findings.problems.push_back({place, "the name has characters that the ANSI code page cannot hold"});
    // The name is a subkey's: a backslash would make a key below another.
    if (wideName.find(L'\\') != std::wstring::npos) findings.problems.push_back({place, "a name cannot hold \"\\\""});
    Application record;
    record.name = wideName;
    for (const ApplicationValue& row : ApplicationValues())
        if (row.number) record.*row.number = static_cast<LONG>(row.fallback);
    std::vector<std::string> refused;  // values already refused, which the model's rules skip
    for (const auto& [valueName, value] : values.items()) {
        const std::string at = place + "." + valueName;
        const ApplicationValue* row = ApplicationRow(valueName);
        if (!row) {
            findings.problems.push_back({at, "is not a value of an application"});
            continue;
        }
        if (row->type == REG_DWORD) {
            const long long lowest = row->lowest == std::numeric_limits<LONG>::min() ? kLowestNumber : row->lowest;
            if (!CheckNumber(value, lowest, kHighestNumber, at, findings)) {
                refused.push_back(valueName);
                continue;
            }
            record.*row->number = static_cast<LONG>(static_cast<DWORD>(value.get<long long>()));
            continue;
        }
        if (!value.is_string()) {
            findings.problems.push_back({at, "must be a text"});
            refused.push_back(valueName);
            continue;
        }
        const std::wstring text = FromUtf8(value.get<std::string>());
        if (!FitsAnsi(text)) {
            findings.problems.push_back({at, "has characters that the ANSI code page cannot hold"});
            refused.push_back(valueName);
        } else if (ToAnsi(text).size() > row->maxText) {
            findings.problems.push_back({at, "is longer than " + std::to_string(row->maxText) + " characters"});
            refused.push_back(valueName);
        } else if (!(row->use & ApplicationValue::kKeyName)) {
            record.*row->text = text;
        }
    }
    if (findings.problems.size() != before) return;  // the model's rules judge a record that can be stored
    for (const ApplicationFinding& finding : CheckApplication(record)) {
        Finding found{place + "." + finding.field, ProblemText(finding.problem)};
        (finding.isQuestion && !strict ? findings.warnings : findings.problems).push_back(found);
    }
}

void CheckSettingValues(const Json& values, const std::string& place, Findings& findings) {
    if (!values.is_object()) {
        findings.problems.push_back({place, "must be an object of values"});
        return;
    }
    for (const auto& [name, value] : values.items()) {
        const ServiceSettingInfo* row = SettingRow(name);
        if (!row)
            findings.problems.push_back({place + "." + name, "is not a service-wide setting"});
        else
            CheckNumber(value, 0, row->rule == SettingRule::Number ? kHighestNumber : 1, place + "." + name, findings);
    }
}

Json ParseData(const std::string& data, bool isNumber) {
    if (!isNumber) return data;
    const bool negative = !data.empty() && data[0] == '-';
    const std::string digits = negative ? data.substr(1) : data;
    const bool hex = digits.size() > 2 && (digits.compare(0, 2, "0x") == 0 || digits.compare(0, 2, "0X") == 0);
    if (digits.empty() || digits.size() > 12) return nullptr;
    for (char c : hex ? digits.substr(2) : digits)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return nullptr;
    const long long number = std::stoll(digits, nullptr, hex ? 16 : 10);
    return negative ? -number : number;
}

std::string Shown(const Json& value) {
    if (value.is_null()) return "(none)";
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<long long>());
    return value.dump();
}

LONG UpdateValues(HKEY key, const Json& current, const Json& wanted, const std::string& label, bool write,
                  std::vector<std::string>& changes) {
    // Every name of either side, those of the registry first.
    std::vector<std::string> names;
    for (const auto& [name, value] : current.items()) names.push_back(name);
    for (const auto& [name, value] : wanted.items())
        if (!current.contains(name)) names.push_back(name);
    for (const std::string& name : names) {
        const Json before = current.contains(name) ? current[name] : Json();
        const Json after = wanted.contains(name) ? wanted[name] : Json();
        if (before == after) continue;
        changes.push_back("~ " + label + "." + name + ": " + Shown(before) + " -> " + Shown(after));
        if (!write) continue;
        const std::string ansiName = ToAnsi(FromUtf8(name));
        LONG result = ERROR_SUCCESS;
        if (after.is_null())
            result = RegDeleteValueA(key, ansiName.c_str());
        else if (after.is_string())
            result = SetTextValue(key, ansiName.c_str(), ToAnsi(FromUtf8(after.get<std::string>())));
        else
            result = SetDwordValue(key, ansiName.c_str(), static_cast<DWORD>(after.get<long long>()));
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}
