#include "cli/Companion.h"

#include "base/Conversions.h"
#include "base/Owners.h"
#include "base/ProgramName.h"
#include "base/RegistryKey.h"
#include "cli/Configuration.h"
#include "cli/Console.h"
#include "config/Application.h"
#include "config/LiveStatus.h"
#include "config/ServiceKeys.h"
#include "config/ServiceSettings.h"

#include <CLI/CLI.hpp>
#include <windows.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace {

// A verb that cannot go on: its message for standard error and the exit code.
struct Failure {
    std::string message;
    int code = kExitFailed;
};

std::string SystemText(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string result = text ? ToUtf8(text) : "error " + std::to_string(error);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
    return result;
}

// A refusal of the system, in its words; access denied also says what to do.
[[noreturn]] void Refused(const std::string& what, LONG error) {
    if (error == ERROR_ACCESS_DENIED)
        throw Failure{what + ": access denied. Configuring the service needs an administrator: run the command from "
                             "an elevated prompt (Run as administrator)."};
    throw Failure{what + ": " + SystemText(static_cast<DWORD>(error))};
}

void Check(LONG result, const std::string& what) {
    if (result != ERROR_SUCCESS) Refused(what, result);
}

class Companion {
public:
    explicit Companion(const std::string& serviceName)
        : serviceName_(serviceName), keys_(ServiceKeys::ForService(serviceName)) {}

