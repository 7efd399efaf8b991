// Supervision of the standard programs that the launches start: the service's job object, in
// which a program and every process it starts are ended together (TerminateProcessTree), and
// starting again a program that ends by itself (RestartOnExit, RestartDelay).
//
// A program whose application asks for it gets a watcher thread for as long as it and its
// restarts live. The watcher waits for the program to end, reports the exit to the event log,
// waits the restart delay and starts the program again as a launch of its own (with its own
// ticket of the tracker), so that a restarted program is tracked, and ended by a stop or pause,
// like the first. What follows an exit depends on the service's state, which the reactions set
// before they end anything: only an exit while the service runs is followed by a restart; a
// restart that comes due while the service is paused waits for the continue; a stop, or a pause
// that ends the applications, forgets the restarts still to come.
#pragma once
#include "base/Owners.h"
#include "base/Worker.h"
#include "config/LiveStatus.h"
#include "config/ServiceKeys.h"
#include "launch/Tracking.h"

#include <windows.h>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct Application;
struct StartedProgram;
class ProgramOutput;

// The wait before a program is started again: restartDelayMs after its first exit and after a
// run of 10 seconds or more; after a shorter run twice the last wait (a delay of 0 grows too), at
// most 60 seconds, or restartDelayMs when that is longer.
DWORD RestartWaitMs(DWORD restartDelayMs, std::optional<DWORD> lastWaitMs, ULONGLONG ranMs);

class Supervisor {
public:
    // With output, the programs' standard output and error go to their applications' logs.
    // giveUpStop is called, on a watcher's thread, when a program given up asks for the
    // service to stop (StopServiceOnGiveUp 1). board, when given, is told of every program's
    // start, exit and restart.
    Supervisor(const ServiceKeys& keys, LaunchTracker& tracker, ProgramOutput* output = nullptr,
               std::function<void()> giveUpStop = {}, StatusBoard* board = nullptr);
    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;
    // Ends the watchers; the programs keep running. No launch may be in progress.
    ~Supervisor();

    // The job in which the next programs are to be started: the service's own when
    // TerminateProcessTree is 1 (made at its first use), else null.
    HANDLE JobForNewPrograms();
    // Where the programs' output goes; null when nowhere.
    ProgramOutput* Output() const { return output_; }
    // Called for every standard program that a launch has just started, before it is tracked:
    // reports (once) a program that could not join the job, and watches the program when its
    // application's RestartOnExit is 1 (else, while the status is published, waits for its exit
    // only to publish it).
    void Adopt(const std::string& application, const StartedProgram& started);
    StatusBoard* Board() const { return board_; }

    // The service's state, set by the reactions before they end anything.
    void OnPause(bool applicationsEnd);
    void OnContinue();
    void OnStop();
    // Ends every process left in the job; called after the tracked programs were terminated.
    void EndProcessTrees();
    // Waits, at most timeoutMs, until every watched program that has ended has had its exit
    // reported, so that a stop does not end the process before the reports are made.
    void FinishExitReports(DWORD timeoutMs);

private:
    enum class State { Running, Paused, Stopping };
    enum class Outcome { Started, Failed, Abandoned };
    // One program and the restarts that follow it; only its watcher changes it, under mutex_.
    struct Line {
        std::string application;
        DWORD instance = 0;
        UniqueHandle process;  // for waiting and the exit code
        DWORD processId = 0;
        ULONGLONG startedAt = 0;
        std::optional<DWORD> lastWaitMs;
        std::deque<ULONGLONG> restarts;  // when it was started again, the oldest first
    };
    struct Watcher {
        Supervisor* owner = nullptr;
        Line line;
        Worker thread;
        bool finished = false;  // under mutex_
    };
    struct Restart {
        unsigned generation;
        ULONGLONG due;
        DWORD waitMs;
    };

    // The exit of a program that is not started again, waited for by the thread pool.
    struct ExitWait {
        Supervisor* owner = nullptr;
        std::string application;
        DWORD instance = 0;
        UniqueHandle process;
        HANDLE wait = nullptr;
        std::atomic<bool> published{false};  // the callback has done its work
    };
    static void CALLBACK OnExit(void* context, BOOLEAN);
    void WaitForExit(const std::string& application, DWORD instance, UniqueHandle process);

    static void RunWatcher(Watcher& watcher, HANDLE cancel);
    // cancel is the watcher's own signal, set when the supervisor goes away.
    void Watch(Line& line, HANDLE cancel);
    bool WaitForEnd(const Line& line, HANDLE cancel);
    std::optional<Restart> ReportExit(Line& line);
    Restart ScheduleRestart(Line& line, DWORD delayMs, ULONGLONG ranMs, unsigned generation);
    std::optional<LaunchTracker::PendingLaunch> AwaitRestart(const Restart& restart);
    Outcome StartAgain(Line& line, LaunchTracker::PendingLaunch& launch);
    bool AsksForRestart(const Application& record);
    // Whether another restart would exceed the application's RestartLimit within its
    // RestartWindow; forgets the restarts that have left the window.
    static bool LimitReached(Line& line, const Application& record, ULONGLONG now);
    void ReportJobError(const std::string& application, const StartedProgram& started);
    void ReapFinishedWatchers();

    const ServiceKeys& keys_;
    LaunchTracker& tracker_;
    ProgramOutput* const output_;
    const std::function<void()> giveUpStop_;
    StatusBoard* const board_;
    std::atomic<bool> jobErrorReported_{false};

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    State state_ = State::Running;
    // Counts the stops and the pauses that end the applications: a restart scheduled before
    // one of them does not happen.
    unsigned generation_ = 0;
    bool shuttingDown_ = false;
    UniqueHandle job_;
    std::list<std::unique_ptr<Watcher>> watchers_;
    std::list<std::unique_ptr<ExitWait>> exitWaits_;
};
