#!/bin/bash
# The demo proper, inside a virtual display (see scripts/demo).
set -uo pipefail
build=$1
source "$(dirname "$0")/wine-session.sh"
prefix=$build/demo-prefix
trace=$build/demo-event-trace.log
rm -rf "$prefix"
echo "== Creating a scratch Wine prefix in $prefix (takes a few seconds)"
wine_session_start "$prefix" "$trace" || exit 1
trap wine_session_stop EXIT
# Without a desktop, Wine shows its notification area only while some program has a
# top-level window; a minimized Notepad keeps it there when a pause has ended every program.
wine start /min notepad >/dev/null 2>&1 || true

win() { echo "Z:$1" | tr / '\\'; }
exe=$(win "$build/corvane.exe")
sleeper=$(win "$build/sleeper.exe")
out=$(mktemp)
# Wine output goes through a file: a service started meanwhile would hold a pipe open.
run() { wine "$@" >"$out" 2>&1; local rc=$?; sed 's/\r$//' "$out"; return $rc; }
say() { printf '\n== %s\n' "$*"; }
events_seen=0
show_events() {
  # What the service reported to the event log since the last look (from Wine's trace).
  local lines
  lines=$(grep -a 'trace:eventlog:ReportEventW' "$trace" | sed 's/.*ReportEventW L"\(.*\)"$/\1/')
  local total
  total=$(printf '%s' "$lines" | grep -c . || true)
  if [ "$total" -gt "$events_seen" ]; then
    printf '%s\n' "$lines" | tail -n +"$((events_seen + 1))" | sed 's/^/   event log: /'
  fi
  events_seen=$total
}
running() {
  echo "   running now:"
  run "$(win "$build/pslist.exe")" sleeper.exe | sed 's/^/     /'
}
settle() { sleep 2; }
tray() {
  # The service's icon as the shell shows it (it comes at the tray timer's first tick, 4 s
  # after the service runs).
  echo "   notification area:"
  run "$(win "$build/trayctl.exe")" show | sed 's/^/     /'
}

say "Installing: corvane.exe -Install"
run "$exe" -Install; echo "   exit code $?"
run "$(win "$build/svcctl.exe")" query Corvane | sed 's/^/   /'

params='HKLM\SYSTEM\CurrentControlSet\Services\Corvane\Parameters'
corvane=$(win "$build/corvane.com")
say "Configuring two programs with corvane.com (it writes $params\\Modules)"
echo "   Ticker:   sleeper.exe --seconds 600 ticker, 2 instances, minimized"
echo "   Watchdog: sleeper.exe --seconds 600 watchdog, 1 instance, hidden"
run "$corvane" add Ticker --path "$sleeper" --args="--seconds 600 ticker" --instances 2 --window minimized
run "$corvane" add Watchdog --path "$sleeper" --args="--seconds 600 watchdog" --instances 1 --window hidden
say "Configuring one ActiveX server: Wine's own WScript.Shell, whose method Run the service calls"
echo "   Shell:    WScript.Shell, Run(\"cmd /c echo ... > C:\\shell-ran.txt\", 0), 1 instance"
run "$corvane" add Shell --progid WScript.Shell --method Run \
    --param1 'cmd /c echo WScript.Shell ran this for the service> C:\shell-ran.txt' --param2 0 --instances 1
shell_ran() {
  # What the command that WScript.Shell ran wrote, once it has run.
  local file="$WINEPREFIX/drive_c/shell-ran.txt"
  for _ in 1 2 3 4 5; do [ -s "$file" ] && break; sleep 1; done
  if [ -s "$file" ]; then echo "   C:\shell-ran.txt: $(tr -d '\r' <"$file")"; else echo "   C:\shell-ran.txt: (not written)"; fi
  rm -f "$file"
}
echo "   Settings: TerminateOnPause=1, RelaunchOnContinue=1, TerminateOnStop=1"
for setting in TerminateOnPause RelaunchOnContinue TerminateOnStop; do
  run "$corvane" settings $setting 1
done
echo "   corvane list:"
run "$corvane" list | sed 's/^/     /'

# One control of the service, then what runs and what it reported.
step() {
  say "$1"
  run "$(win "$build/svcctl.exe")" "$2" Corvane | sed 's/^/   /'
  settle; running; show_events
  [ "$2" = start ] && sleep 3
  tray
  echo "   corvane status:"
  run "$corvane" status | sed 's/^/     /'
}
step "Starting the service" start
shell_ran
step "Pausing the service (TerminateOnPause=1 ends the programs)" pause
step "Continuing the service (RelaunchOnContinue=1 starts a fresh set)" continue
shell_ran
step "Stopping the service (TerminateOnStop=1 ends the programs)" stop

say "Removing: corvane.exe -Remove"
run "$exe" -Remove; echo "   exit code $?"
run "$(win "$build/svcctl.exe")" query Corvane | sed 's/^/   /' || true
rm -f "$out"
docs=$(cd "$(dirname "$0")/../../docs" && pwd)
say "Done. The prefix stays in $prefix for a look; the Wine session is ended."
echo "   The configuration dialogs, as scripts/screenshots captured them from the service:"
echo "     $docs/manage-applications.png"
echo "     $docs/method.png"
