#include "support/TestSupport.h"

#include "base/RegistryKey.h"
#include "base/Owners.h"

#include <objbase.h>
#include <tlhelp32.h>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string BuildPath(const std::string& name) { return std::string(CORVANE_BUILD_DIR) + "\\" + name; }

const ServiceKeys& TestKeys() {
    static const ServiceKeys keys = ServiceKeys::ForService("CorvaneTest");
    return keys;
}

HANDLE StartProcess(const std::string& commandLine, DWORD* processId) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    if (processId) *processId = info.dwProcessId;
    return info.hProcess;
}

DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        return ~0u;
    }
    DWORD code = ~0u;
    GetExitCodeProcess(process, &code);
    return code;
}

DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs) {
    UniqueHandle process(StartProcess(commandLine));
    return process ? WaitForExitCode(process.get(), timeoutMs) : ~0u;
}

bool KeyExists(HKEY root, const std::string& path, REGSAM view) {
    RegistryKey key;
    return key.Open(root, path.c_str(), KEY_READ | view) == ERROR_SUCCESS;
}

bool ValueExists(HKEY root, const std::string& path, const char* name) {
    RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
    return RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string ReadString(HKEY root, const std::string& path, const char* name, DWORD* type, REGSAM view) {
    RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_READ | view) != ERROR_SUCCESS) return "<no key>";
    DWORD size = 0;
    DWORD valueType = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &valueType, nullptr, &size) != ERROR_SUCCESS) return "<no value>";
    std::string data(size, '\0');
    RegQueryValueExA(key.get(), name, nullptr, &valueType, reinterpret_cast<BYTE*>(data.data()), &size);
    if (type) *type = valueType;
    data.resize(size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
}

DWORD ReadDword(HKEY root, const std::string& path, const char* name, DWORD fallback) {
    RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_READ) != ERROR_SUCCESS) return fallback;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return fallback;
    return value;
}

void WriteString(HKEY root, const std::string& path, const char* name, const std::string& value, REGSAM view) {
    RegistryKey key;
    if (key.Create(root, path.c_str(), KEY_ALL_ACCESS | view) != ERROR_SUCCESS) return;
    RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

void WriteDword(HKEY root, const std::string& path, const char* name, DWORD value) {
    RegistryKey key;
    if (key.Create(root, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void WriteRawValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes) {
    RegistryKey key;
    if (key.Create(root, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) return;
    RegSetValueExA(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
}

void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view) {
    std::size_t slash = path.rfind('\\');
    std::string parentPath = slash == std::string::npos ? std::string() : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    RegistryKey parent;
    if (parent.Open(root, parentPath.c_str(), KEY_ALL_ACCESS | view) != ERROR_SUCCESS) return;
    (void)parent.DeleteTree(name.c_str(), view);
}

ScratchKey::ScratchKey(const std::string& name) : path_("Software\\CorvaneTests\\" + name) {
    DeleteKeyTree(HKEY_CURRENT_USER, path_);
    RegistryKey key;
    (void)key.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS);
}

ScratchKey::~ScratchKey() { DeleteKeyTree(HKEY_CURRENT_USER, path_); }

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> result;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return result;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry))
        result.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    return result;
}

std::vector<DWORD> ProcessIdsNamed(const std::string& exeName) {
    std::vector<DWORD> ids;
    for (const auto& process : ListProcesses())
        if (lstrcmpiA(process.exeName.c_str(), exeName.c_str()) == 0) ids.push_back(process.id);
    return ids;
}

void KillProcessesNamed(const std::string& exeName) {
    for (DWORD id : ProcessIdsNamed(exeName)) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

DWORD QueryServiceState(const std::string& name) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return 0;
    ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status)) return 0;
    return status.dwCurrentState;
}

bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeoutMs) {
    return Eventually([&] { return QueryServiceState(name) == state; }, timeoutMs);
}

bool StartServiceNamed(const std::string& name) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_START));
    return service && StartServiceA(service.get(), 0, nullptr);
}

bool ControlServiceNamed(const std::string& name, DWORD control) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), name.c_str(),
                                       SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                                                           SERVICE_USER_DEFINED_CONTROL));
    SERVICE_STATUS status{};
    return service && ControlService(service.get(), control, &status);
}

