#include "config/Application.h"

#include "base/Conversions.h"
#include "base/EventLog.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"

#include <oleauto.h>
#include <algorithm>
#include <cwctype>
#include <limits>

namespace {

using Value = ApplicationValue;
constexpr LONG kAny = std::numeric_limits<LONG>::min();
constexpr unsigned kProgram = Value::kWritten | Value::kReported;
constexpr unsigned kMethod = Value::kWritten | Value::kActiveXOnly | Value::kReported;

constexpr Value Text(const char* name, std::wstring Application::*member, unsigned use,
                     std::wstring Application::*typeOf = nullptr) {
    return {name, REG_SZ, member, nullptr, 0, kAny, kMaxValueText, use, typeOf};
}
constexpr Value Number(const char* name, LONG Application::*member, unsigned use, DWORD fallback = 0,
                       LONG lowest = kAny) {
    return {name, REG_DWORD, nullptr, member, fallback, lowest, 0, use, nullptr};
}

// The order is the order of writing: the subkey of a new application lists its values so.
constexpr Value kValues[] = {
    Text("DispName", &Application::name, Value::kWritten | Value::kKeyName),
    Text("ExePath", &Application::exePath, kProgram),
    Text("StartDir", &Application::startDir, kProgram),
    Number("Attrib", &Application::attrib, kProgram, 0, 0),
    Number("Instances", &Application::instances, kProgram, 0, 1),
    Text("ProgId", &Application::progId, kProgram),
    Text("CmdLineArgs", &Application::cmdLineArgs, kProgram),
    Text("MethodName", &Application::methodName, kMethod),
    // The launch does not use the result type, so it is not reported either.
    Text("MethodReturnType", &Application::methodReturnType, Value::kWritten | Value::kActiveXOnly,
         &Application::methodName),
    Text("ParamOne", &Application::paramOne, kMethod),
    Text("ParamOneType", &Application::paramOneType, kMethod, &Application::paramOne),
    Text("ParamTwo", &Application::paramTwo, kMethod),
    Text("ParamTwoType", &Application::paramTwoType, kMethod, &Application::paramTwo),
    Text("ParamThree", &Application::paramThree, kMethod),
    Text("ParamThreeType", &Application::paramThreeType, kMethod, &Application::paramThree),
    Text("ParamFour", &Application::paramFour, kMethod),
    Text("ParamFourType", &Application::paramFourType, kMethod, &Application::paramFour),
    // Set in the registry only; the supervisor reads them.
    Number(kRestartOnExitValue, &Application::restartOnExit, 0),
    Number(kRestartDelayValue, &Application::restartDelay, 0, kDefaultRestartDelayMs),
    Number(kRestartLimitValue, &Application::restartLimit, Value::kReported),
    Number(kRestartWindowValue, &Application::restartWindow, Value::kReported),
    Number(kStopServiceOnGiveUpValue, &Application::stopServiceOnGiveUp, Value::kReported),
    Text(kSuccessExitCodesValue, &Application::successExitCodes, Value::kReported),
    // Set in the registry only; the launch of a standard program reads them.
    Text(kStdoutPathValue, &Application::stdoutPath, Value::kReported),
    Text(kStderrPathValue, &Application::stderrPath, Value::kReported),
    Number(kLogRotateBytesValue, &Application::logRotateBytes, Value::kReported),
    Number(kLogRotateSecondsValue, &Application::logRotateSeconds, Value::kReported),
    Number(kLogRotateKeepValue, &Application::logRotateKeep, Value::kReported, kDefaultLogRotateKeep),
    Number(kLogTimestampsValue, &Application::logTimestamps, Value::kReported),
};

constexpr char kUnknownName[] = "Unknown";

bool Applies(const Value& value, const Application& record) {
    return !(value.use & Value::kActiveXOnly) || record.IsActiveX();
}

std::string FaultText(const std::string& application, const Value& value, ValueRead found) {
    const std::string what = found == ValueRead::TooLong
                                 ? "is longer than " + std::to_string(kMaxValueText) + " characters"
                             : value.type == REG_DWORD ? "is not a REG_DWORD of 4 bytes"
                                                       : "is not a REG_SZ or REG_EXPAND_SZ text";
    return "Application \"" + application + "\": value \"" + value.name + "\" " + what + "; it counts as missing.";
}

// The name of the value that holds member; every member has its row.
const char* NameOf(std::wstring Application::*member) {
    for (const Value& value : kValues)
        if (value.text == member) return value.name;
    return "";
}
const char* NameOf(LONG Application::*member) {
    for (const Value& value : kValues)
        if (value.number == member) return value.name;
    return "";
}

// One value as WriteApplication stores it.
struct StoredValue {
    const Value* value;
    std::string text;
    DWORD number;
};

}  // namespace

std::span<const ApplicationValue> ApplicationValues() { return kValues; }

