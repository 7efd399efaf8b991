// How long the COM server must stay: every live object and every LockServer(TRUE) holds one
// lock. When the last lock goes, the action that the host installed runs (a plain COM server
// ends its message loop then; a service does not).
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>
#include <functional>

class ServerLifetime {
public:
    ServerLifetime() = default;
    ServerLifetime(const ServerLifetime&) = delete;
    ServerLifetime& operator=(const ServerLifetime&) = delete;

    // Installed once, before any object exists.
    void SetLastReleaseAction(std::function<void()> action) { lastRelease_ = std::move(action); }

    void Lock() { InterlockedIncrement(&count_); }
    // Releases one lock and returns the locks left. A release without a lock to match is
    // ignored, so the count never goes below zero.
    LONG Unlock();
    LONG Count() const { return count_; }

private:
    volatile LONG count_ = 0;
    std::function<void()> lastRelease_;
};

// What the COM objects of this process share: their lifetime and the configuration keys of the
// service whose catalogue the Module class serves. The host owns the one instance.
struct ComServer {
    ServerLifetime lifetime;
    ServiceKeys keys;
};

// Holds one server lock from construction to destruction.
class ServerLock {
public:
    explicit ServerLock(ServerLifetime& lifetime) : lifetime_(lifetime) { lifetime_.Lock(); }
    ~ServerLock() { (void)lifetime_.Unlock(); }
    ServerLock(const ServerLock&) = delete;
    ServerLock& operator=(const ServerLock&) = delete;

private:
    ServerLifetime& lifetime_;
};
