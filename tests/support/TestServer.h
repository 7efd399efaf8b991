// The tests' own automation servers, registered for as long as a test holds the registration:
// the recording server of tools/testserver.cpp (out of process) and the 32-bit in-process
// server of tools/inproc32.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

inline constexpr char kTestServerProgId[] = "CorvaneTests.Recorder";
inline constexpr wchar_t kTestServerProgIdWide[] = L"CorvaneTests.Recorder";

class TestServerRegistration {
public:
    enum class Server { OutOfProcess, InProcess };

    // Registers the class with a log file of this name in the build folder (emptied first):
    // out of process with LocalServer32 = testserver.exe, in process with InprocServer32 =
    // recorder.dll, so that its objects live inside their client.
    explicit TestServerRegistration(const std::string& logName, Server server = Server::OutOfProcess);
    // Removes the class keys, ends any test server still running and deletes the log.
    ~TestServerRegistration();
    TestServerRegistration(const TestServerRegistration&) = delete;
    TestServerRegistration& operator=(const TestServerRegistration&) = delete;

    const std::string& logPath() const { return logPath_; }
    // The log's lines, from line `from` on.
    std::vector<std::string> LogLines(std::size_t from = 0) const;

private:
    std::string logPath_;
};

inline constexpr char kInproc32ProgId[] = "CorvaneTests.Inproc32";

// Registers inproc32.dll of the build folder for 32-bit programs only: its ProgID and class key
// are written in the registry's 32-bit view, so that a 32-bit process creates it and a 64-bit
// one finds no class it can load.
class Inproc32Registration {
public:
    Inproc32Registration();
    ~Inproc32Registration();
    Inproc32Registration(const Inproc32Registration&) = delete;
    Inproc32Registration& operator=(const Inproc32Registration&) = delete;
};