    // Applications by their key's name (ANSI), found whatever the letter case.
    std::string FindApplication(const std::string& name) const {
        RegistryKey modules;
        if (modules.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_READ) == ERROR_SUCCESS)
            for (const std::string& stored : SubkeyNames(modules.get()))
                if (lstrcmpiA(stored.c_str(), ToAnsi(FromUtf8(name)).c_str()) == 0) return stored;
        return {};
    }
    std::string Existing(const std::string& name) const {
        const std::string stored = FindApplication(name);
        if (stored.empty()) throw Failure{"No application is named \"" + name + "\"."};
        return stored;
    }

    void List(bool json) const {
        std::vector<std::string> unknown;
        const Json configuration = ReadConfiguration(keys_, unknown);
        Json list = Json::array();
        std::string text;
        for (const auto& [name, values] : configuration["applications"].items()) {
            const Application record = ReadApplication(keys_, ToAnsi(FromUtf8(name)));
            const std::string kind = record.IsActiveX() ? "activex" : "program";
            const std::string target = ToUtf8(record.IsActiveX() ? record.progId : record.exePath);
            list.push_back({{"name", name}, {"kind", kind}, {"instances", record.instances},
                            {record.IsActiveX() ? "ProgId" : "ExePath", target}});
            text += name + "\t" + kind + "\t" + std::to_string(record.instances) + "\t" + target + "\n";
        }
        WriteOut(json ? list.dump(2) + "\n" : text);
    }

    void Show(const std::string& name, bool json) const {
        const Json values = Stored(Existing(name));
        if (json) return WriteOut(values.dump(2) + "\n");
        std::string text;
        for (const auto& [valueName, value] : values.items()) text += valueName + " = " + Shown(value) + "\n";
        WriteOut(text);
    }

    void Add(const std::string& name, const Json& values, bool strict) const {
        if (!FindApplication(name).empty()) throw Failure{"An application named \"" + name + "\" exists already."};
        Validate(name, values, strict);
        Application record = ReadApplication(keys_, "");
        record.name = FromUtf8(name);
        for (const ApplicationValue& row : ApplicationValues()) {
            if (!values.contains(row.name)) continue;
            if (row.text) record.*row.text = FromUtf8(values[row.name].get<std::string>());
            else record.*row.number = static_cast<LONG>(static_cast<DWORD>(values[row.name].get<long long>()));
        }
        std::string problem;
        if (!WriteApplication(keys_, record, problem)) {
            // The writer checks the texts first; anything else is the registry's refusal.
            RegistryKey modules;
            const LONG result = modules.Create(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_ALL_ACCESS);
            if (result != ERROR_SUCCESS) Refused("Adding \"" + name + "\"", result);
            throw Failure{"Adding \"" + name + "\": " + problem};
        }
    }

    void Set(const std::string& name, const std::string& valueName, const std::string* data, bool strict) const {
        const std::string stored = Existing(name);
        bool isNumber = false;
        if (!IsApplicationValue(valueName, &isNumber))
            throw Failure{"\"" + valueName + "\" is not a value of an application (see corvane show " + name + ")."};
        Json values = Stored(stored);
        const Json before = values;
        if (data) {
            const Json value = ParseData(*data, isNumber);
            if (value.is_null()) throw Failure{valueName + " takes a whole number, not \"" + *data + "\"."};
            values[valueName] = value;
        } else {
            values.erase(valueName);
        }
        Validate(ToUtf8(ToWide(stored)), values, strict);
        RegistryKey key;
        Check(key.Open(HKEY_LOCAL_MACHINE, keys_.Application(stored).c_str(), KEY_ALL_ACCESS),
              "Opening \"" + name + "\"");
        std::vector<std::string> changes;
        Check(UpdateValues(key.get(), before, values, ToUtf8(ToWide(stored)), true, changes), "Writing " + valueName);
    }

    void Remove(const std::string& name) const {
        const std::string stored = Existing(name);
        RegistryKey modules;
        Check(modules.Open(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_ALL_ACCESS), "Removing \"" + name + "\"");
        Check(modules.DeleteTree(stored.c_str()), "Removing \"" + name + "\"");
    }

    void Settings(bool json) const {
        Json list = Json::object();
        std::string text;
        for (const ServiceSettingInfo& info : kServiceSettings) {
            const DWORD value = SettingValue(keys_, info.setting);
            const bool isDefault = value == info.defaultValue;
            list[info.valueName] = {{"value", value}, {"isDefault", isDefault}};
            text += std::string(info.valueName) + " = " + std::to_string(value) + (isDefault ? " (default)\n" : "\n");
        }
        WriteOut(json ? list.dump(2) + "\n" : text);
    }

    void SetSetting(const std::string& valueName, const std::string& data) const {
        if (!IsSettingValue(valueName)) throw Failure{"\"" + valueName + "\" is not a service-wide setting (see corvane settings)."};
        const Json value = ParseData(data, true);
        if (value.is_null()) throw Failure{valueName + " takes a whole number, not \"" + data + "\"."};
        Findings findings;
        CheckSettingValues(Json{{valueName, value}}, "settings", findings);
        Report(findings);
        RegistryKey parameters;
        Check(parameters.Create(HKEY_LOCAL_MACHINE, keys_.parameters.c_str(), KEY_ALL_ACCESS), "Opening the settings");
        Check(SetDwordValue(parameters.get(), valueName.c_str(), static_cast<DWORD>(value.get<long long>())),
              "Writing " + valueName);
    }

    void Export(const std::string& file) const {
        std::vector<std::string> unknown;
        const std::string text = ReadConfiguration(keys_, unknown).dump(2) + "\n";
        NameUnknown(unknown);
        if (file.empty()) return WriteOut(text);
        std::ofstream out(std::filesystem::path(FromUtf8(file)), std::ios::binary);
        out << text;
        if (!out.flush()) throw Failure{"Cannot write " + file + "."};
    }

    int Apply(const std::string& file, bool check, bool strict) const {
        std::ifstream in(std::filesystem::path(FromUtf8(file)), std::ios::binary);
        if (!in) throw Failure{"Cannot read " + file + "."};
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Json wanted = Json::parse(content, nullptr, false);
        if (wanted.is_discarded()) throw Failure{file + " is not JSON text."};
        Findings findings;
        if (!wanted.is_object()) findings.problems.push_back({"(file)", "must be an object"});
        for (const char* section : {"settings", "applications"})
            if (wanted.is_object() && !wanted.contains(section)) findings.problems.push_back({section, "is missing"});
        if (wanted.is_object())
            for (const auto& [name, value] : wanted.items()) {
                if (name == "settings") CheckSettingValues(value, name, findings);
                else if (name == "applications" && !value.is_object()) findings.problems.push_back({name, "must be an object"});
                else if (name == "applications")
                    for (const auto& [application, values] : value.items())
                        CheckApplicationValues(application, values, "applications." + application, strict, findings);
                else findings.problems.push_back({name, "is not a section of the configuration"});
            }
        Report(findings, file + ": ");

        std::vector<std::string> unknown;
        const Json current = ReadConfiguration(keys_, unknown);
        std::vector<std::string> changes;
        const bool write = !check;
        RegistryKey parameters;
        if (write) Check(parameters.Create(HKEY_LOCAL_MACHINE, keys_.parameters.c_str(), KEY_ALL_ACCESS), "Opening the settings");
        Check(UpdateValues(parameters.get(), current["settings"], wanted["settings"], "settings", write, changes),
              "Writing the settings");
        RegistryKey modules;
        if (write) Check(modules.Create(HKEY_LOCAL_MACHINE, keys_.modules.c_str(), KEY_ALL_ACCESS), "Opening the applications");
        for (const auto& [name, values] : current["applications"].items()) {
            if (wanted["applications"].contains(name)) continue;
            changes.push_back("- " + name);
            if (write) Check(modules.DeleteTree(ToAnsi(FromUtf8(name)).c_str()), "Removing \"" + name + "\"");
        }
        for (const auto& [name, values] : wanted["applications"].items()) {
            const bool known = current["applications"].contains(name);
            if (!known) changes.push_back("+ " + name);
            RegistryKey key;
            if (write) Check(key.Create(modules.get(), ToAnsi(FromUtf8(name)).c_str(), KEY_ALL_ACCESS), "Writing \"" + name + "\"");
            std::vector<std::string> valueChanges;
            Check(UpdateValues(key.get(), known ? current["applications"][name] : Json::object(), values, name, write,
                               valueChanges),
                  "Writing \"" + name + "\"");
            if (known) changes.insert(changes.end(), valueChanges.begin(), valueChanges.end());
        }
        NameUnknown(unknown);
        std::string text;
        for (const std::string& change : changes) text += change + "\n";
        WriteOut(changes.empty() ? "unchanged\n" : text);
        return check && !changes.empty() ? kExitDifferent : kExitDone;
    }

    void Control(const std::string& verb, unsigned timeoutSeconds) const;
    void Status(bool json) const;
    int PassThrough(const std::string& option) const;

