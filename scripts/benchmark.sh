#!/usr/bin/env bash
# Prints the cost of one right-click under Wine (see tools/menu_benchmark_main.cpp).
#   benchmark.sh [CYCLES [SOAK]]   ours: with icons, without, with none; a soak; the probe
#   benchmark.sh --peer [CYCLES] [FIRSTS]
#                                  ours against 7-Zip's Explorer extension in one prefix:
#                                  alternating right-clicks, then FIRSTS (default 10) first
#                                  right-clicks of fresh processes, each handler in turn. The
#                                  peer DLL is VELMAR_PEER_DLL, or built by the peer script
#                                  (VELMAR_PEER_BUILDER, default ../shared/tools/build-peer-7zip.sh).
#   benchmark.sh --detect [ENTRIES [SUBFOLDERS [RUNS]]]
#                                  Detect with ENTRIES folders in every root it looks in, and in
#                                  a start folder of SUBFOLDERS (see tools/detect_benchmark_main.cpp)
# The peer is a developer's yardstick: nothing else in the project needs it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
export VELMAR_WINEPREFIX=$build/benchmark-prefix
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
if [ "${1:-}" = --detect ]; then
  cmake --build "$build" --target detect_benchmark >/dev/null
  "$root/scripts/wine-run.sh" "$build/bin/detect_benchmark.exe" "${@:2}" | tr -d '\r'
  exit 0
fi
cmake --build "$build" --target menu_benchmark VelmarShellExtensions python_standin >/dev/null
run() { "$root/scripts/wine-run.sh" "$build/bin/menu_benchmark.exe" "$@" | tr -d '\r'; }

if [ "${1:-}" != --peer ]; then
  run "$@"
  exit 0
fi
cycles=${2:-300}
firsts=${3:-10}
peer=${VELMAR_PEER_DLL:-}
if [ -z "$peer" ]; then
  builder=${VELMAR_PEER_BUILDER:-$root/../shared/tools/build-peer-7zip.sh}
  peer=$(bash "$builder" | tail -n 1)
fi
[ -f "$peer" ] || { echo "benchmark: no peer DLL ($peer)" >&2; exit 1; }
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" ensure
mkdir -p "$WINEPREFIX/drive_c/peer"
cp "$peer" "$WINEPREFIX/drive_c/peer/7-zip.dll"
"$WINE64" regsvr32 /s 'C:\peer\7-zip.dll'
trap '"$WINE64" regsvr32 /u /s "C:\\peer\\7-zip.dll" || true; "$root/scripts/wine-prefix.sh" stop' EXIT
echo "peer: $peer ($(stat -c %s "$peer") bytes)"
run --peer "$cycles"
ours=() theirs=()
for ((i = 0; i < firsts; i++)); do
  ours+=("$(run --first ours)")
  [ -z "${VELMAR_BENCHMARK_STEPS:-}" ] || echo "ours: ${ours[-1]}"
  theirs+=("$(run --first peer)")
  [ -z "${VELMAR_BENCHMARK_STEPS:-}" ] || echo "peer: ${theirs[-1]}"
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
a=$(median "${ours[@]}") b=$(median "${theirs[@]}")
echo "first right-click of a process, median of $firsts each: ours $a ms, peer $b ms," \
  "ratio $(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.2f", a / b}')"
