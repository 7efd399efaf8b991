// Shared helpers of the test executables: build paths, scratch registry keys, services,
// processes and the event trace.
#pragma once
#include "base/Conversions.h"
#include "base/RegistryKey.h"
#include "config/ServiceKeys.h"

#include <windows.h>
#include <cstddef>
#include <string>
#include <vector>

// A file of the build folder as Windows sees it (corvane.exe, the tools).
std::string BuildPath(const std::string& name);

// The configuration keys of the tests' own service name, "CorvaneTest" (the string table of
// the test executables names it), so that they never meet those of an installed service.
const ServiceKeys& TestKeys();

// Runs a command line, waits for it (bounded) and returns its exit code; ~0u on failure.
DWORD RunAndWait(const std::string& commandLine, DWORD timeoutMs = 60000);
// Starts a command line; the process handle (null on failure) and, when asked, its id.
HANDLE StartProcess(const std::string& commandLine, DWORD* processId = nullptr);
// Waits (bounded) for the process to end and returns its exit code; ends it and returns ~0u
// when it does not end in time.
DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs);

// Registry helpers below HKLM/HKCR used by the tests. view, where taken, is added to the access
// mask: 0 for the program's own registry view, kOtherRegistryView for the other architecture's.
bool KeyExists(HKEY root, const std::string& path, REGSAM view = 0);
bool ValueExists(HKEY root, const std::string& path, const char* name);
std::string ReadString(HKEY root, const std::string& path, const char* name, DWORD* type = nullptr,
                       REGSAM view = 0);
DWORD ReadDword(HKEY root, const std::string& path, const char* name, DWORD fallback = 0xFFFFFFFFu);
void WriteString(HKEY root, const std::string& path, const char* name, const std::string& value, REGSAM view = 0);
void WriteDword(HKEY root, const std::string& path, const char* name, DWORD value);
// Writes bytes exactly as given, whatever type says (no terminating zero is added).
void WriteRawValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& bytes);
void DeleteKeyTree(HKEY root, const std::string& path, REGSAM view = 0);

// A key below HKCU\Software\CorvaneTests\<name> that is empty at the start of the test and
// removed at its end.
class ScratchKey {
public:
    explicit ScratchKey(const std::string& name);
    ~ScratchKey();
    const std::string& path() const { return path_; }  // relative to HKCU
private:
    std::string path_;
};

// Processes as Toolhelp lists them.
struct ProcessEntry {
    DWORD id;
    DWORD parentId;
    std::string exeName;
};
std::vector<ProcessEntry> ListProcesses();
std::vector<DWORD> ProcessIdsNamed(const std::string& exeName);
void KillProcessesNamed(const std::string& exeName);

// Service control through the service control manager.
DWORD QueryServiceState(const std::string& name);  // 0 when the service does not exist
bool WaitForServiceState(const std::string& name, DWORD state, DWORD timeoutMs = 30000);
bool StartServiceNamed(const std::string& name);
bool ControlServiceNamed(const std::string& name, DWORD control);
bool CreateDemandService(const std::string& name, const std::string& binaryPath);
void StopAndDeleteService(const std::string& name, DWORD timeoutMs = 30000);

// Polls a condition (for asynchronous effects such as started processes); bounded.
template <typename Condition>
bool Eventually(Condition condition, DWORD timeoutMs = 20000) {
    for (DWORD waited = 0;; waited += 50) {
        if (condition()) return true;
        if (waited >= timeoutMs) return false;
        Sleep(50);
    }
}

// Events that processes of the test session reported, as Wine traced them (the trace file is
// named by the environment variable CORVANE_EVENT_TRACE).
struct TracedEvent {
    WORD type;
    DWORD id;
    std::vector<std::string> strings;
};
class EventTrace {
public:
    static bool Available();
    // Remembers the current end of the trace; Events() returns what came after it.
    EventTrace();
    std::vector<TracedEvent> Events() const;
    // Waits until an event with this id and (when given) first string has been traced.
    bool WaitFor(DWORD id, const std::string& text = {}, DWORD timeoutMs = 20000) const;
    // Waits until an event with this id whose first string begins with start has been traced.
    bool WaitForStart(DWORD id, const std::string& start, DWORD timeoutMs = 20000) const;
private:
    std::size_t start_;
};
std::vector<TracedEvent> ParseEventTrace(const std::string& trace);
