#!/bin/bash
# The tray screenshots proper, inside a virtual display (see scripts/tray-screenshots).
set -uo pipefail
build=$1
docs=$2
source "$(dirname "$0")/wine-session.sh"
prefix=$build/screenshots-prefix
wine_desktop_session "$prefix" "$build/screenshots-trace.log" || exit 1
trap wine_session_stop EXIT

win() { echo "Z:$1" | tr / '\\'; }
log=$build/screenshots.log
: >"$log"
wine "$(win "$build/corvane.exe")" -Install >>"$log" 2>&1
# The icon as a user sees it: "corvane -Tray" in the user's session (it also brings up the
# desktop, which the service's windows do not) follows the service. The service's own icon on
# the same desktop is kept away by EnableTrayIcon 0 before its first tray-timer tick (4 s),
# once the session's icon is shown (within 1 s), and allowed again for the Properties dialog.
params='HKLM\SYSTEM\CurrentControlSet\Services\Corvane\Parameters'
wine "$(win "$build/corvane.exe")" -Tray >>"$log" 2>&1 &
sleep 3
wine "$(win "$build/svcctl.exe")" start Corvane >>"$log" 2>&1
sleep 1.5
wine reg add "$params" /v EnableTrayIcon /t REG_DWORD /d 0 /f >>"$log" 2>&1
wine "$(win "$build/trayctl.exe")" menu >>"$log" 2>&1
sleep 1
wine "$(win "$build/trayctl.exe")" show >>"$log" 2>&1
# The lower right corner of the desktop: the notification area with the open menu.
import -window root -crop 360x200+664+568 +repage "$docs/tray-menu.png"
wine reg add "$params" /v EnableTrayIcon /t REG_DWORD /d 1 /f >>"$log" 2>&1
wine "$(win "$build/trayctl.exe")" properties >>"$log" 2>&1
sleep 2
# The dialog, centred on the desktop, with a margin.
import -window root -crop 480x246+272+261 +repage "$docs/properties-dialog.png"
wine "$(win "$build/svcctl.exe")" stop Corvane >>"$log" 2>&1
wine "$(win "$build/corvane.exe")" -Remove >>"$log" 2>&1
echo "Screenshots in $docs: tray-menu.png properties-dialog.png"
