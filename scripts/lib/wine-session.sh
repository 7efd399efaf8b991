# Sourced by the scripts that run Windows programs: a scratch Wine prefix and session.
#   wine_session_start PREFIX TRACE   creates the prefix if needed and starts the session,
#                                     with the event-log trace of its services in TRACE
#   wine_desktop_session PREFIX TRACE a fresh prefix whose windows are drawn on Wine's virtual
#                                     desktop (frames, a taskbar and its notification area, as
#                                     Windows shows them), with Wine's own fonts: for screenshots
#   wine_session_stop                 ends every Wine process of the session
# Needs DISPLAY (run under xvfb-run): a session's display is fixed when it starts.
# The prefix is 64-bit; where Wine's 32-bit half is installed it runs 32-bit programs too, as
# Windows x64 does.

wine_session_start() {
  export WINEPREFIX=$1
  export WINEARCH=win64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  local trace=$2
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >"$WINEPREFIX.init.log" 2>&1 || { cat "$WINEPREFIX.init.log"; return 1; }
    # The first session runs two service managers; a restart leaves one.
    wineserver -k || true
    wineserver -w || true
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  # Services inherit this environment and standard error: what they report to the event log
  # is traced into the file.
  : >"$trace"
  WINEDEBUG=-all,+eventlog,fixme+advapi wine wineboot </dev/null >/dev/null 2>>"$trace"
  export CORVANE_EVENT_TRACE=$trace
}

wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  # Now and then a Wine process outlives its server (seen: winedevice.exe); it is ended by hand,
  # so that nothing of the session is left running.
  local pid
  for pid in $(pgrep -f '\.exe|/usr/lib/wine/' 2>/dev/null); do
    case "$(cat /proc/"$pid"/comm 2>/dev/null)" in bash|sh|xvfb-run|timeout|ctest|"") continue ;; esac
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      kill -9 "$pid" 2>/dev/null || true
    fi
  done
}

wine_desktop_session() {
  rm -rf "$1"
  wine_session_start "$1" "$2" || return 1
  # The desktop setting takes effect when the next session starts.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  # Wine's own fonts, drawn as Windows draws them: MS Sans Serif for the dialogs, Tahoma for
  # the captions, Marlett for the caption buttons. Without them a wider fallback clips labels.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wine_session_stop
  wine_session_start "$1" "$2"
}
