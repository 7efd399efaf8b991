// "-Tray": the service's icon, tip, menu and dialogs in the session of the user who runs it.
// Since Windows Vista a service runs in a session of its own and shows nothing on a user's
// desktop; this process shows the icon there instead. It runs no service and no COM server:
// it follows the installed service's state through the service manager (running, paused,
// absent while stopped or not installed) and sends Pause and Continue through it, so the
// service manager's own access rules apply. One runs per session; a second one ends at once.
#pragma once
#include <windows.h>

class UiHost;

// How often the icon looks at the service's state.
inline constexpr UINT kSessionTrayFollowMs = 1000;

// Runs until the session ends or the thread is told to quit; returns the exit code.
DWORD RunSessionTray(UiHost& host);
