#include "host/EntryPoint.h"
#include "ui/DesktopInterface.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Lives as long as the process: the service's main window belongs to it.
    static DesktopInterface desktop;
    // Ends the process at once: a thread still at work (a launch pass inside a server's
    // method call) must not meet static objects being destroyed.
    ExitProcess(RunEntry(instance, GetCommandLineA(), &desktop));
}
