// The tracking tables and their lock: which passes a stop or pause cancels, what a terminating
// sweep ends, and that it waits for a launch in flight.
#include "base/Owners.h"
#include "launch/Tracking.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <stdexcept>
#include <thread>

namespace {

// A started sleeper: the handle the tracker takes, and one of the test's own to watch it.
struct Started {
    HANDLE forTracker = nullptr;
    UniqueHandle watch;
};

Started StartSleeper() {
    Started started;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = BuildPath("sleeper.exe");
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                        &startup, &info))
        return started;
    UniqueHandle thread(info.hThread);
    started.watch.reset(info.hProcess);
    started.forTracker = OpenProcess(PROCESS_TERMINATE, FALSE, info.dwProcessId);
    return started;
}

bool Ended(const UniqueHandle& process) { return WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0; }
bool Running(const UniqueHandle& process) { return WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }

// An IDispatch that only counts its references; it may throw from Release like a faulty server,
// or hang in it until hold is set, like one that stops answering.
class CountingServer : public IDispatch {
public:
    explicit CountingServer(bool throws = false, HANDLE hold = nullptr) : throws_(throws), hold_(hold) {}
    std::atomic<long> references{1};
    std::atomic<bool> returned{false};  // a held Release has returned
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        long left = --references;
        if (hold_) {
            WaitForSingleObject(hold_, 60000);
            returned = true;
        }
        if (throws_) throw std::runtime_error("faulty server");
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

private:
    bool throws_;
    HANDLE hold_;
};

class TrackingTest : public testing::Test {
protected:
    void TearDown() override {
        tracker.Cancel(true);
        KillProcessesNamed("sleeper.exe");
    }

    LaunchTracker tracker;
};

TEST_F(TrackingTest, AStopOrPauseCancelsEveryEarlierPassButPassesDoNotCancelEachOther) {
    LaunchTracker::Ticket first = tracker.BeginPass();
    LaunchTracker::Ticket second = tracker.BeginPass();
    EXPECT_FALSE(tracker.IsCancelled(first));
    EXPECT_FALSE(tracker.IsCancelled(second));
    EXPECT_TRUE(tracker.BeginLaunch(first));

    tracker.Cancel(false);
    EXPECT_TRUE(tracker.IsCancelled(first));
    EXPECT_TRUE(tracker.IsCancelled(second));
    EXPECT_FALSE(tracker.BeginLaunch(second));

    LaunchTracker::Ticket later = tracker.BeginPass();
    EXPECT_FALSE(tracker.IsCancelled(later));
    EXPECT_TRUE(tracker.BeginLaunch(later));
}

TEST_F(TrackingTest, WhatACancelledPassTracksAfterATerminatingSweepIsEndedAtOnce) {
    LaunchTracker::Ticket paused = tracker.BeginPass();
    tracker.Cancel(false);
    // A pause that keeps applications keeps what its cancelled pass still tracks.
    Started kept = StartSleeper();
    ASSERT_TRUE(kept.forTracker);
    tracker.TrackProcess(paused, kept.forTracker);
    EXPECT_EQ(tracker.ProcessCount(), 1u);
    EXPECT_TRUE(Running(kept.watch));

    LaunchTracker::Ticket stopped = tracker.BeginPass();
    tracker.Cancel(true);
    EXPECT_TRUE(Ended(kept.watch));
    EXPECT_EQ(tracker.ProcessCount(), 0u);

    Started late = StartSleeper();
    ASSERT_TRUE(late.forTracker);
    tracker.TrackProcess(stopped, late.forTracker);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_TRUE(Ended(late.watch));

    // A pass that begins after the sweep tracks as usual.
    LaunchTracker::Ticket fresh = tracker.BeginPass();
    Started next = StartSleeper();
    ASSERT_TRUE(next.forTracker);
    tracker.TrackProcess(fresh, next.forTracker);
    EXPECT_EQ(tracker.ProcessCount(), 1u);
    EXPECT_TRUE(Running(next.watch));
}