private:
    Json Stored(const std::string& stored) const {
        RegistryKey key;
        Check(key.Open(HKEY_LOCAL_MACHINE, keys_.Application(stored).c_str(), KEY_READ), "Reading \"" + stored + "\"");
        std::vector<std::string> unknown;
        return ReadApplicationValues(key.get(), ToUtf8(ToWide(stored)), unknown);
    }
    void Validate(const std::string& name, const Json& values, bool strict) const {
        Findings findings;
        CheckApplicationValues(name, values, name, strict, findings);
        Report(findings);
    }
    // Warnings go to standard error; problems too, and then the verb fails.
    static void Report(const Findings& findings, const std::string& prefix = {}) {
        std::string text;
        for (const Finding& warning : findings.warnings) text += "warning: " + prefix + warning.place + ": " + warning.text + "\n";
        for (const Finding& problem : findings.problems) text += "error: " + prefix + problem.place + ": " + problem.text + "\n";
        WriteErr(text);
        if (!findings.problems.empty())
            throw Failure{std::to_string(findings.problems.size()) + " problem(s); nothing was written."};
    }
    static void NameUnknown(const std::vector<std::string>& unknown) {
        for (const std::string& place : unknown) WriteErr("note: " + place + " is not a value Corvane knows; left alone\n");
    }

    std::string serviceName_;
    ServiceKeys keys_;
};

// --- The service manager ------------------------------------------------------------------

struct ServiceStep {
    DWORD control;  // 0: start
    DWORD state;    // the state it reaches
    DWORD access;
};

DWORD CurrentState(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        return 0;
    return status.dwCurrentState;
}

