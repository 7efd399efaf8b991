#include "launch/Supervisor.h"

#include "base/EventLog.h"
#include "config/Application.h"
#include "config/ServiceSettings.h"
#include "launch/StartApplication.h"
#include "messages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// A run shorter than this counts as a failure to stay up: the next wait doubles.
constexpr ULONGLONG kShortRunMs = 10000;
constexpr ULONGLONG kLongestWaitMs = 60000;
// The least that a wait grows to, so that a delay of 0 cannot restart a crashing program in a
// tight loop.
constexpr ULONGLONG kLeastGrownWaitMs = 100;

// A handle of a program for waiting until it ends and reading its exit code.
UniqueHandle WatchingHandle(HANDLE process) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy,
                         SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, 0))
        return UniqueHandle();
    return UniqueHandle(copy);
}

// Small codes in decimal, status codes (a crash's 0xC0000005) in hexadecimal.
std::string ExitCodeText(DWORD code) {
    if (code < 0x10000) return std::to_string(code);
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

void ReportWarning(DWORD messageId, const std::vector<std::string>& inserts) {
    LogEventById(messageId, EVENTLOG_WARNING_TYPE, inserts);
}

}  // namespace

DWORD RestartWaitMs(DWORD restartDelayMs, std::optional<DWORD> lastWaitMs, ULONGLONG ranMs) {
    if (!lastWaitMs || ranMs >= kShortRunMs) return restartDelayMs;
    const ULONGLONG doubled = std::max<ULONGLONG>(2ull * *lastWaitMs, kLeastGrownWaitMs);
    const ULONGLONG longest = std::max<ULONGLONG>(kLongestWaitMs, restartDelayMs);
    return static_cast<DWORD>(std::min(std::max<ULONGLONG>(doubled, restartDelayMs), longest));
}

Supervisor::Supervisor(const ServiceKeys& keys, LaunchTracker& tracker, ProgramOutput* output,
                       std::function<void()> giveUpStop, StatusBoard* board)
    : keys_(keys), tracker_(tracker), output_(output), giveUpStop_(std::move(giveUpStop)), board_(board) {}

Supervisor::~Supervisor() {
    std::vector<Worker*> threads;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shuttingDown_ = true;
        for (const auto& watcher : watchers_) threads.push_back(&watcher->thread);
    }
    for (Worker* thread : threads) thread->Cancel();
    changed_.notify_all();
    // Outside the lock: a watcher takes it once more to say that it has finished.
    for (const Worker* thread : threads) (void)thread->Join(INFINITE);
    // Waits for the callbacks under way, which only publish an exit.
    std::list<std::unique_ptr<ExitWait>> exitWaits;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        exitWaits.swap(exitWaits_);
    }
    for (const auto& exitWait : exitWaits) (void)UnregisterWaitEx(exitWait->wait, INVALID_HANDLE_VALUE);
}

HANDLE Supervisor::JobForNewPrograms() {
    if (!IsSettingOn(keys_, ServiceSetting::TerminateProcessTree)) return nullptr;
    std::lock_guard<std::mutex> guard(mutex_);
    // No limits: the job serves only to end a program's processes with it. Programs outlive
    // the service as before when the service does not end them.
    if (!job_) job_.reset(CreateJobObjectA(nullptr, nullptr));
    return job_.get();
}

void Supervisor::Adopt(const std::string& application, const StartedProgram& started) {
    const DWORD instance = started.instance;
    ReportJobError(application, started);
    if (board_) board_->Started(application, instance, false, started.processId);
    if (ReadApplication(keys_, application).restartOnExit != 1) {
        if (board_ && board_->IsOpen()) WaitForExit(application, instance, WatchingHandle(started.process.get()));
        return;
    }

    auto watcher = std::make_unique<Watcher>();
    watcher->owner = this;
    watcher->line.application = application;
    watcher->line.instance = instance;
    watcher->line.process = WatchingHandle(started.process.get());
    watcher->line.processId = started.processId;
    watcher->line.startedAt = GetTickCount64();
    // A program that cannot be watched runs and is tracked like any other.
    if (!watcher->line.process) return;

    std::lock_guard<std::mutex> guard(mutex_);
    ReapFinishedWatchers();
    if (shuttingDown_) return;
    Watcher* adopted = watcher.get();
    watchers_.push_back(std::move(watcher));
    if (!adopted->thread.Start([adopted](HANDLE cancel) { RunWatcher(*adopted, cancel); })) watchers_.pop_back();
}

