// The fault guard takes only a fault that nothing inside the guarded call handles, on its own
// thread; C++ exceptions pass through it.
#include "base/FaultGuard.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>

// Writes 1 to *target under an exception frame of its own, as a server's __try/__except makes
// one: its handler commits the reserved page that the write faults on, and the write goes on.
extern "C" void WriteUnderOwnHandler(volatile LONG* target) asm("TestWriteUnderOwnHandler");
std::atomic<int> committedByHandler{0};
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION
CommitOnDemand(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) asm("TestCommitOnDemand");
EXCEPTION_DISPOSITION CommitOnDemand(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || (record->ExceptionFlags & EXCEPTION_UNWIND))
        return ExceptionContinueSearch;
    if (!VirtualAlloc(reinterpret_cast<void*>(record->ExceptionInformation[1]), 1, MEM_COMMIT, PAGE_READWRITE))
        return ExceptionContinueSearch;
    ++committedByHandler;
    return ExceptionContinueExecution;
}
#if defined(__x86_64__)
asm(R"(
    .text
    .def TestWriteUnderOwnHandler; .scl 2; .type 32; .endef
    .seh_proc TestWriteUnderOwnHandler
TestWriteUnderOwnHandler:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movl $1, (%rcx)
    nop
    addq $40, %rsp
    ret
    .seh_handler TestCommitOnDemand, @except
    .seh_endproc
)");
#else
asm(R"(
    .text
TestWriteUnderOwnHandler:
    movl 4(%esp), %ecx
    pushl $TestCommitOnDemand
    pushl %fs:0
    movl %esp, %fs:0
    movl $1, (%ecx)
    popl %fs:0
    addl $4, %esp
    ret
)");
#endif

namespace {

struct Call {
    volatile LONG* page;  // reserved, not committed: a write to it faults
    bool finished = false;
};

void WriteUnguarded(void* call) {
    *static_cast<Call*>(call)->page = 1;
    static_cast<Call*>(call)->finished = true;
}

TEST(FaultGuard, OnlyAFaultThatNothingInsideTheCallHandlesEndsIt) {
    const struct {
        const char* name;
        void (*action)(void*);
        bool survives;   // the call runs to its end and the guard returns true
        bool committed;  // the write's own frame handled the fault
    } cases[] = {
        {"unhandled fault", &WriteUnguarded, false, false},
        {"fault handled by the call's own frame",
         [](void* call) {
             WriteUnderOwnHandler(static_cast<Call*>(call)->page);
             static_cast<Call*>(call)->finished = true;
         },
         true, true},
        {"fault handled by an inner guard",
         [](void* call) { static_cast<Call*>(call)->finished = !CallSurvivingFaults(&WriteUnguarded, call); }, true,
         false},
        {"fault on another thread, handled there",
         [](void* call) {
             std::thread([call] { WriteUnderOwnHandler(static_cast<Call*>(call)->page); }).join();
             static_cast<Call*>(call)->finished = true;
         },
         true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Call call{static_cast<LONG*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_READWRITE))};
        ASSERT_NE(call.page, nullptr);
        committedByHandler = 0;
        EXPECT_EQ(CallSurvivingFaults(c.action, &call), c.survives);
        EXPECT_EQ(call.finished, c.survives);
        EXPECT_EQ(committedByHandler, c.committed ? 1 : 0);
        if (committedByHandler > 0) {  // a page that no handler committed cannot be read
            EXPECT_EQ(*call.page, 1);
        }
        VirtualFree(const_cast<LONG*>(call.page), 0, MEM_RELEASE);
    }
    EXPECT_THROW(CallSurvivingFaults([](void*) { throw std::runtime_error("thrown"); }, nullptr), std::runtime_error);
}

}  // namespace
