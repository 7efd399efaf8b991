// The service's policy for stop, pause and continue: what happens to the launched
// applications, by the service's settings.
#include "base/EventLog.h"
#include "config/ServiceSettings.h"
#include "config/SupervisionSettings.h"
#include "host/ServiceHost.h"
#include "launch/GracefulEnd.h"
#include "messages.h"

#include <string>

int ServiceHost::TerminateAllApplications() {
    tracker.Cancel(true);
    // What the programs started themselves, when they run in the service's job.
    supervisor.EndProcessTrees();
    return 1;
}

void ServiceHost::EndApplicationsGracefully(DWORD timeoutMs, DWORD endState,
                                            const std::function<bool()>& stillWanted) {
    AdvanceCheckpoint();  // the first wait hint, before the first second has passed
    const std::size_t left = AskToEndAndWait(tracker.DuplicateProcesses(), timeoutMs, [&] {
        if (!stillWanted()) return false;
        AdvanceCheckpoint();
        return true;
    });
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    if (!stillWanted()) return;  // another control has taken over
    TerminateAllApplications();
    if (left > 0)
        LogEventById(MSG_PROGRAMS_TERMINATED, EVENTLOG_WARNING_TYPE,
                     {std::to_string(left), std::to_string(timeoutMs)});
    if (endState != 0) SetServiceState(endState);
}

int ServiceHost::OnServiceStop() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    ++controlCount;
    SetServiceState(SERVICE_STOP_PENDING);
    // Before anything ends: what the stop ends is never started again.
    supervisor.OnStop();
    if (!IsSettingOn(keys, ServiceSetting::TerminateOnStop)) {
        tracker.Cancel(false);
        return 1;
    }
    if (const DWORD grace = GracefulStopTimeoutMs(keys)) {
        // The passes end now; the programs are asked to end once the message loop has ended.
        tracker.Cancel(false);
        stopGraceMs = grace;
        return 1;
    }
    TerminateAllApplications();
    return 1;
}

int ServiceHost::OnServicePause() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    const unsigned pause = ++controlCount;
    SetServiceState(SERVICE_PAUSE_PENDING);
    const bool terminate = IsSettingOn(keys, ServiceSetting::TerminateOnPause);
    supervisor.OnPause(terminate);
    const DWORD grace = terminate ? GracefulStopTimeoutMs(keys) : 0;
    if (grace == 0) {
        if (terminate)
            TerminateAllApplications();
        else
            tracker.Cancel(false);
        SetServiceState(SERVICE_PAUSED);
        return 1;
    }
    // The programs are asked to end on a thread of its own, so that the control handler is not
    // held up; it reports PAUSED when they have ended, unless another control came meanwhile.
    tracker.Cancel(false);
    auto endGracefully = [this, grace, pause] {
        EndApplicationsGracefully(grace, SERVICE_PAUSED, [this, pause] { return controlCount == pause; });
    };
    if (!StartThread(endGracefully)) endGracefully();
    return 1;
}

int ServiceHost::OnServiceContinue() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    ++controlCount;
    SetServiceState(SERVICE_CONTINUE_PENDING);
    supervisor.OnContinue();
    // The relaunch runs on a worker of its own, as the start's pass does, so that a slow or
    // hung method call never holds up a later control. Its ticket is taken now: a stop or
    // pause that comes before the worker runs still cancels it.
    if (IsSettingOn(keys, ServiceSetting::RelaunchOnContinue) && !StartLaunchWorker(tracker.BeginPass()))
        LogEventText("Could not create worker thread");
    SetServiceState(SERVICE_RUNNING);
    return 1;
}
