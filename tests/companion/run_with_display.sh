#!/usr/bin/env bash
# Runs a Windows test program under Xvfb, in a Wine prefix of its own (build/display-prefix),
# since windows cannot be created headless. Usage: run_with_display.sh PROGRAM [ARGS...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
program=$1
export VELMAR_WINEPREFIX
VELMAR_WINEPREFIX=$(cd "$(dirname "$program")/.." && pwd)/display-prefix
source "$root/scripts/wine-env.sh"
number=90
while [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ]; do number=$((number + 1)); done
display=:$number
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; "$root/scripts/wine-prefix.sh" stop' EXIT
sleep 1
"$root/scripts/wine-prefix.sh" stop
export DISPLAY=$display
"$root/scripts/wine-prefix.sh" ensure
"$WINE64" "$@"
# Once more at 192 DPI (200 %), for the layout.
"$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null
"$root/scripts/wine-prefix.sh" stop
"$root/scripts/wine-prefix.sh" ensure
status=0
"$WINE64" "$@" --gtest_filter='*Resolution*' || status=$?
[ $status -eq 0 ] || echo "run_with_display.sh: the run at 192 DPI failed (exit $status)"
"$WINE64" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null
exit $status
