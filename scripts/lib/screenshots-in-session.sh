#!/bin/bash
# The screenshots proper, inside a virtual display (see scripts/screenshots).
set -uo pipefail
build=$1
docs=$2
source "$(dirname "$0")/wine-session.sh"
prefix=$build/screenshot-prefix
wine_desktop_session "$prefix" "$build/screenshot-event-trace.log" || exit 1
trap wine_session_stop EXIT

win() { echo "Z:$1" | tr / '\\'; }
out=$build/screenshot-wine.out
# Wine output goes through files: the service started meanwhile would hold a pipe open.
run() { wine "$@" >"$out" 2>"$out.err"; local rc=$?; tr -d '\r' <"$out"; return $rc; }
dialog() { run "$(win "$build/dialogctl.exe")" "$@"; }

# Captures the screen rectangle "x y width height" of the virtual desktop into a file.
capture() {
  local x y w h
  read -r x y w h <<<"$1"
  [ -n "${h:-}" ] || { echo "no window to capture for $2" >&2; exit 1; }
  sleep 1  # let the window paint
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
  echo "wrote $2 (${w}x${h})"
}

# Wine draws its virtual desktop only while a program of the user (not a service) has a window
# on it: a minimized Notepad keeps it, in a corner away from the dialogs.
run start /min notepad
run "$(win "$build/corvane.exe")" -Install || { cat "$out.err"; exit 1; }
modules='HKLM\SYSTEM\CurrentControlSet\Services\Corvane\Parameters\Modules'
add() { run reg add "$modules\\$1" /v "$2" ${4:+/t $4} /d "$3" /f >/dev/null; }
add Ticker ExePath 'C:\Tools\ticker.exe'
add Ticker CmdLineArgs '--interval 60 --log C:\Logs\ticker.log'
add Ticker StartDir 'C:\Tools'
add Ticker Instances 2 REG_DWORD
add Ticker Attrib 2 REG_DWORD
add 'Shell command' ProgId WScript.Shell
add 'Shell command' MethodName Run
add 'Shell command' MethodReturnType VT_VARIANT
add 'Shell command' ParamOne 'cmd /c echo started > C:\started.txt'
add 'Shell command' ParamOneType VT_VARIANT
add 'Shell command' ParamTwo 0
add 'Shell command' ParamTwoType VT_VARIANT
add 'Shell command' Instances 1 REG_DWORD
# Only the dialogs are wanted here: the service launches nothing.
run reg add 'HKLM\SYSTEM\CurrentControlSet\Services\Corvane\Parameters' /v EnableLaunch /t REG_DWORD /d 0 /f >/dev/null
run "$(win "$build/svcctl.exe")" start Corvane >/dev/null || { echo "the service did not start" >&2; exit 1; }

mkdir -p "$docs"
capture "$(dialog show 'Corvane - Manage Applications' Ticker)" "$docs/manage-applications.png"
dialog show 'Corvane - Manage Applications' 'Shell command' >/dev/null
dialog press 'Corvane - Manage Applications' 248
capture "$(dialog wait 'Corvane - Method')" "$docs/method.png"
dialog press 'Corvane - Method' 2

run "$(win "$build/svcctl.exe")" stop Corvane >/dev/null
run "$(win "$build/corvane.exe")" -Remove >/dev/null
rm -f "$out" "$out.err"