Application ReadApplication(const ServiceKeys& keys, const std::string& name, bool reportFaults) {
    Application record;
    record.name = ToWide(name);
    for (const Value& value : kValues)
        if (value.number) record.*value.number = static_cast<LONG>(value.fallback);
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keys.Application(name).c_str(), KEY_READ) != ERROR_SUCCESS) return record;

    std::vector<std::pair<const Value*, ValueRead>> faults;
    for (const Value& value : kValues) {
        if (value.use & Value::kKeyName) continue;
        ValueRead found;
        if (value.type == REG_DWORD) {
            DWORD number = 0;
            found = ReadDword(key.get(), value.name, number);
            if (found == ValueRead::Read) record.*value.number = static_cast<LONG>(number);
        } else {
            std::string text;
            found = ReadText(key.get(), value.name, text);
            if (found == ValueRead::Read) record.*value.text = ToWide(text);
        }
        if (found == ValueRead::WrongType || found == ValueRead::TooLong) faults.emplace_back(&value, found);
    }
    // Reported once all is read: whether a method value counts depends on the ProgID.
    if (reportFaults)
        for (const auto& [value, found] : faults)
            if ((value->use & Value::kReported) && Applies(*value, record)) LogEventText(FaultText(name, *value, found));
    return record;
}

bool WriteApplication(const ServiceKeys& keys, const Application& record, std::string& problem) {
    // Every text is checked before anything is written, so a refused record leaves the
    // registry as it was.
    std::vector<StoredValue> stored;
    for (const Value& value : kValues) {
        if (!(value.use & Value::kWritten) || !Applies(value, record)) continue;
        if (value.type == REG_DWORD) {
            stored.push_back({&value, {}, static_cast<DWORD>(std::max(record.*value.number, value.lowest))});
            continue;
        }
        std::string text = value.typeOf && (record.*value.typeOf).empty() ? std::string() : ToAnsi(record.*value.text);
        if (text.size() > value.maxText) {
            problem = std::string(value.name) + " is longer than " + std::to_string(value.maxText) + " characters";
            return false;
        }
        stored.push_back({&value, std::move(text), 0});
    }

    const std::string keyName = ToAnsi(record.name);
    RegistryKey modules;
    RegistryKey application;
    problem = "Error while working with registry";
    if (modules.Create(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        application.Create(HKEY_LOCAL_MACHINE, keys.Application(keyName.empty() ? kUnknownName : keyName).c_str(),
                           KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return false;
    for (const StoredValue& value : stored) {
        const LONG result = value.value->type == REG_SZ ? SetTextValue(application.get(), value.value->name, value.text)
                                                        : SetDwordValue(application.get(), value.value->name, value.number);
        if (result != ERROR_SUCCESS) return false;
    }
    problem.clear();
    return true;
}

std::vector<ApplicationFinding> CheckApplication(const Application& record) {
    using enum ApplicationProblem;
    std::vector<ApplicationFinding> findings;
    const auto refuse = [&](const char* field, ApplicationProblem problem) { findings.push_back({field, problem, false}); };
    const auto ask = [&](const char* field, ApplicationProblem problem) { findings.push_back({field, problem, true}); };
    const char* name = NameOf(&Application::name);
    const char* exePath = NameOf(&Application::exePath);
    const char* instances = NameOf(&Application::instances);

    if (record.name.empty()) refuse(name, NoName);
    else if (EqualsAnsi(record.name.c_str(), kNewApplicationEntry)) refuse(name, ReservedName);
    if (record.exePath.empty() && !record.IsActiveX()) refuse(exePath, NoPathOrProgId);
    // A count: none is refused, and so many that it reads as negative is unusual too.
    if (record.instances == 0) refuse(instances, NoInstances);
    else if (static_cast<DWORD>(record.instances) > kMaxUsualInstances) ask(instances, ManyInstances);
    if (record.IsActiveX()) {
        if (record.methodName.empty()) refuse(NameOf(&Application::methodName), NoMethod);
        CLSID classId{};
        if (FAILED(CLSIDFromProgID(record.progId.c_str(), &classId))) ask(NameOf(&Application::progId), UnregisteredProgId);
    } else if (!record.exePath.empty()) {
        UniqueHandle file(CreateFileA(ToAnsi(record.exePath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) ask(exePath, UnopenablePath);
    }
    std::vector<DWORD> codes;
    if (!ParseExitCodes(record.successExitCodes, codes)) refuse(NameOf(&Application::successExitCodes), BadExitCodes);
    return findings;
}

bool ParseExitCodes(const std::wstring& text, std::vector<DWORD>& codes) {
    std::vector<DWORD> parsed;
    std::size_t at = 0;
    const auto blank = [&] { while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at; };
    blank();
    if (at == text.size()) {
        codes.clear();
        return true;
    }
    for (;;) {
        blank();
        const bool hex = text.compare(at, 2, L"0x") == 0 || text.compare(at, 2, L"0X") == 0;
        if (hex) at += 2;
        const std::size_t first = at;
        unsigned long long code = 0;
        for (; at < text.size() && iswxdigit(text[at]) && (hex || iswdigit(text[at])); ++at) {
            code = code * (hex ? 16 : 10) + (iswdigit(text[at]) ? text[at] - L'0' : (towlower(text[at]) - L'a' + 10));
            if (code > 0xFFFFFFFFull) return false;
        }
        if (at == first) return false;
        parsed.push_back(static_cast<DWORD>(code));
        blank();
        if (at == text.size()) break;
        if (text[at++] != L',') return false;
    }
    codes = std::move(parsed);
    return true;
}
