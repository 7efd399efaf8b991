// The service's policy for stop, pause and continue: what happens to the launched
// applications, by the service's settings.
#include "base/EventLog.h"
#include "config/ServiceSettings.h"
#include "config/Application.h"
#include "host/ServiceHost.h"
#include "launch/GracefulEnd.h"
#include "messages.h"

#include <string>

void ServiceHost::EndApplications(DWORD graceMs, DWORD endState, const std::function<bool()>& stillWanted) {
    AdvanceCheckpoint();  // the first wait hint, before the first second has passed
    std::size_t left = 0;
    if (graceMs > 0)
        left = AskToEndAndWait(tracker_.DuplicateProcesses(), graceMs, [&] {
            if (!stillWanted()) return false;
            AdvanceCheckpoint();
            return true;
        });
    // Under the state lock, so that a continue that comes meanwhile waits for the end of the
    // sweep (every wait of which is bounded) rather than see its relaunched programs ended.
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    if (!stillWanted()) return;  // another control has taken over
    const LaunchTracker::SweepOutcome outcome =
        tracker_.Sweep(tracker_.BeginTermination(), LaunchTracker::SweepBounds{}, [this] { AdvanceCheckpoint(); });
    // What the programs started themselves, when they run in the service's job.
    supervisor_.EndProcessTrees();
    statusBoard_.ServersEnded();
    // What the ended programs wrote is in their logs before the service reports the end; a
    // process still holding a pipe open holds the wait only up to the sweep's bound.
    const DWORD drainMs = LaunchTracker::SweepBounds{}.exitsMs;
    const std::size_t streamsOpen = output_.Drain(drainMs, [this] { AdvanceCheckpoint(); });
    if (streamsOpen > 0)
        LogEventById(MSG_LOG_DRAIN_INCOMPLETE, EVENTLOG_WARNING_TYPE, {std::to_string(streamsOpen), std::to_string(drainMs)});
    if (left > 0)
        LogEventById(MSG_PROGRAMS_TERMINATED, EVENTLOG_WARNING_TYPE,
                     {std::to_string(left), std::to_string(graceMs)});
    if (outcome.serversLeft)
        LogEventText("An ActiveX server did not answer its release in time; the service went on without it.");
    if (outcome.launchesLeft || outcome.programsLeft > 0)
        LogEventText("Not every application had ended in time; the service went on without waiting for it.");
    if (endState != 0) SetServiceState(endState);
}

int ServiceHost::OnServiceStop() {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    ++controlCount_;
    SetServiceState(SERVICE_STOP_PENDING);
    // Before anything ends: what the stop ends is never started again.
    supervisor_.OnStop();
    tracker_.Cancel(false);
    // The programs are ended on the service thread once its message loop has ended, so that
    // the control handler is never held up.
    if (IsSettingOn(identity_.keys, ServiceSetting::TerminateOnStop)) {
        stopGraceMs_ = GracefulStopTimeoutMs(identity_.keys);
        stopTerminates_ = true;
    }
    return 1;
}

void ServiceHost::StopAfterGiveUp() {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    if (status_.dwCurrentState == SERVICE_STOP_PENDING || status_.dwCurrentState == SERVICE_STOPPED) return;
    status_.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status_.dwServiceSpecificExitCode = kGiveUpExitCode;
    OnServiceStop();
    PostThreadMessageA(messageThreadId_, WM_QUIT, 0, 0);
}

int ServiceHost::OnServicePause() {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    const unsigned pause = ++controlCount_;
    SetServiceState(SERVICE_PAUSE_PENDING);
    const bool terminate = IsSettingOn(identity_.keys, ServiceSetting::TerminateOnPause);
    supervisor_.OnPause(terminate);
    tracker_.Cancel(false);
    if (!terminate) {
        SetServiceState(SERVICE_PAUSED);
        return 1;
    }
    // The programs are ended on a worker of their own, so that the control handler is not held
    // up; it reports PAUSED when they have ended, unless another control came meanwhile (a stop
    // counts as one, so the worker gives way to it without a signal of its own).
    const DWORD grace = GracefulStopTimeoutMs(identity_.keys);
    auto endApplications = [this, grace, pause] {
        EndApplications(grace, SERVICE_PAUSED, [this, pause] { return controlCount_ == pause; });
    };
    if (!StartWorker(endApplications)) endApplications();
    return 1;
}

int ServiceHost::OnServiceContinue() {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    ++controlCount_;
    SetServiceState(SERVICE_CONTINUE_PENDING);
    supervisor_.OnContinue();
    // The relaunch runs on a worker of its own, as the start's pass does, so that a slow or
    // hung method call never holds up a later control. Its ticket is taken now: a stop or
    // pause that comes before the worker runs still cancels it.
    if (IsSettingOn(identity_.keys, ServiceSetting::RelaunchOnContinue) && !StartLaunchWorker(tracker_.BeginPass()))
        LogEventText("Could not create worker thread");
    SetServiceState(SERVICE_RUNNING);
    return 1;
}
