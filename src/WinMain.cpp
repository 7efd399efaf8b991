#include "host/EntryPoint.h"
#include "ui/ProgramUi.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Never destroyed, as the host is not: the process ends without tearing either down.
    auto* ui = new ProgramUi;
    // Ends the process at once: a thread still at work (a launch pass inside a server's
    // method call) must not meet static objects being destroyed.
    ExitProcess(RunEntry(instance, GetCommandLineA(), ui));
}
