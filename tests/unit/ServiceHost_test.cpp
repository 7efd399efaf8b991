// The service host: the events and flags of its service states.
#include "host/ServiceHost.h"
#include "support/EventRecorder.h"

namespace {

using ServiceHostTest = EventRecordingTest;

TEST_F(ServiceHostTest, ServiceStatesLogTheirEventsAndFlags) {
    ServiceHost& host = Host();
    ASSERT_FALSE(host.WasPaused());
    host.SetServiceState(SERVICE_START_PENDING);
    EXPECT_TRUE(events.empty());
    host.SetServiceState(SERVICE_RUNNING);
    EXPECT_TRUE(host.IsRunning());
    host.SetServiceState(SERVICE_PAUSE_PENDING);
    host.SetServiceState(SERVICE_PAUSED);
    EXPECT_TRUE(host.WasPaused());
    EXPECT_FALSE(host.IsRunning());
    host.SetServiceState(SERVICE_CONTINUE_PENDING);
    host.SetServiceState(SERVICE_RUNNING);
    EXPECT_FALSE(host.WasPaused());
    host.SetServiceState(SERVICE_STOP_PENDING);
    host.SetServiceState(SERVICE_STOPPED);
    EXPECT_FALSE(host.IsRunning());
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].id, 0x4FFF0001u);
    EXPECT_EQ(events[1].id, 0x4FFF0003u);
    EXPECT_EQ(events[2].id, 0x4FFF0004u);
    EXPECT_EQ(events[3].id, 0x4FFF0002u);
    EXPECT_EQ(host.CurrentState(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(ServiceHostTest, TheSystemsShutdownIsAStopAndTheLaterShutdownControlChangesNothing) {
    ServiceHost& host = Host();
    // This thread stands for the service's, whose queue exists once it runs.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    host.TakeMessageThread();
    host.SetServiceState(SERVICE_RUNNING);
    const struct {
        DWORD control;
        DWORD answer;
        DWORD state;
    } controls[] = {
        {SERVICE_CONTROL_PRESHUTDOWN, NO_ERROR, SERVICE_STOP_PENDING},
        {SERVICE_CONTROL_SHUTDOWN, NO_ERROR, SERVICE_STOP_PENDING},
        {200, ERROR_CALL_NOT_IMPLEMENTED, SERVICE_STOP_PENDING},
    };
    for (const auto& c : controls) {
        EXPECT_EQ(ServiceHost::ServiceControlHandler(c.control, 0, nullptr, nullptr), c.answer) << c.control;
        EXPECT_EQ(host.CurrentState(), c.state) << c.control;
    }
    // One stop: it ends the message loop once.
    int quits = 0;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) ++quits;
    EXPECT_EQ(quits, 1);
    host.SetServiceState(SERVICE_STOPPED);
}

}  // namespace
