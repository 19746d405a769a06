#!/usr/bin/env bash
# Prepares or shuts down the private Wine prefix named by VELMAR_WINEPREFIX.
#   ensure  create the prefix if it is missing and start its wineserver if it is not running
#   stop    shut the wineserver down and wait until it has gone
#   fresh   shut it down, delete the prefix and create it anew
# The server and wineboot run with standard streams on /dev/null: an auto-started server that
# inherits a test's stderr keeps CTest waiting for it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${VELMAR_WINEPREFIX:?VELMAR_WINEPREFIX must name the prefix}"
source "$here/wine-env.sh"
# Wine's own services (started here) run without the heap checking the tests may ask for.
export WINEDEBUG=-all

# Whether this prefix's services.exe runs (Wine's system processes hold the standard streams
# of whichever process started them, so they must be started here, on /dev/null).
services_running() {
  local pid
  for pid in $(pgrep -f 'system32\\services\.exe' 2>/dev/null); do
    # grep reads to the end (no -q): tr is never cut off, which pipefail would count as a miss.
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -xF "WINEPREFIX=$WINEPREFIX" >/dev/null; then
      return 0
    fi
  done
  return 1
}

case "${1:-}" in
ensure)
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    # An already running server makes this exit non-zero, which is fine.
    "$WINESERVER" -p60 </dev/null >/dev/null 2>&1 9>&- || true
    # The registry files appear only when the server saves them: mark a finished boot ourselves.
    if [ ! -f "$WINEPREFIX/.velmar-ready" ]; then
      "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 9>&-
      # The processes left by the first boot make every later COM or process start wait for
      # seconds: restart the server and its services cleanly.
      "$WINESERVER" -k </dev/null >/dev/null 2>&1 9>&- || true
      "$WINESERVER" -w </dev/null >/dev/null 2>&1 9>&- || true
      "$WINESERVER" -p60 </dev/null >/dev/null 2>&1 9>&- || true
      touch "$WINEPREFIX/.velmar-ready"
    fi
    if ! services_running; then
      "$WINE64" wineboot </dev/null >/dev/null 2>&1 9>&- ||
        { echo "wine-prefix.sh: wineboot failed in $WINEPREFIX (exit $?)" >&2; exit 1; }
    fi
  ) 9>"$WINEPREFIX/.velmar-lock"
  ;;
stop)
  # Waits for the server's end: a program started meanwhile would join the server being shut down
  # and go down with it, without a word.
  if [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  fi
  ;;
fresh)
  "$here/wine-prefix.sh" stop
  rm -rf "$WINEPREFIX"
  "$here/wine-prefix.sh" ensure
  ;;
*)
  echo "usage: wine-prefix.sh ensure|stop|fresh" >&2
  exit 2
  ;;
esac
