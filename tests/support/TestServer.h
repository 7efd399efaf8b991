// The recording automation server of tools/testserver.cpp, registered as an out-of-process
// class for as long as a test holds the registration.
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
