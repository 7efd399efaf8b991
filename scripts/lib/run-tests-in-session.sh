#!/bin/bash
# Runs ctest inside a fresh Wine session (called under xvfb-run by scripts/test).
set -uo pipefail
build=$1
source "$(dirname "$0")/wine-session.sh"
rm -rf "$build/wineprefix"
wine_session_start "$build/wineprefix" "$build/event-trace.log" || exit 1
trap wine_session_stop EXIT
cd "$build" && eval ctest --output-on-failure ${CTEST_ARGS:-}