void Companion::Control(const std::string& verb, unsigned timeoutSeconds) const {
    static const std::map<std::string, std::vector<ServiceStep>> kSteps = {
        {"start", {{0, SERVICE_RUNNING, SERVICE_START}}},
        {"stop", {{SERVICE_CONTROL_STOP, SERVICE_STOPPED, SERVICE_STOP}}},
        {"pause", {{SERVICE_CONTROL_PAUSE, SERVICE_PAUSED, SERVICE_PAUSE_CONTINUE}}},
        {"continue", {{SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING, SERVICE_PAUSE_CONTINUE}}},
        {"restart", {{SERVICE_CONTROL_STOP, SERVICE_STOPPED, SERVICE_STOP}, {0, SERVICE_RUNNING, SERVICE_START}}},
    };
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) Refused("Connecting to the service manager", static_cast<LONG>(GetLastError()));
    ServiceHandle service(OpenServiceA(manager.get(), serviceName_.c_str(),
                                             SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_QUERY_STATUS));
    if (!service) Refused("Opening the service " + serviceName_, static_cast<LONG>(GetLastError()));
    for (const ServiceStep& step : kSteps.at(verb)) {
        const DWORD state = CurrentState(service.get());
        // A restart of a stopped service only starts it.
        if (state != step.state) {
            SERVICE_STATUS status{};
            const BOOL done = step.control == 0 ? StartServiceA(service.get(), 0, nullptr)
                                                : ControlService(service.get(), step.control, &status);
            if (!done) Refused(verb + " " + serviceName_, static_cast<LONG>(GetLastError()));
        }
        const ULONGLONG deadline = GetTickCount64() + timeoutSeconds * 1000ull;
        while (CurrentState(service.get()) != step.state) {
            if (GetTickCount64() >= deadline)
                throw Failure{"The service " + serviceName_ + " did not reach its state within " +
                              std::to_string(timeoutSeconds) + " seconds."};
            Sleep(100);
        }
    }
    WriteOut(serviceName_ + ": " + (verb == "pause" ? "paused" : verb == "stop" ? "stopped" : "running") + "\n");
}

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continuing";
    case SERVICE_PAUSE_PENDING: return "pausing";
    case SERVICE_PAUSED: return "paused";
    }
    return "unknown";
}

// What the running service publishes; the service manager has the last word on its state, so
// that a service that stopped without removing its status lists nothing.
void Companion::Status(bool json) const {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) Refused("Connecting to the service manager", static_cast<LONG>(GetLastError()));
    ServiceHandle service(OpenServiceA(manager.get(), serviceName_.c_str(), SERVICE_QUERY_STATUS));
    if (!service) Refused("Opening the service " + serviceName_, static_cast<LONG>(GetLastError()));
    const DWORD state = CurrentState(service.get());
    const LiveStatus live = state == SERVICE_STOPPED ? LiveStatus{} : ReadLiveStatus(keys_);

    Json document = {{"service", serviceName_}, {"state", StateName(state)}};
    if (live.published) document["processId"] = live.processId, document["started"] = live.started;
    Json& applications = document["applications"] = Json::object();
    std::vector<std::vector<std::string>> rows = {
        {"APPLICATION", "#", "KIND", "STATE", "PROCESS", "STARTED", "RESTARTS", "LAST EXIT", "NEXT RESTART"}};
    for (const InstanceStatus& one : live.instances) {
        const std::string name = ToUtf8(ToWide(one.application));
        Json& application = applications[name];
        application["kind"] = one.activeX ? "activex" : "program";
        Json instance = {{"instance", one.instance}, {"state", one.state}};
        if (!one.activeX) instance["processId"] = one.processId;
        instance["started"] = one.started;
        instance["restarts"] = one.restarts;
        if (one.lastExitCode) instance["lastExitCode"] = *one.lastExitCode, instance["lastExit"] = one.lastExit;
        if (!one.nextRestart.empty()) instance["nextRestart"] = one.nextRestart;
        application["instances"].push_back(std::move(instance));
        rows.push_back({name, std::to_string(one.instance), one.activeX ? "activex" : "program", one.state,
                        one.activeX ? "-" : std::to_string(one.processId), one.started, std::to_string(one.restarts),
                        one.lastExitCode ? std::to_string(*one.lastExitCode) + " at " + one.lastExit : "-",
                        one.nextRestart.empty() ? "-" : one.nextRestart});
    }
    if (json) return WriteOut(document.dump(2) + "\n");

    std::string text = serviceName_ + ": " + StateName(state);
    if (live.published) text += " (process " + std::to_string(live.processId) + ", since " + live.started + ")";
    text += "\n";
    if (rows.size() > 1) {
        std::vector<std::size_t> widths(rows[0].size(), 0);
        for (const auto& row : rows)
            for (std::size_t column = 0; column < row.size(); ++column)
                widths[column] = std::max(widths[column], row[column].size());
        for (const auto& row : rows) {
            std::string line;
            for (std::size_t column = 0; column < row.size(); ++column)
                line += row[column] + (column + 1 < row.size() ? std::string(widths[column] - row[column].size() + 2, ' ') : "");
            text += line + "\n";
        }
    }
    WriteOut(text);
}

