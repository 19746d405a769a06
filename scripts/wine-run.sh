#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's private prefix: the build folder's
# wineprefix (the folder above the program's bin/), or VELMAR_WINEPREFIX when set.
# Used as CMake's cross-compiling emulator, so CTest runs every test through it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$1
if [ -z "${VELMAR_WINEPREFIX:-}" ]; then
  VELMAR_WINEPREFIX=$(cd "$(dirname "$program")/.." && pwd)/wineprefix
fi
export VELMAR_WINEPREFIX
source "$here/wine-env.sh"
# Preparing the prefix is the machine's part, not the program's: a failure is said and tried once
# more before the program is given up on.
if ! "$here/wine-prefix.sh" ensure; then
  echo "wine-run.sh: the prefix $VELMAR_WINEPREFIX could not be prepared for $program; once more" >&2
  sleep 1
  "$here/wine-prefix.sh" ensure ||
    { echo "wine-run.sh: the prefix could not be prepared again; $program not run" >&2; exit 1; }
fi
exec "$WINE64" "$@"
