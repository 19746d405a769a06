#!/usr/bin/env bash
# Prints the cost of one right-click under Wine (see tools/menu_benchmark_main.cpp).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
cmake --build "$build" --target menu_benchmark VelmarShellExtensions python_standin >/dev/null
export VELMAR_WINEPREFIX=$build/benchmark-prefix
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-run.sh" "$build/bin/menu_benchmark.exe" "$@" | tr -d '\r'
