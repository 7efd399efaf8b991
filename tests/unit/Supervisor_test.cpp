// Supervision of launched programs: the waits between restarts, and the one report of a
// program that could not join the service's job.
#include "base/EventLog.h"
#include "launch/StartApplication.h"
#include "launch/Supervisor.h"
#include "support/TestSupport.h"
#include "messages.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(RestartWait, DoublesAfterShortRunsUpToAMinuteAndFallsBackAfterALongRun) {
    const struct {
        const char* what;
        DWORD restartDelay;
        std::optional<DWORD> lastWait;
        ULONGLONG ranMs;
        DWORD expected;
    } cases[] = {
        {"the first exit waits the delay, however short the run", 1000, std::nullopt, 0, 1000},
        {"a run under 10 s doubles the last wait", 1000, 1000, 9999, 2000},
        {"a run of 10 s brings back the delay", 1000, 16000, 10000, 1000},
        {"doubling stops at a minute", 1000, 32000, 0, 60000},
        {"and stays there", 1000, 60000, 0, 60000},
        {"a last wait near the top does not overflow", 1000, 0xFFFFFFFFu, 0, 60000},
        {"a delay of 0 restarts at once the first time", 0, std::nullopt, 0, 0},
        {"then grows all the same", 0, 0, 0, 100},
        {"and doubles from there", 0, 100, 500, 200},
        {"a delay above a minute is kept", 90000, 90000, 0, 90000},
        {"a wait is never shorter than a delay raised meanwhile", 5000, 1000, 0, 5000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RestartWaitMs(c.restartDelay, c.lastWait, c.ranMs), c.expected);
    }
}

TEST(SupervisorJob, AProgramThatCannotJoinTheJobIsReportedOnceWithItsError) {
    std::mutex lock;
    std::vector<std::pair<WORD, std::string>> events;
    SetEventSink([&](WORD type, DWORD id, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        if (id == MSG_JOB_NOT_JOINED) events.emplace_back(type, text);
    });
    {
        LaunchTracker tracker;
        Supervisor supervisor(TestKeys(), tracker);
        StartedProgram joined, outside;
        outside.jobError = ERROR_ACCESS_DENIED;
        supervisor.Adopt("First", joined);
        supervisor.Adopt("Second", outside);
        supervisor.Adopt("Third", outside);
    }
    SetEventSink({});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].second,
              "Second could not be put into the service's job object (error 5): it runs and is tracked as usual, "
              "but the processes it starts are not ended with it. This is reported once.");
}

}  // namespace
