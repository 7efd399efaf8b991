// corvane.exe as a real service with ActiveX applications: Wine's own automation classes and
// the recording server, created by the running service, their configured methods called, and
// their references released by a stop before any program is terminated.
#include "base/Owners.h"
#include "support/TestServer.h"
#include "support/ServiceFixture.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <tlhelp32.h>


namespace {

const char kSleeperEvent[] = "CorvaneTestSleeper";

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SleeperRuns() {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, kSleeperEvent);
    if (!event) return false;
    CloseHandle(event);
    return true;
}

// The service's status as it goes from a control to the state that the control leads to.
struct PendingWatch {
    bool reached = false;
    DWORD highestCheckpoint = 0;
    DWORD longestSilenceMs = 0;  // the longest time without a new checkpoint, while pending
    DWORD waitHintMs = 0;        // the largest wait hint seen while pending
};

PendingWatch WatchUntil(const std::string& service, DWORD state, DWORD timeoutMs = 30000) {
    PendingWatch watch;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle handle(manager ? OpenServiceA(manager.get(), service.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    if (!handle) return watch;
    const ULONGLONG start = GetTickCount64();
    ULONGLONG lastChange = start;
    DWORD lastCheckpoint = 0;
    for (ULONGLONG now = start; now - start < timeoutMs; now = GetTickCount64()) {
        SERVICE_STATUS status{};
        if (!QueryServiceStatus(handle.get(), &status)) break;
        if (status.dwCurrentState == state) {
            watch.reached = true;
            break;
        }
        if (status.dwCheckPoint != lastCheckpoint) {
            lastCheckpoint = status.dwCheckPoint;
            lastChange = now;
        }
        watch.highestCheckpoint = std::max(watch.highestCheckpoint, status.dwCheckPoint);
        watch.waitHintMs = std::max(watch.waitHintMs, status.dwWaitHint);
        watch.longestSilenceMs = std::max(watch.longestSilenceMs, static_cast<DWORD>(now - lastChange));
        Sleep(50);
    }
    return watch;
}

// Suspends (or resumes) every thread of the processes named exeName, as a debugger does.
void SuspendProcessesNamed(const std::string& exeName, bool suspend = true) {
    const std::vector<DWORD> ids = ProcessIdsNamed(exeName);
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
        if (std::find(ids.begin(), ids.end(), entry.th32OwnerProcessID) == ids.end()) continue;
        UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        if (thread) suspend ? SuspendThread(thread.get()) : ResumeThread(thread.get());
    }
}

class ActiveXServiceTest : public ProductServiceTest {
protected:
    void SetUp() override {
        RemoveEverything();
        CreateProductService();
    }
    void TearDown() override { RemoveEverything(); }

    void RemoveEverything() {
        RemoveProductService();
        KillProcessesNamed("testserver.exe");
        DeleteFileA(touched_.c_str());
        DeleteFileA(mark_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }

    // An ActiveX application whose method takes at most one parameter, given as a variant.
    static void AddServer(const std::string& name, const std::string& progId, const std::string& method,
                          const std::string& parameter = {}) {
        const std::string key = kModules + "\\" + name;
        WriteDword(HKEY_LOCAL_MACHINE, key, "Instances", 1);
        WriteDword(HKEY_LOCAL_MACHINE, key, "Attrib", SW_SHOWNORMAL);
        WriteString(HKEY_LOCAL_MACHINE, key, "ExePath", "");
        WriteString(HKEY_LOCAL_MACHINE, key, "ProgId", progId);
        WriteString(HKEY_LOCAL_MACHINE, key, "MethodName", method);
        WriteString(HKEY_LOCAL_MACHINE, key, "MethodReturnType", "");
        WriteString(HKEY_LOCAL_MACHINE, key, "ParamOne", parameter);
        WriteString(HKEY_LOCAL_MACHINE, key, "ParamOneType", parameter.empty() ? "" : "VT_VARIANT");
    }


    const std::string touched_ = BuildPath("activex-service-touched.txt");
    const std::string folder_ = BuildPath("activex-service-folder");
    const std::string mark_ = BuildPath("activex-service-mark.txt");
};

// Also a 32-bit in-process server, registered for 32-bit programs only: the x86 service loads
// it and calls its method; the x64 service cannot load it, says why and goes on.
TEST_F(ActiveXServiceTest, WinesAutomationClassesRunTheirMethodsAndAMissingServerIsPassedOver) {
    ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
    ASSERT_FALSE(FileExists(touched_));
    ASSERT_FALSE(FileExists(folder_));
    ASSERT_FALSE(FileExists(mark_));
    Inproc32Registration inproc32;
    // The registry lists the applications by name, so the two that may fail come first.
    AddServer("A 32-bit server", kInproc32ProgId, "WriteMark", mark_);
    AddServer("A missing server", "Corvane.NoSuchServer", "Run", "ignored");
    AddServer("B shell", "WScript.Shell", "Run", BuildPath("testserver.exe") + " -touch " + touched_);
    AddServer("C folders", "Scripting.FileSystemObject", "CreateFolder", folder_);
    EventTrace trace;

    Start();
    EXPECT_TRUE(Eventually([&] { return FileExists(touched_); })) << "WScript.Shell did not run the program";
    EXPECT_TRUE(Eventually([&] { return FileExists(folder_); })) << "FileSystemObject made no folder";
    DWORD attributes = GetFileAttributesA(folder_.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(trace.WaitForStart(
        1000, "Unable to start ActiveX server: Corvane.NoSuchServer\nDetailed error info: 0x800401F3"));
    if (sizeof(void*) == 8) {
        EXPECT_TRUE(trace.WaitForStart(1000, std::string("Unable to start ActiveX server: ") + kInproc32ProgId +
                                                 "\nDetailed error info: its class is registered only for 32-bit "
                                                 "programs, as an in-process server (a DLL) that the 64-bit Corvane "
                                                 "cannot load. The x86 build of Corvane can create it."));
        EXPECT_FALSE(FileExists(mark_));
    } else {
        // The server wrote the id of the process that loaded it: the service's own.
        ASSERT_TRUE(Eventually([&] { return FileExists(mark_); })) << "the 32-bit server's method was not called";
        std::ifstream file(mark_);
        DWORD loadedBy = 0;
        file >> loadedBy;
        const std::vector<DWORD> services = ProcessIdsNamed("corvane.exe");
        EXPECT_NE(std::find(services.begin(), services.end(), loadedBy), services.end()) << loadedBy;
    }
    Stop();
}

TEST_F(ActiveXServiceTest, StopReleasesEveryServerBeforeTerminatingPrograms) {
    TestServerRegistration recorder("activex-service-recorder.log");
    WriteDword(HKEY_LOCAL_MACHINE, kParameters, "TerminateOnStop", 1);
    AddServer("Recorder", kTestServerProgId, "Ping", "from the service");
    AddApplication("Sleeper", 1, BuildPath("testserver.exe"), "-sleep");

    Start();
    ASSERT_TRUE(Eventually([&] { return recorder.LogLines().size() >= 2; }));
    ASSERT_TRUE(Eventually(SleeperRuns));
    EXPECT_EQ(recorder.LogLines(),
              (std::vector<std::string>{"CREATED", "CALL Ping flags=1 args=1 named= | 0008:from the service"}));

    Stop();
    // The server lost its one reference while the program still ran; then the program ended.
    EXPECT_TRUE(Eventually([&] { return recorder.LogLines().size() >= 3; }));
    EXPECT_EQ(recorder.LogLines(2), std::vector<std::string>{"RELEASED sleeper=1"});
    EXPECT_TRUE(Eventually([] { return !SleeperRuns(); }));
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("testserver.exe").empty(); }));
}