void Supervisor::WaitForExit(const std::string& application, DWORD instance, UniqueHandle process) {
    if (!process) return;
    auto exitWait = std::make_unique<ExitWait>();
    exitWait->owner = this;
    exitWait->application = application;
    exitWait->instance = instance;
    exitWait->process = std::move(process);
    std::lock_guard<std::mutex> guard(mutex_);
    if (shuttingDown_) return;
    // Waits that have fired are let go with the handles they held.
    for (auto done = exitWaits_.begin(); done != exitWaits_.end();) {
        if ((*done)->published) {
            (void)UnregisterWaitEx((*done)->wait, INVALID_HANDLE_VALUE);  // its callback is at its end
            done = exitWaits_.erase(done);
        }
        else
            ++done;
    }
    if (!RegisterWaitForSingleObject(&exitWait->wait, exitWait->process.get(), &Supervisor::OnExit, exitWait.get(),
                                     INFINITE, WT_EXECUTEONLYONCE))
        return;
    exitWaits_.push_back(std::move(exitWait));
}

void CALLBACK Supervisor::OnExit(void* context, BOOLEAN) {
    ExitWait& exitWait = *static_cast<ExitWait*>(context);
    DWORD code = 0;
    (void)GetExitCodeProcess(exitWait.process.get(), &code);
    exitWait.owner->board_->Exited(exitWait.application, exitWait.instance, code, InstanceState::Ended);
    exitWait.published = true;
}

void Supervisor::ReportJobError(const std::string& application, const StartedProgram& started) {
    if (started.jobError == 0 || jobErrorReported_.exchange(true)) return;
    ReportWarning(MSG_JOB_NOT_JOINED, {application, std::to_string(started.jobError)});
}

void Supervisor::ReapFinishedWatchers() {
    for (auto watcher = watchers_.begin(); watcher != watchers_.end();) {
        // One that has said it finished has only its return left; it goes once it has
        // returned, so that a launch in flight never waits here for a thread to end.
        if ((*watcher)->finished && (*watcher)->thread.Join(0))
            watcher = watchers_.erase(watcher);
        else
            ++watcher;
    }
}

void Supervisor::OnPause(bool applicationsEnd) {
    std::lock_guard<std::mutex> guard(mutex_);
    state_ = State::Paused;
    if (applicationsEnd) ++generation_;
    changed_.notify_all();
}

void Supervisor::OnContinue() {
    std::lock_guard<std::mutex> guard(mutex_);
    state_ = State::Running;
    changed_.notify_all();
}

void Supervisor::OnStop() {
    std::lock_guard<std::mutex> guard(mutex_);
    state_ = State::Stopping;
    ++generation_;
    changed_.notify_all();
}

void Supervisor::EndProcessTrees() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (job_) (void)TerminateJobObject(job_.get(), 0);
}

void Supervisor::FinishExitReports(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        for (const auto& watcher : watchers_)
            if (!watcher->finished && WaitForSingleObject(watcher->line.process.get(), 0) == WAIT_OBJECT_0)
                return false;
        return true;
    });
}

void Supervisor::RunWatcher(Watcher& watcher, HANDLE cancel) {
    Supervisor& owner = *watcher.owner;
    owner.Watch(watcher.line, cancel);
    std::lock_guard<std::mutex> guard(owner.mutex_);
    watcher.finished = true;
    owner.changed_.notify_all();
}

void Supervisor::Watch(Line& line, HANDLE cancel) {
    while (WaitForEnd(line, cancel)) {
        std::optional<Restart> restart = ReportExit(line);
        for (;;) {
            if (!restart) return;
            std::optional<LaunchTracker::PendingLaunch> launch = AwaitRestart(*restart);
            if (!launch) return;
            const Outcome outcome = StartAgain(line, *launch);
            if (outcome == Outcome::Started) break;
            if (outcome == Outcome::Abandoned) return;
            // The failed start has reported itself; the next try waits as after a run that
            // ended at once, so a program that cannot start is tried less and less often.
            const DWORD delayMs = static_cast<DWORD>(ReadApplication(keys_, line.application).restartDelay);
            restart = ScheduleRestart(line, delayMs, 0, restart->generation);
        }
    }
}

bool Supervisor::WaitForEnd(const Line& line, HANDLE cancel) {
    const HANDLE waits[] = {line.process.get(), cancel};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
}

