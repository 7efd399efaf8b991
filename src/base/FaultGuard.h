// Calls into code that may raise a hardware fault (an access violation, an illegal
// instruction, a division by zero) without letting the fault end the process. This compiler's
// catch (...) catches C++ exceptions only; a vectored exception handler brings a fault raised
// inside a guarded call back to the guard instead.
#pragma once

// Calls action(argument). When a hardware fault is raised inside it on this thread, the call is
// abandoned where it stands (its frames are not unwound: what it held stays held) and false is
// returned; otherwise true. Guards may nest.
bool CallSurvivingFaults(void (*action)(void*), void* argument);
