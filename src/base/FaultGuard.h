// Calls into code that may raise a hardware fault (an access violation, an illegal
// instruction, a division by zero) without letting the fault end the process. This compiler's
// catch (...) catches C++ exceptions only; an exception frame of the guard's own around the call
// brings a fault that nothing inside the call handles back to the guard.
#pragma once

// Calls action(argument) and returns true. When a hardware fault raised on this thread inside
// the call is handled by no frame of the call itself (a server's own __try/__except, an inner
// guard), the call is abandoned where it stands (its frames are not unwound: what it held stays
// held) and false is returned. A fault on another thread is never this guard's. Guards may
// nest; a C++ exception thrown by the action leaves this call as it left the action.
bool CallSurvivingFaults(void (*action)(void*), void* argument);
