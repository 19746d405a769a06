#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DBUILD_TESTING=ON >/dev/null
cmake --build "$build"

# One private prefix for the whole run, prepared once and shut down at the end.
export VELMAR_WINEPREFIX=$build/wineprefix
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure
ctest --test-dir "$build" --output-on-failure "$@"
