#include "base/Worker.h"

#include <objbase.h>
#include <utility>

bool Worker::Start(Work work) {
    if (thread_) {
        SetLastError(ERROR_ALREADY_INITIALIZED);
        return false;
    }
    auto shared = std::make_shared<Shared>();
    shared->work = std::move(work);
    shared->cancel.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!shared->cancel) return false;
    auto forThread = std::make_unique<std::shared_ptr<Shared>>(shared);
    thread_.reset(CreateThread(nullptr, 0, &Worker::Run, forThread.get(), 0, nullptr));
    if (!thread_) return false;
    (void)forThread.release();  // the thread owns its share now
    shared_ = std::move(shared);
    return true;
}

void Worker::Cancel() {
    if (shared_) (void)SetEvent(shared_->cancel.get());
}

bool Worker::Join(DWORD timeoutMs) const {
    return !thread_ || WaitForSingleObject(thread_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI Worker::Run(void* parameter) {
    const std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(parameter));
    // A thread that cannot join the apartment still runs its work, as an implicit member of the
    // apartment that the process's main thread has joined.
    ComInitialization apartment(COINIT_MULTITHREADED);
    Shared& state = **shared;
    state.work(state.cancel.get());
    // What the work holds goes while the thread is still in the apartment.
    state.work = nullptr;
    return 0;
}
