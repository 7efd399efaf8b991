#!/bin/bash
# The tray screenshots proper, inside a virtual display (see scripts/tray-screenshots).
set -uo pipefail
build=$1
docs=$2
source "$(dirname "$0")/wine-session.sh"
prefix=$build/screenshots-prefix
rm -rf "$prefix"
wine_session_start "$prefix" "$build/screenshots-trace.log" || exit 1
# Windows draws frames, a taskbar and its notification area on the virtual desktop; the
# setting takes effect when the next session starts.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
wine_session_stop
wine_session_start "$prefix" "$build/screenshots-trace.log" || exit 1
trap wine_session_stop EXIT

win() { echo "Z:$1" | tr / '\\'; }
log=$build/screenshots.log
: >"$log"
wine "$(win "$build/corvane.exe")" -Install >>"$log" 2>&1
wine "$(win "$build/svcctl.exe")" start Corvane >>"$log" 2>&1
# The icon comes at the first tray-timer tick after the service runs.
sleep 6
wine "$(win "$build/trayctl.exe")" menu >>"$log" 2>&1
sleep 1
import -window root "$docs/tray-menu.png"
wine "$(win "$build/trayctl.exe")" properties >>"$log" 2>&1
sleep 2
import -window root "$docs/properties-dialog.png"
wine "$(win "$build/svcctl.exe")" stop Corvane >>"$log" 2>&1
wine "$(win "$build/corvane.exe")" -Remove >>"$log" 2>&1
echo "Screenshots in $docs: tray-menu.png properties-dialog.png"
