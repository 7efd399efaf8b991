#include "base/FaultGuard.h"

#include <windows.h>
#include <exception>

// The guard is a frame of its own on the calling thread's stack, with an exception handler that
// the system's frame-based dispatch reaches only after every frame inside the call (a server's
// own __try/__except, an inner guard) has declined the exception. A fault that code inside the
// call handles is therefore never seen here, and a fault on another thread never meets this
// frame. The frame is a small routine in assembly, since this compiler has no __try/__except:
//   int GuardedCall(void (*action)(void*), void* argument)
// calls action(argument) and returns 1; after a fault that nothing inside handles it returns 0,
// without running or unwinding what was left of the call.
extern "C" int GuardedCall(void (*action)(void*), void* argument) asm("CorvaneGuardedCall");

namespace {

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

// The action and what it threw, if it threw: a C++ exception is caught inside the guard's frame
// and thrown again outside it, since on x86 it could not unwind through the frame.
struct GuardedAction {
    void (*action)(void*);
    void* argument;
    std::exception_ptr thrown;
};

void RunAction(void* parameter) {
    auto* call = static_cast<GuardedAction*>(parameter);
    try {
        call->action(call->argument);
    } catch (...) {
        call->thrown = std::current_exception();
    }
}

// Whether the guard takes this exception: a hardware fault that is being dispatched (not an
// unwind passing through the frame) and that execution may continue after.
bool GuardTakes(const EXCEPTION_RECORD* record) {
    return (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND | EXCEPTION_NONCONTINUABLE)) == 0 &&
           IsHardwareFault(record->ExceptionCode);
}

}  // namespace

#if defined(__x86_64__)

// The frame's handler (the language handler of GuardedCall's unwind information). The dispatcher
// hands it the registers as they are once GuardedCall's frame is unwound: those of its caller
// at the return, every callee-saved register restored through the frames of the abandoned call.
// Execution continues there with 0 as the result.
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION
GuardFrameHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void* dispatch) asm("CorvaneGuardFrameHandler");
EXCEPTION_DISPOSITION GuardFrameHandler(EXCEPTION_RECORD* record, void*, CONTEXT* context, void* dispatch) {
    if (!GuardTakes(record)) return ExceptionContinueSearch;
    const CONTEXT& returned = *static_cast<DISPATCHER_CONTEXT*>(dispatch)->ContextRecord;
    *context = returned;
    context->Rax = 0;
    context->EFlags &= ~0x400u;  // the direction flag is clear at every call boundary
    return ExceptionContinueExecution;
}

asm(R"(
    .text
    .p2align 4
    .globl CorvaneGuardedCall
    .def CorvaneGuardedCall; .scl 2; .type 32; .endef
    .seh_proc CorvaneGuardedCall
CorvaneGuardedCall:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movl $1, %eax
    addq $40, %rsp
    ret
    .seh_handler CorvaneGuardFrameHandler, @except
    .seh_endproc
)");

#elif defined(__i386__)

// On x86 the frame is a registration record linked into the thread's handler chain (fs:[0])
// while the action runs. The handler continues at the routine's resume point with the stack
// back at the record and 0 as the result; the resume point unlinks the record (and with it
// the records of the abandoned call) and restores the callee-saved registers from the stack.
extern "C" void GuardResume() asm("CorvaneGuardResume");
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION __cdecl
GuardFrameHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*) asm("CorvaneGuardFrameHandler");
EXCEPTION_DISPOSITION __cdecl GuardFrameHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context, void*) {
    if (!GuardTakes(record)) return ExceptionContinueSearch;
    context->Esp = reinterpret_cast<DWORD>(frame);
    context->Eip = reinterpret_cast<DWORD>(&GuardResume);
    context->Eax = 0;
    context->EFlags &= ~0x400u;  // the direction flag is clear at every call boundary
    return ExceptionContinueExecution;
}

asm(R"(
    .text
    .p2align 4
    .globl CorvaneGuardedCall
    .def CorvaneGuardedCall; .scl 2; .type 32; .endef
CorvaneGuardedCall:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $CorvaneGuardFrameHandler
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    calll *8(%ebp)
    addl $4, %esp
    movl $1, %eax
    .globl CorvaneGuardResume
CorvaneGuardResume:
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

#else
#error "the fault guard has a frame for x64 and x86 only"
#endif

bool CallSurvivingFaults(void (*action)(void*), void* argument) {
    GuardedAction call{action, argument, nullptr};
    const bool survived = GuardedCall(&RunAction, &call) != 0;
    if (call.thrown) std::rethrow_exception(call.thrown);
    return survived;
}
