#include "support/TestServer.h"

#include "support/TestSupport.h"
#include "Guids.h"

#include <fstream>

namespace {

const std::string kClassKey = std::string("CLSID\\") + kClsidTestServerText;
const std::string kInproc32ClassKey = std::string("CLSID\\") + kClsidInproc32TestText;

}  // namespace

TestServerRegistration::TestServerRegistration(const std::string& logName, Server server)
    : logPath_(BuildPath(logName)) {
    DeleteFileA(logPath_.c_str());
    WriteString(HKEY_CLASSES_ROOT, kTestServerProgId, nullptr, "Corvane test recorder");
    WriteString(HKEY_CLASSES_ROOT, std::string(kTestServerProgId) + "\\CLSID", nullptr, kClsidTestServerText);
    WriteString(HKEY_CLASSES_ROOT, kClassKey, nullptr, "Corvane test recorder");
    WriteString(HKEY_CLASSES_ROOT, kClassKey + "\\ProgID", nullptr, kTestServerProgId);
    if (server == Server::InProcess) {
        WriteString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", nullptr, BuildPath("recorder.dll"));
        WriteString(HKEY_CLASSES_ROOT, kClassKey + "\\InprocServer32", "ThreadingModel", "Both");
        WriteString(HKEY_CLASSES_ROOT, kClassKey + "\\LogFile", nullptr, logPath_);
        return;
    }
    WriteString(HKEY_CLASSES_ROOT, kClassKey + "\\LocalServer32", nullptr,
                std::string("\"").append(BuildPath("testserver.exe")).append("\" \"").append(logPath_).append("\""));
}

TestServerRegistration::~TestServerRegistration() {
    DeleteKeyTree(HKEY_CLASSES_ROOT, kTestServerProgId);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kClassKey);
    // A server whose last object went ends by itself, revoking its class first; one killed
    // before that would leave its class registered with the COM runtime for a while, and the
    // next activation would fail. One that still holds an object of a client that died is
    // asked to quit, which revokes the class too.
    HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, "CorvaneTestServerQuit");
    if (!Eventually([] { return ProcessIdsNamed("testserver.exe").empty(); }, 3000) && quit) {
        SetEvent(quit);
        Eventually([] { return ProcessIdsNamed("testserver.exe").empty(); }, 10000);
    }
    if (quit) CloseHandle(quit);
    KillProcessesNamed("testserver.exe");
    DeleteFileA(logPath_.c_str());
}

std::vector<std::string> TestServerRegistration::LogLines(std::size_t from) const {
    std::vector<std::string> lines;
    std::ifstream file(logPath_);
    std::string line;
    for (std::size_t index = 0; std::getline(file, line); ++index)
        if (index >= from) lines.push_back(line);
    return lines;
}

Inproc32Registration::Inproc32Registration() {
    WriteString(HKEY_CLASSES_ROOT, kInproc32ProgId, nullptr, "Corvane test 32-bit server", KEY_WOW64_32KEY);
    WriteString(HKEY_CLASSES_ROOT, std::string(kInproc32ProgId) + "\\CLSID", nullptr, kClsidInproc32TestText,
                KEY_WOW64_32KEY);
    WriteString(HKEY_CLASSES_ROOT, kInproc32ClassKey, nullptr, "Corvane test 32-bit server", KEY_WOW64_32KEY);
    const std::string server = kInproc32ClassKey + "\\InprocServer32";
    WriteString(HKEY_CLASSES_ROOT, server, nullptr, BuildPath("inproc32.dll"), KEY_WOW64_32KEY);
    WriteString(HKEY_CLASSES_ROOT, server, "ThreadingModel", "Both", KEY_WOW64_32KEY);
}

Inproc32Registration::~Inproc32Registration() {
    DeleteKeyTree(HKEY_CLASSES_ROOT, kInproc32ProgId, KEY_WOW64_32KEY);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kInproc32ClassKey, KEY_WOW64_32KEY);
}