TEST_F(TrackingTest, ATerminatingSweepWaitsForTheLaunchInFlight) {
    LaunchTracker::Ticket ticket = tracker.BeginPass();
    std::optional<LaunchTracker::PendingLaunch> launch(tracker.BeginLaunch(ticket));
    ASSERT_TRUE(*launch);

    std::atomic<bool> swept{false};
    std::thread stop([&] {
        tracker.Cancel(true);
        swept = true;
    });
    // Once the sweep has cancelled the pass it must still wait while the launch is in flight:
    // the process being created must be in the table, or be ended, before the service may stop.
    ASSERT_TRUE(Eventually([&] { return tracker.IsCancelled(ticket); }));
    EXPECT_FALSE(Eventually([&] { return swept.load(); }, 500)) << "the sweep did not wait for the launch";
    Started started = StartSleeper();
    ASSERT_TRUE(started.forTracker);
    launch->Track(started.forTracker);
    launch.reset();
    stop.join();

    EXPECT_TRUE(swept);
    EXPECT_TRUE(Ended(started.watch));
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_FALSE(tracker.BeginLaunch(ticket));
}

TEST_F(TrackingTest, TheSweepReleasesEveryServerEvenAFaultyOneAndPassesOverEndedPrograms) {
    LaunchTracker::Ticket ticket = tracker.BeginPass();
    CountingServer faulty(true), sound;
    tracker.TrackServer(ticket, &faulty);
    tracker.TrackServer(ticket, &sound);
    Started ended = StartSleeper();
    ASSERT_TRUE(ended.forTracker);
    TerminateProcess(ended.watch.get(), 3);
    ASSERT_TRUE(Ended(ended.watch));
    tracker.TrackProcess(ticket, ended.forTracker);
    Started running = StartSleeper();
    ASSERT_TRUE(running.forTracker);
    tracker.TrackProcess(ticket, running.forTracker);
    EXPECT_EQ(tracker.ServerCount(), 2u);
    EXPECT_EQ(tracker.ProcessCount(), 2u);

    tracker.Cancel(true);
    EXPECT_EQ(faulty.references, 0);
    EXPECT_EQ(sound.references, 0);
    EXPECT_EQ(tracker.ServerCount(), 0u);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_TRUE(Ended(running.watch));
    DWORD code = 1;
    EXPECT_TRUE(GetExitCodeProcess(running.watch.get(), &code));
    EXPECT_EQ(code, 0u);
    // The one that had ended keeps its own exit code.
    EXPECT_TRUE(GetExitCodeProcess(ended.watch.get(), &code));
    EXPECT_EQ(code, 3u);
}

// Every wait of a sweep is bounded: a launch that stays in flight and a server whose release
// never returns are passed over, and the programs are terminated and waited for all the same.
// What the passed-over launch tracks afterwards is ended at once.
TEST_F(TrackingTest, ASweepPassesOverALaunchThatStaysInFlightAndAServerThatNeverAnswers) {
    UniqueHandle hold(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    CountingServer silent(false, hold.get());
    LaunchTracker::Ticket ticket = tracker.BeginPass();
    tracker.TrackServer(ticket, &silent);
    Started running = StartSleeper();
    ASSERT_TRUE(running.forTracker);
    tracker.TrackProcess(ticket, running.forTracker);
    std::optional<LaunchTracker::PendingLaunch> launch(tracker.BeginLaunch(ticket));
    ASSERT_TRUE(*launch);

    int progress = 0;
    const LaunchTracker::SweepOutcome outcome =
        tracker.Sweep(tracker.BeginTermination(), {1500, 1500, 5000}, [&] { ++progress; });
    EXPECT_TRUE(outcome.launchesLeft);
    EXPECT_TRUE(outcome.serversLeft);
    EXPECT_EQ(outcome.programsLeft, 0u);
    EXPECT_GE(progress, 2) << "the waits did not report their progress";
    EXPECT_TRUE(Ended(running.watch));
    EXPECT_EQ(tracker.ProcessCount(), 0u);

    Started late = StartSleeper();
    ASSERT_TRUE(late.forTracker);
    launch->Track(late.forTracker);
    launch.reset();
    EXPECT_TRUE(Ended(late.watch));
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    SetEvent(hold.get());
    EXPECT_TRUE(Eventually([&] { return silent.returned.load(); }));
}

}  // namespace