// A method call that never returns holds up no control: whether the start's pass or a
// continue's relaunch hangs in it, a stop is answered, STOPPED follows within the two seconds
// that a service manager client waits, and every program the service tracks is ended. The
// server runs inside the service, so the end of the service's process takes the call along.
TEST_F(ActiveXServiceTest, AStopDuringAHungMethodCallReportsStoppedWithinTwoSecondsAndEndsThePrograms) {
    for (const bool inRelaunch : {false, true}) {
        SCOPED_TRACE(inRelaunch ? "a continue's relaunch hangs" : "the start's pass hangs");
        RemoveEverything();
        KillProcessesNamed("sleeper.exe");
        CreateProductService();
        TestServerRegistration recorder("activex-service-block.log", TestServerRegistration::Server::InProcess);
        SetSetting("RelaunchOnContinue", 1);
        SetSetting("TerminateOnStop", 1);
        AddApplication("A sleeper", 1, BuildPath("sleeper.exe"), "hung-call");
        if (!inRelaunch) AddServer("B blocking", kTestServerProgId, "Block");
        Start();
        ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").size() == 1; }));
        if (inRelaunch) {
            AddServer("B blocking", kTestServerProgId, "Block");
            Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
            // Answered while the relaunch pass is still inside the method call.
            Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
            ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").size() == 2; }));
        }
        ASSERT_TRUE(Eventually([&] { return recorder.LogLines().size() >= 2; }));
        ASSERT_EQ(recorder.LogLines(1), std::vector<std::string>{"CALL Block flags=1 args=0 named="});

        ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
        EXPECT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED, 2000));
        EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
        EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }));
        // The call was still hanging when the service ended.
        EXPECT_EQ(recorder.LogLines(1), std::vector<std::string>{"CALL Block flags=1 args=0 named="});
    }
}