bool CreateDemandService(const std::string& name, const std::string& binaryPath) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    std::string quoted = "\"" + binaryPath + "\"";
    ServiceHandle service(CreateServiceA(manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, quoted.c_str(), nullptr,
                                         nullptr, "RPCSS\0", nullptr, nullptr));
    return static_cast<bool>(service);
}

void StopAndDeleteService(const std::string& name, DWORD timeoutMs) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return;
    ServiceHandle service(OpenServiceA(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return;
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForServiceState(name, SERVICE_STOPPED, timeoutMs);
    }
    if (!DeleteService(service.get())) return;
    service.reset();
    // The service goes once its process and the last handle to it have: until then a service of
    // the same name cannot be made again.
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < end) {
        ServiceHandle still(OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
        if (!still && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return;
        Sleep(50);
    }
}

namespace {

std::string TracePath() {
    const char* unixPath = std::getenv("CORVANE_EVENT_TRACE");
    if (!unixPath || !*unixPath) return {};
    std::string path = std::string("Z:") + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string ReadTrace(std::size_t from) {
    std::ifstream file(TracePath(), std::ios::binary);
    if (!file) return {};
    file.seekg(0, std::ios::end);
    std::size_t size = static_cast<std::size_t>(file.tellg());
    if (from >= size) return {};
    file.seekg(static_cast<std::streamoff>(from));
    std::string text(size - from, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    return text;
}

// Undoes Wine's debugstr escaping of a traced string.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x':
        case 'u': {
            std::size_t digits = 0;
            unsigned value = 0;
            while (digits < 4 && i + 1 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                value = value * 16 + std::stoul(std::string(1, text[++i]), nullptr, 16);
                ++digits;
            }
            out += static_cast<char>(value);
            break;
        }
        default: out += c; break;
        }
    }
    return out;
}

}  // namespace

std::vector<TracedEvent> ParseEventTrace(const std::string& trace) {
    // "tid:fixme:advapi:ReportEventW (handle,0x0004,0x0000,0x4fff0001,..." opens an event of
    // thread tid; the "tid:trace:eventlog:ReportEventW L"..."" lines that follow are its strings.
    std::vector<TracedEvent> events;
    std::vector<std::pair<std::string, std::size_t>> open;  // thread id -> index of its last event
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string thread = line.substr(0, colon);
        std::size_t report = line.find(":advapi:ReportEventW (");
        if (report != std::string::npos) {
            std::string args = line.substr(report + 22);
            std::vector<std::string> fields;
            std::stringstream split(args);
            std::string field;
            while (std::getline(split, field, ',')) fields.push_back(field);
            if (fields.size() < 4) continue;
            TracedEvent event{static_cast<WORD>(std::stoul(fields[1], nullptr, 16)),
                              static_cast<DWORD>(std::stoul(fields[3], nullptr, 16)), {}};
            events.push_back(event);
            bool found = false;
            for (auto& entry : open)
                if (entry.first == thread) {
                    entry.second = events.size() - 1;
                    found = true;
                }
            if (!found) open.emplace_back(thread, events.size() - 1);
            continue;
        }
        std::size_t text = line.find(":eventlog:ReportEventW L\"");
        if (text == std::string::npos) continue;
        std::string quoted = line.substr(text + 25);
        if (!quoted.empty() && quoted.back() == '"') quoted.pop_back();
        for (auto& entry : open)
            if (entry.first == thread) events[entry.second].strings.push_back(Unescape(quoted));
    }
    return events;
}

bool EventTrace::Available() { return !TracePath().empty(); }

EventTrace::EventTrace() {
    std::ifstream file(TracePath(), std::ios::binary | std::ios::ate);
    start_ = file ? static_cast<std::size_t>(file.tellg()) : 0;
}

std::vector<TracedEvent> EventTrace::Events() const { return ParseEventTrace(ReadTrace(start_)); }

bool EventTrace::WaitForStart(DWORD id, const std::string& start, DWORD timeoutMs) const {
    return Eventually(
        [&] {
            for (const auto& event : Events())
                if (event.id == id && !event.strings.empty() && event.strings[0].rfind(start, 0) == 0) return true;
            return false;
        },
        timeoutMs);
}

bool EventTrace::WaitFor(DWORD id, const std::string& text, DWORD timeoutMs) const {
    return Eventually(
        [&] {
            for (const auto& event : Events())
                if (event.id == id && (text.empty() || (!event.strings.empty() && event.strings[0] == text)))
                    return true;
            return false;
        },
        timeoutMs);
}
