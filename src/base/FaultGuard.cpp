#include "base/FaultGuard.h"

#include <windows.h>
#include <mutex>

namespace {

// One guard on the stack of the thread that called through it.
struct Guard {
    CONTEXT resume;  // where the guard continues after a fault
    volatile bool faulted;
};

DWORD guardSlot = TLS_OUT_OF_INDEXES;  // the innermost guard of each thread

bool IsHardwareFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        return true;
    default:
        return false;  // C++ exceptions and everything else take their usual way
    }
}

LONG CALLBACK ReturnToGuard(EXCEPTION_POINTERS* exception) {
    if (!IsHardwareFault(exception->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    auto* guard = static_cast<Guard*>(TlsGetValue(guardSlot));
    if (!guard) return EXCEPTION_CONTINUE_SEARCH;
    guard->faulted = true;
    *exception->ContextRecord = guard->resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

bool InstallHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        guardSlot = TlsAlloc();
        if (guardSlot != TLS_OUT_OF_INDEXES) AddVectoredExceptionHandler(1, &ReturnToGuard);
    });
    return guardSlot != TLS_OUT_OF_INDEXES;
}

}  // namespace

bool CallSurvivingFaults(void (*action)(void*), void* argument) {
    if (!InstallHandler()) {
        action(argument);  // no slot for a guard: the call runs unguarded
        return true;
    }
    Guard guard;
    guard.faulted = false;
    void* const outer = TlsGetValue(guardSlot);
    // A fault inside the action continues here a second time, with faulted set.
    RtlCaptureContext(&guard.resume);
    if (guard.faulted) {
        TlsSetValue(guardSlot, outer);
        return false;
    }
    TlsSetValue(guardSlot, &guard);
    action(argument);
    TlsSetValue(guardSlot, outer);
    return true;
}
