// The fault guard takes only a fault that nothing inside the guarded call handles, on its own
// thread; C++ exceptions pass through it.
#include "base/FaultGuard.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <thread>

namespace {

// The system's pointer probes handle the access violation they raise with an exception frame of
// their own, as a server's __try/__except does. (A volatile pointer: its value stays unknown to the
// compiler, which would otherwise refuse the write.)
volatile int* volatile kNowhere = reinterpret_cast<int*>(16);
volatile bool finished = false;

void Fault(void*) {
    *kNowhere = 1;
    finished = true;
}

TEST(FaultGuard, OnlyAFaultThatNothingInsideTheCallHandlesEndsIt) {
    const struct {
        const char* name;
        void (*action)(void*);
        bool survives;  // the guard returns true and the action ran to its end
    } cases[] = {
        {"unhandled fault", &Fault, false},
        {"fault the call handles itself", [](void*) { finished = IsBadReadPtr(const_cast<int*>(kNowhere), 1); }, true},
        {"fault an inner guard takes", [](void*) { finished = !CallSurvivingFaults(&Fault, nullptr); }, true},
        {"fault on another thread",
         [](void*) { std::thread([] { finished = IsBadReadPtr(const_cast<int*>(kNowhere), 1); }).join(); }, true},
    };
    for (const auto& c : cases) {
        finished = false;
        EXPECT_EQ(CallSurvivingFaults(c.action, nullptr), c.survives) << c.name;
        EXPECT_EQ(finished, c.survives) << c.name;
    }
    EXPECT_THROW(CallSurvivingFaults([](void*) { throw std::runtime_error("thrown"); }, nullptr), std::runtime_error);
}

}  // namespace
