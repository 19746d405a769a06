#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"

# Wine's heap checking: freed blocks are filled and held back, blocks carry tail patterns, so a
# read after free or a write past a block's end fails a test every time, not by chance.
export VELMAR_WINEDEBUG=${VELMAR_WINEDEBUG:--all,warn+heap}

# One private prefix for the whole run, prepared once and shut down at the end.
export VELMAR_WINEPREFIX=$build/wineprefix
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure
ctest --test-dir "$build" --output-on-failure "$@"
