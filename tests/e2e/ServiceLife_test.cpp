// corvane.exe as a real service under the service control manager: its states and the
// life events it reports.
#include "base/Owners.h"
#include "support/ProductKeys.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>

namespace {


class ServiceLife : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
        StopAndDeleteService(kService);
        // A plain run becomes the service only when the AppID names a local service.
        WriteString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", "Kestrun");
        ASSERT_TRUE(CreateDemandService(kService, BuildPath("corvane.exe")));
    }
    void TearDown() override {
        StopAndDeleteService(kService);
        DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
    }

    static std::vector<DWORD> Ids(const std::vector<TracedEvent>& events) {
        std::vector<DWORD> ids;
        for (const auto& event : events) ids.push_back(event.id);
        return ids;
    }
};

TEST_F(ServiceLife, StartPauseContinueStopReportStatesAndEvents) {
    EventTrace trace;
    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0001));

    // The time a stop needs at the system's shutdown is asked for once the start's pass has run:
    // the graceful end (none by default) and the bounded sweep. (The service manager sends the
    // shutdown controls only at a real shutdown; the host's tests send them to the handler.)
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(OpenServiceA(manager.get(), kService.c_str(), SERVICE_QUERY_CONFIG));
    EXPECT_TRUE(Eventually([&] {
        SERVICE_PRESHUTDOWN_INFO info{};
        DWORD needed = 0;
        return QueryServiceConfig2A(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, reinterpret_cast<BYTE*>(&info),
                                    sizeof info, &needed) &&
               info.dwPreshutdownTimeout == 20000;
    }));
    EXPECT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
    // A run by hand while the service runs is no second service: it ends quietly, reports
    // nothing, and the controls below still reach the service's own process.
    EXPECT_EQ(RunAndWait("\"" + BuildPath("corvane.exe") + "\""), 0u);

    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_PAUSE));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_PAUSED));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0003));

    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_CONTINUE));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0004));

    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0002));

    // Interrogate logged nothing: exactly the four life events, in order, as information events.
    std::vector<TracedEvent> events = trace.Events();
    EXPECT_EQ(Ids(events), (std::vector<DWORD>{0x4FFF0001, 0x4FFF0003, 0x4FFF0004, 0x4FFF0002}));
    const char* texts[] = {"Corvane successfully started.", "Corvane paused.", "Corvane resumed.",
                           "Corvane stopped."};
    for (std::size_t i = 0; i < events.size() && i < 4; ++i) {
        EXPECT_EQ(events[i].type, EVENTLOG_INFORMATION_TYPE);
        ASSERT_EQ(events[i].strings.size(), 1u);
        // Formatted to lines of at most 100 characters, the text's line break reads as a blank.
        EXPECT_EQ(events[i].strings[0], std::string(texts[i]) + " ");
    }
}

TEST_F(ServiceLife, StopWhilePausedAndAFreshStartLogsStartedAgain) {
    EventTrace trace;
    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_PAUSED));
    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0002));

    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    Eventually([&] { return trace.Events().size() >= 5; });
    EXPECT_EQ(Ids(trace.Events()), (std::vector<DWORD>{0x4FFF0001, 0x4FFF0003, 0x4FFF0002, 0x4FFF0001, 0x4FFF0002}));
}

TEST_F(ServiceLife, AnUnknownControlIsLoggedAndChangesNothing) {
    EventTrace trace;
    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    ASSERT_TRUE(trace.WaitFor(0x4FFF0001));
    // User-defined control codes (128-255) reach the handler, which does not know them.
    ControlServiceNamed(kService, 200);
    EXPECT_TRUE(trace.WaitFor(1000, "Bad service request received."));
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
