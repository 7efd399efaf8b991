#include "host/EntryPoint.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Ends the process at once: a thread still at work (a launch pass inside a server's
    // method call) must not meet static objects being destroyed.
    ExitProcess(RunEntry(instance, GetCommandLineA(), nullptr));
}
