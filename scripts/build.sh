#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything (DLL, tests, tools) into
# $VELMAR_BUILD_DIR (default build/). Used by the main job and the test command.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DBUILD_TESTING=ON >/dev/null
cmake --build "$build"
