#include "support/TestServer.h"

#include "support/TestSupport.h"
#include "Guids.h"

#include <fstream>

namespace {

const std::string kClassKey = std::string("CLSID\\") + kClsidTestServerText;

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
    // before that would leave its class registered with the COM runtime for a while.
    Eventually([] { return ProcessIdsNamed("testserver.exe").empty(); }, 10000);
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
