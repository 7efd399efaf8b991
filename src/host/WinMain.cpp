#include "host/EntryPoint.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return static_cast<int>(RunEntry(instance, GetCommandLineA()));
}
