// The service's policy for stop, pause and continue: what happens to the launched
// applications, by the service's settings.
#include "base/EventLog.h"
#include "config/ServiceSettings.h"
#include "host/ServiceHost.h"

int ServiceHost::TerminateAllApplications() {
    tracker.Cancel(true);
    return 1;
}

int ServiceHost::OnServiceStop() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    SetServiceState(SERVICE_STOP_PENDING);
    if (IsSettingOn(keys, ServiceSetting::TerminateOnStop))
        TerminateAllApplications();
    else
        tracker.Cancel(false);
    return 1;
}

int ServiceHost::OnServicePause() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    SetServiceState(SERVICE_PAUSE_PENDING);
    if (IsSettingOn(keys, ServiceSetting::TerminateOnPause))
        TerminateAllApplications();
    else
        tracker.Cancel(false);
    SetServiceState(SERVICE_PAUSED);
    return 1;
}

int ServiceHost::OnServiceContinue() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    SetServiceState(SERVICE_CONTINUE_PENDING);
    // The relaunch runs on a worker of its own, as the start's pass does, so that a slow or
    // hung method call never holds up a later control. Its ticket is taken now: a stop or
    // pause that comes before the worker runs still cancels it.
    if (IsSettingOn(keys, ServiceSetting::RelaunchOnContinue) && !StartLaunchWorker(tracker.BeginPass()))
        LogEventText("Could not create worker thread");
    SetServiceState(SERVICE_RUNNING);
    return 1;
}