// An in-process server that faults in its last Release during the stop sweep: the sweep goes on
// with the next server, the program is ended by the settings, and the service itself reports
// STOPPED (a crashed process reports nothing).
TEST_F(ActiveXServiceTest, AServerThatFaultsInItsLastReleaseDoesNotOrphanThePrograms) {
    ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
    TestServerRegistration recorder("activex-service-fault.log", TestServerRegistration::Server::InProcess);
    SetSetting("TerminateOnStop", 1);
    AddServer("A faulting", kTestServerProgId, "FaultOnRelease");
    AddServer("B sound", kTestServerProgId, "Ping");
    AddApplication("C sleeper", 1, BuildPath("testserver.exe"), "-sleep");
    EventTrace trace;

    Start();
    ASSERT_TRUE(Eventually(SleeperRuns));
    ASSERT_TRUE(Eventually([&] { return recorder.LogLines().size() >= 4; }));
    ASSERT_EQ(recorder.LogLines(), (std::vector<std::string>{"CREATED", "CALL FaultOnRelease flags=1 args=0 named=",
                                                             "CREATED", "CALL Ping flags=1 args=0 named="}));

    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    EXPECT_TRUE(trace.WaitFor(0x4FFF0002)) << "the service did not report its stop";
    EXPECT_TRUE(Eventually([] { return !SleeperRuns(); }));
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
    // The second server was released after the first one faulted, while the program still ran.
    EXPECT_EQ(recorder.LogLines(4), (std::vector<std::string>{"FAULTING", "RELEASED sleeper=1"}));
}

// An out-of-process server that stops answering, its last Release hanging or its process
// suspended: a stop still reaches STOPPED and a pause that ends the applications PAUSED, the
// checkpoint advancing within the wait hint meanwhile; the program beside it is ended and the
// service's process ends after the stop. The release is abandoned, not the programs.
TEST_F(ActiveXServiceTest, AServerThatStopsAnsweringHoldsNeitherAStopNorAPause) {
    struct Case {
        const char* name;
        bool suspended;  // else its Release hangs
        DWORD control, endState;
    };
    const Case cases[] = {
        {"a stop, the release hangs", false, SERVICE_CONTROL_STOP, SERVICE_STOPPED},
        {"a pause, the release hangs", false, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED},
        {"a stop, the server is suspended", true, SERVICE_CONTROL_STOP, SERVICE_STOPPED},
        {"a pause, the server is suspended", true, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        RemoveEverything();
        KillProcessesNamed("sleeper.exe");
        CreateProductService();
        HANDLE unblock = CreateEventA(nullptr, TRUE, FALSE, "CorvaneTestUnblock");
        HANDLE quit = CreateEventA(nullptr, TRUE, FALSE, "CorvaneTestServerQuit");
        ResetEvent(unblock);
        ResetEvent(quit);
        {
            TestServerRegistration recorder("activex-service-hang.log");
            SetSetting("TerminateOnStop", 1);
            SetSetting("TerminateOnPause", 1);
            AddServer("A silent", kTestServerProgId, test.suspended ? "Ping" : "HangOnRelease");
            AddApplication("B sleeper", 1, BuildPath("sleeper.exe"), "beside-a-silent-server");
            Start();
            ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").size() == 1; }));
            ASSERT_TRUE(Eventually([&] { return recorder.LogLines().size() >= 2; }));
            if (test.suspended) SuspendProcessesNamed("testserver.exe");

            ASSERT_TRUE(ControlServiceNamed(kService, test.control));
            const PendingWatch watch = WatchUntil(kService, test.endState);
            EXPECT_TRUE(watch.reached);
            EXPECT_GT(watch.highestCheckpoint, 0u) << "the checkpoint did not advance";
            EXPECT_GT(watch.waitHintMs, 0u);
            EXPECT_LE(watch.longestSilenceMs, watch.waitHintMs + 1000) << "the service fell silent";
            EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }));
            if (!test.suspended) EXPECT_EQ(recorder.LogLines(2), std::vector<std::string>{"HANGING"});
            if (test.endState == SERVICE_PAUSED) Control(SERVICE_CONTROL_STOP, SERVICE_STOPPED);
            EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
            // The server is let go, to end by itself: a killed one would leave its class
            // registered for the next case.
            SuspendProcessesNamed("testserver.exe", false);
            SetEvent(unblock);
            SetEvent(quit);
            // Its COM teardown after its client's death can take a while on a loaded machine.
            EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("testserver.exe").empty(); }, 60000));
        }
        CloseHandle(unblock);
        CloseHandle(quit);
    }
}

}  // namespace
