// A thread of the service's own, owned by one object. The thread is a member of the
// multithreaded apartment for its whole life (every object the service calls lives there), it
// is handed a cancel signal that its work may wait on, and its owner can wait for its end
// within a bound.
//
// Going away does not wait: a thread still at work then (inside a server's method call, or in
// a release that never returns) runs on with what it shares with its owner, and the process's
// end takes it along.
#pragma once
#include "base/Owners.h"

#include <windows.h>
#include <functional>
#include <memory>

class Worker {
public:
    // The work is handed the cancel signal: a manual-reset event, set by Cancel and left set.
    using Work = std::function<void(HANDLE cancel)>;

    Worker() = default;
    Worker(Worker&&) noexcept = default;
    Worker& operator=(Worker&&) noexcept = default;
    ~Worker() = default;

    // Runs work on a new thread; false (last error set) when the thread or its signal cannot
    // be created, and when this worker has already started one.
    [[nodiscard]] bool Start(Work work);
    // Sets the cancel signal; nothing when no thread was started.
    void Cancel();
    // Waits at most timeoutMs for the thread to end; true when it has ended or never started.
    [[nodiscard]] bool Join(DWORD timeoutMs) const;
    // The thread, for a wait among other handles; null before Start.
    HANDLE Thread() const { return thread_.get(); }

private:
    // What the thread and its owner share; the thread holds it until it returns.
    struct Shared {
        Work work;
        UniqueHandle cancel;
    };
    static DWORD WINAPI Run(void* parameter);

    std::shared_ptr<Shared> shared_;
    UniqueHandle thread_;
};