// --- corvane.exe's own options ------------------------------------------------------------

int Companion::PassThrough(const std::string& option) const {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::wstring exe(path, length);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"corvane.exe";
    std::wstring line = L"\"" + exe + L"\" " + FromUtf8(option);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        Refused("Running " + ToUtf8(exe), static_cast<LONG>(GetLastError()));
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    const std::string what = "corvane.exe " + option + ": ";
    if (code == 0) WriteOut(what + "done\n");
    else WriteErr(what + "failed with exit code " + std::to_string(code) + ": " + SystemText(code) + "\n");
    return static_cast<int>(code);
}

// --- The verbs ----------------------------------------------------------------------------

// The values that add's options name, for the model's check and writer.
struct AddOptions {
    std::string path, args, dir, window, progId, method, params[4];
    long long instances = 1;
};

Json AddValues(const AddOptions& options, CLI::App& add) {
    Json values = Json::object();
    const auto text = [&](const char* option, const char* value, const std::string& data) {
        if (add.count(option) > 0) values[value] = data;
    };
    text("--path", "ExePath", options.path);
    text("--args", "CmdLineArgs", options.args);
    text("--dir", "StartDir", options.dir);
    text("--progid", "ProgId", options.progId);
    text("--method", "MethodName", options.method);
    const char* params[] = {"ParamOne", "ParamTwo", "ParamThree", "ParamFour"};
    for (int index = 0; index < 4; ++index) {
        const std::string option = "--param" + std::to_string(index + 1);
        text(option.c_str(), params[index], options.params[index]);
        // A parameter is passed as the variant its text makes.
        if (add.count(option) > 0) values[std::string(params[index]) + "Type"] = "VT_VARIANT";
    }
    static const std::map<std::string, DWORD> kWindows = {
        {"hidden", SW_HIDE}, {"normal", SW_SHOWNORMAL}, {"minimized", SW_SHOWMINIMIZED}, {"maximized", SW_SHOWMAXIMIZED}};
    if (add.count("--window") > 0) values["Attrib"] = kWindows.at(options.window);
    values["Instances"] = options.instances;
    return values;
}

}  // namespace