std::optional<Supervisor::Restart> Supervisor::ReportExit(Line& line) {
    DWORD code = 0;
    (void)GetExitCodeProcess(line.process.get(), &code);
    const ULONGLONG ranMs = GetTickCount64() - line.startedAt;
    std::vector<std::string> inserts = {line.application, std::to_string(line.processId), ExitCodeText(code)};

    State state;
    unsigned generation;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        state = state_;
        generation = generation_;
    }
    const auto publish = [&](InstanceState next, DWORD restartInMs = 0) {
        if (board_) board_->Exited(line.application, line.instance, code, next, restartInMs);
    };
    if (state == State::Stopping) {
        publish(InstanceState::Ended);
        ReportWarning(MSG_PROGRAM_ENDED_STOPPING, inserts);
        return std::nullopt;
    }
    if (state == State::Paused) {
        publish(InstanceState::Ended);
        ReportWarning(MSG_PROGRAM_ENDED_PAUSED, inserts);
        return std::nullopt;
    }
    const Application record = ReadApplication(keys_, line.application);
    if (!AsksForRestart(record)) {
        publish(InstanceState::Ended);
        ReportWarning(MSG_PROGRAM_ENDED_NOT_WANTED, inserts);
        return std::nullopt;
    }
    std::vector<DWORD> doneCodes;
    if (ParseExitCodes(record.successExitCodes, doneCodes) &&
        std::find(doneCodes.begin(), doneCodes.end(), code) != doneCodes.end()) {
        publish(InstanceState::Ended);
        LogEventById(MSG_PROGRAM_ENDED_DONE, EVENTLOG_INFORMATION_TYPE, inserts);
        return std::nullopt;
    }
    const ULONGLONG now = GetTickCount64();
    if (LimitReached(line, record, now)) {
        inserts.push_back(std::to_string(line.restarts.size()));
        inserts.push_back(record.restartWindow > 0 ? std::to_string(record.restartWindow) + " ms"
                                                   : std::string("the instance's run"));
        publish(InstanceState::GivenUp);
        ReportWarning(MSG_PROGRAM_GIVEN_UP, inserts);
        if (record.stopServiceOnGiveUp == 1 && giveUpStop_) giveUpStop_();
        return std::nullopt;
    }
    line.restarts.push_back(now);
    const Restart restart = ScheduleRestart(line, static_cast<DWORD>(record.restartDelay), ranMs, generation);
    publish(InstanceState::WaitingToRestart, restart.waitMs);
    inserts.push_back(std::to_string(restart.waitMs));
    ReportWarning(MSG_PROGRAM_RESTARTING, inserts);
    return restart;
}

Supervisor::Restart Supervisor::ScheduleRestart(Line& line, DWORD delayMs, ULONGLONG ranMs, unsigned generation) {
    const DWORD waitMs = RestartWaitMs(delayMs, line.lastWaitMs, ranMs);
    line.lastWaitMs = waitMs;
    return Restart{generation, GetTickCount64() + waitMs, waitMs};
}

bool Supervisor::AsksForRestart(const Application& record) {
    return record.restartOnExit == 1 && !record.IsActiveX() && record.instances != 0;
}

bool Supervisor::LimitReached(Line& line, const Application& record, ULONGLONG now) {
    if (record.restartLimit <= 0) return false;
    if (record.restartWindow > 0)
        while (!line.restarts.empty() && now - line.restarts.front() > static_cast<DWORD>(record.restartWindow))
            line.restarts.pop_front();
    return line.restarts.size() >= static_cast<std::size_t>(record.restartLimit);
}

std::optional<LaunchTracker::PendingLaunch> Supervisor::AwaitRestart(const Restart& restart) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (shuttingDown_ || state_ == State::Stopping || generation_ != restart.generation) return std::nullopt;
        const ULONGLONG now = GetTickCount64();
        if (state_ == State::Running && now >= restart.due) break;
        if (state_ == State::Running)
            changed_.wait_for(lock, std::chrono::milliseconds(restart.due - now));
        else
            changed_.wait(lock);  // paused: until the continue, or a stop
    }
    // Begun under the lock, with the service found running: a stop or pause that comes later
    // either cancels this launch or waits for it and ends what it starts.
    LaunchTracker::PendingLaunch launch = tracker_.BeginLaunch(tracker_.BeginPass());
    if (!launch) return std::nullopt;
    return std::optional<LaunchTracker::PendingLaunch>(std::move(launch));
}

Supervisor::Outcome Supervisor::StartAgain(Line& line, LaunchTracker::PendingLaunch& launch) {
    // Read again now: the configuration may have changed while the program ran.
    const Application record = ReadApplication(keys_, line.application);
    if (record.IsActiveX() || record.instances == 0 || record.attrib < 0) return Outcome::Abandoned;

    StartedProgram started;
    if (FAILED(StartProgram(record, started, JobForNewPrograms(), output_, line.instance))) return Outcome::Failed;
    ReportJobError(line.application, started);
    UniqueHandle watching = WatchingHandle(started.process.get());
    const bool watched = static_cast<bool>(watching);
    if (watched) {
        std::lock_guard<std::mutex> guard(mutex_);
        line.process = std::move(watching);
        line.processId = started.processId;
        line.startedAt = GetTickCount64();
    }
    if (board_) board_->Restarted(line.application, line.instance, started.processId);
    launch.Track(started.process.release());
    return watched ? Outcome::Started : Outcome::Abandoned;
}
