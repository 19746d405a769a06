#!/usr/bin/env bash
# Prints what a right-click costs under Wine (tools/menu_benchmark_main.cpp), against a floor
# handler that reads nothing (tools/floor/) and, with --peer, against 7-Zip's Explorer extension.
#   benchmark.sh [CYCLES [SOAK]]   ours: with icons, without, with none; a soak; the folder's own
#                                  environment; the probe
#   benchmark.sh --peer [CYCLES [FIRSTS]]
#                                  the module's size; ours, 7-Zip's and the floor's steady
#                                  right-clicks (both menus, both orders) in one process; the first
#                                  right-click of FIRSTS (default 10) fresh processes each, in both
#                                  orders; memory over 1,000 right-clicks. The peer DLL is
#                                  VELMAR_PEER_DLL, or built by VELMAR_PEER_BUILDER (default
#                                  ../shared/tools/build-peer-7zip.sh).
#   benchmark.sh --growth [CYCLES [FIRSTS]]
#                                  steady and first cost at 1, 10, 50 and 98 interpreters, with and
#                                  without the folder's own environment, in a project, 20 deep
#   benchmark.sh --calls           what each call of a right-click costs here
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
cmake --build "$build" --target menu_benchmark VelmarShellExtensions python_standin floor_handler \
  Velmar >/dev/null
run() { "$root/scripts/wine-run.sh" "$build/bin/menu_benchmark.exe" "$@" | tr -d '\r'; }
# One first right-click ("MS create ... release ..."), or nothing when that process failed (said
# on stderr): a table goes on without the sample.
first() { run --first "$@" || echo "benchmark: a process failed (--first $*)" >&2; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# "RATIO (goal <= GOAL: met)" for ours A against theirs B.
against() {
  awk -v a="$1" -v b="$2" -v g="$3" \
    'BEGIN {r = a / b; printf "%.2f (goal <= %.1f: %s)", r, g, r <= g ? "met" : "NOT MET"}'
}

# The median of each step over lines "TOTAL STEP MS STEP MS ..." (the steps in the same order in
# each), as "STEP MS STEP MS ...".
step_medians() {
  local lines fields k
  lines=$(cat)
  read -ra fields <<<"$(head -n 1 <<<"$lines")"
  for ((k = 1; k < ${#fields[@]}; k += 2)); do
    # shellcheck disable=SC2046
    printf '%s%s %s' "$([ "$k" -gt 1 ] && echo ' ')" "${fields[k]}" \
      "$(median $(awk -v at=$((k + 2)) '{print $at}' <<<"$lines"))"
  done
}

# The first right-click of FIRSTS fresh processes for each of HANDLERS ("ours:classic" and the
# like), taken in turn; prints the median of each, and of each of its steps, and leaves the
# medians in first_median[handler].
declare -A first_median
firsts_in_turn() {
  local firsts=$1 setup=$2
  shift 2
  declare -A samples lines
  local i handler line
  for ((i = 0; i < firsts; i++)); do
    for handler in "$@"; do
      # shellcheck disable=SC2086
      line=$(first "${handler%%:*}" "${handler##*:}" $setup)
      if [ -n "$line" ]; then
        samples[$handler]+="${line%% *} "
        lines[$handler]+="$line"$'\n'
      fi
    done
  done
  for handler in "$@"; do
    # shellcheck disable=SC2086
    first_median[$handler]=$(median ${samples[$handler]})
    printf '  %-14s median %8.3f ms  (steps, each its median: %s)\n' "$handler" \
      "${first_median[$handler]}" "$(printf '%s' "${lines[$handler]}" | step_medians)"
  done
}

case "${1:-}" in
--peer) ;;
--growth)
  cycles=${2:-300} firsts=${3:-10}
  echo "steady (one process, the icons in the store after 20 right-clicks), $cycles right-clicks each:"
  run --growth "$cycles"
  echo "first right-click of a process, median of $firsts each: with the menu bitmaps an earlier"
  echo "process saved, and with none saved (--cold, as after installing):"
  for setup in "--interpreters=1" "--interpreters=10" "--interpreters=50" "--interpreters=98" \
    "--interpreters=1 --no-project-env" "--interpreters=10 --no-project-env" \
    "--interpreters=50 --no-project-env" "--interpreters=98 --no-project-env" \
    "--interpreters=10 --in-project" "--interpreters=10 --deep"; do
    saved=() cold=()
    for ((i = 0; i < firsts; i++)); do
      # shellcheck disable=SC2086
      line=$(first ours classic $setup)
      if [ -n "$line" ]; then saved+=("${line%% *}"); fi
      # shellcheck disable=SC2086
      line=$(first ours classic $setup --cold)
      if [ -n "$line" ]; then cold+=("${line%% *}"); fi
    done
    echo "first | $setup | median $(median "${saved[@]}") ms | cold $(median "${cold[@]}") ms"
  done
  exit 0
  ;;
*)
  run "$@"
  exit 0
  ;;
esac

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

source "$build/identity.env"
module=$build/bin/$module_file
size=$(stat -c %s "$module")
echo "machine: $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "module: $module_file $size bytes (goal <= 1,000,000: $([ "$size" -le 1000000 ] && echo met || echo 'NOT MET'));" \
  "7-Zip's $(stat -c %s "$peer") bytes; the floor's $(stat -c %s "$build/bin/floor_handler.dll") bytes"
echo "module imports: $(x86_64-w64-mingw32-objdump -p "$module" | awk '/DLL Name/ {printf "%s ", $3}')"
echo
run --compare "$cycles" peer
echo
echo "first right-click of a fresh process (create: loading the module; Initialize: the settings;"
echo "QueryContextMenu: the icons, drawn from the bitmaps an earlier process saved), $firsts"
echo "processes each, in turn:"
# The saved bitmaps as a process with these settings leaves them, not as a run of 300 interpreters
# (the memory figures) or of 98 (--growth) left them: one process that starts with none.
first ours classic --cold >/dev/null
echo " order ours, 7-Zip, floor:"
firsts_in_turn "$firsts" "" ours:classic peer:classic floor:classic
a_ours=${first_median[ours:classic]} a_peer=${first_median[peer:classic]}
a_floor=${first_median[floor:classic]}
echo "  ours / 7-Zip $(against "$a_ours" "$a_peer" 0.8), ours / floor $(against "$a_ours" "$a_floor" 3.0)"
echo " order floor, 7-Zip, ours:"
firsts_in_turn "$firsts" "" floor:classic peer:classic ours:classic
b_ours=${first_median[ours:classic]} b_peer=${first_median[peer:classic]}
b_floor=${first_median[floor:classic]}
echo "  ours / 7-Zip $(against "$b_ours" "$b_peer" 0.8), ours / floor $(against "$b_ours" "$b_floor" 3.0)"
echo " ours with no menu bitmaps saved by an earlier process (--cold, as after installing):"
firsts_in_turn "$firsts" --cold ours:classic
echo "  ours / 7-Zip $(ratio "${first_median[ours:classic]}" "$b_peer")," \
  "ours / floor $(ratio "${first_median[ours:classic]}" "$b_floor") (against the order above)"
echo " Windows 11 command, order ours, floor:"
firsts_in_turn "$firsts" "" ours:command floor:command
echo "  ours / floor $(ratio "${first_median[ours:command]}" "${first_median[floor:command]}")"
echo " Windows 11 command, order floor, ours:"
firsts_in_turn "$firsts" "" floor:command ours:command
echo "  ours / floor $(ratio "${first_median[ours:command]}" "${first_median[floor:command]}")"
echo
run --memory
