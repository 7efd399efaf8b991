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

}  // namespace