int RunCompanion(const std::string& serviceName, const std::vector<std::string>& arguments) {
    Companion companion(serviceName);
    try {
        // corvane.exe's own options ("-Install", "/Remove", "-?").
        if (arguments.size() == 1 && arguments[0].size() > 1 && (arguments[0][0] == '/' || arguments[0][0] == '-'))
            for (const char* option : kProgramOptions)
                if (lstrcmpiA(arguments[0].c_str() + 1, option) == 0) return companion.PassThrough(arguments[0]);

        CLI::App app{"Configures and controls the " + serviceName + " service from a prompt or a script. "
                     "Exit codes: 0 done, 1 failed, 2 wrong usage, 3 apply --check found differences. "
                     "Any option of corvane.exe (-Install, -Remove, ...) runs corvane.exe with it.",
                     "corvane"};
        app.require_subcommand(1);
        app.fallthrough();
        bool strict = false;
        bool json = false;
        app.add_flag("--strict", strict, "refuse what would only be a warning (the dialog's questions)");
        std::string name, valueName, data, file;
        std::vector<std::string> settingArgs;
        bool check = false;
        unsigned timeout = 30;

        CLI::App* list = app.add_subcommand("list", "the applications: name, kind, instances, path or ProgID");
        list->add_flag("--json", json, "as JSON");
        CLI::App* show = app.add_subcommand("show", "every stored value of one application");
        show->add_option("NAME", name, "the application")->required();
        show->add_flag("--json", json, "as JSON");
        CLI::App* add = app.add_subcommand("add", "a new application: a program (--path) or an ActiveX server (--progid)");
        AddOptions options;
        add->add_option("NAME", name, "the application's name")->required();
        CLI::Option* path = add->add_option("--path", options.path, "the program (ExePath)");
        CLI::Option* progId = add->add_option("--progid", options.progId, "the ActiveX server's ProgID (ProgId)");
        path->excludes(progId);
        add->add_option("--args", options.args, "its command-line arguments (CmdLineArgs)")->needs(path);
        add->add_option("--dir", options.dir, "its start folder (StartDir)")->needs(path);
        add->add_option("--window", options.window, "how its window shows (Attrib)")
            ->check(CLI::IsMember({"hidden", "normal", "minimized", "maximized"}))
            ->needs(path);
        add->add_option("--method", options.method, "the method called on each server (MethodName)")->needs(progId);
        for (int index = 0; index < 4; ++index)
            add->add_option("--param" + std::to_string(index + 1), options.params[index], "a parameter of the method")
                ->needs(progId);
        add->add_option("--instances", options.instances, "how many are started (Instances)");
        CLI::App* set = app.add_subcommand("set", "one value of an application, by its registry name");
        set->add_option("NAME", name, "the application")->required();
        set->add_option("VALUE", valueName, "the value (ExePath, Instances, RestartOnExit, ...)")->required();
        set->add_option("DATA", data, "its new data")->required();
        CLI::App* unset = app.add_subcommand("unset", "removes one value of an application");
        unset->add_option("NAME", name, "the application")->required();
        unset->add_option("VALUE", valueName, "the value")->required();
        CLI::App* remove = app.add_subcommand("remove", "removes an application");
        remove->add_option("NAME", name, "the application")->required();
        CLI::App* settings = app.add_subcommand("settings", "the service-wide settings, or sets one (VALUE DATA)");
        settings->add_option("VALUE DATA", settingArgs, "a setting and its new data")->expected(0, 2);
        settings->add_flag("--json", json, "as JSON");
        CLI::App* exporter = app.add_subcommand("export", "the whole configuration as JSON");
        exporter->add_option("FILE", file, "the file to write (standard output without it)");
        CLI::App* apply = app.add_subcommand("apply", "makes the configuration equal to a JSON file");
        apply->add_option("FILE", file, "the file")->required();
        apply->add_flag("--check", check, "change nothing; exit code 3 when something would change");
        CLI::App* status = app.add_subcommand("status", "what the running service and each instance are doing");
        status->add_flag("--json", json, "as JSON");
        std::vector<CLI::App*> controls;
        for (const char* verb : {"start", "stop", "pause", "continue", "restart"}) {
            CLI::App* control = app.add_subcommand(verb, std::string(verb) + " the service and wait for its state");
            control->add_option("--timeout", timeout, "seconds to wait (30)");
            controls.push_back(control);
        }

        try {
            std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
            app.parse(reversed);
        } catch (const CLI::ParseError& error) {
            std::ostringstream out, err;
            const int code = app.exit(error, out, err);
            WriteOut(out.str());
            WriteErr(err.str());
            if (code == 0) return kExitDone;
            if (error.get_exit_code() != static_cast<int>(CLI::ExitCodes::Success)) {
                // The usage of the verb that was given, else the program's.
                CLI::App* used = &app;
                for (CLI::App* sub : app.get_subcommands()) used = sub;
                WriteErr(used->help("", CLI::AppFormatMode::Normal));
            }
            return kExitUsage;
        }

        if (*list) companion.List(json);
        else if (*show) companion.Show(name, json);
        else if (*add) {
            if (add->count("--path") == 0 && add->count("--progid") == 0) {
                WriteErr("add needs --path or --progid\n" + add->help());
                return kExitUsage;
            }
            companion.Add(name, AddValues(options, *add), strict);
        } else if (*set) companion.Set(name, valueName, &data, strict);
        else if (*unset) companion.Set(name, valueName, nullptr, strict);
        else if (*remove) companion.Remove(name);
        else if (*settings) {
            if (settingArgs.size() == 1) {
                WriteErr("settings takes no argument or VALUE DATA\n" + settings->help());
                return kExitUsage;
            }
            if (settingArgs.empty()) companion.Settings(json);
            else companion.SetSetting(settingArgs[0], settingArgs[1]);
        } else if (*exporter) companion.Export(file);
        else if (*apply) return companion.Apply(file, check, strict);
        else if (*status) companion.Status(json);
        else
            for (CLI::App* control : controls)
                if (*control) companion.Control(control->get_name(), timeout);
        return kExitDone;
    } catch (const Failure& failure) {
        WriteErr(failure.message + "\n");
        return failure.code;
    } catch (const std::exception& error) {
        WriteErr(std::string(error.what()) + "\n");
        return kExitFailed;
    }
}
