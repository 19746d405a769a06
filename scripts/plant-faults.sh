#!/usr/bin/env bash
# Plants each fault of tests/planted_faults.txt into the product, one at a time: builds, runs the
# tests named beside it, says whether they noticed, and puts the source back. Measures what the
# suite catches, before and after a change that should not lose any of it.
# Usage: plant-faults.sh   (in a checkout whose build folder the test command has made)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
product=(command common config framework log server shellext companion)
caught=0 planted=0
restore() {
  for folder in "${product[@]}"; do
    [ -d "$root/$folder" ] && git -C "$root" checkout -- "$folder"
  done
  return 0
}
export VELMAR_WINEDEBUG=${VELMAR_WINEDEBUG:--all,warn+heap}
export VELMAR_WINEPREFIX=$build/wineprefix
trap 'restore; "$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure >/dev/null
while IFS='|' read -r area kind from to tests; do
  area=$(echo "$area" | xargs) kind=$(echo "$kind" | xargs) tests=$(echo "$tests" | xargs)
  from=$(echo "$from" | sed 's/^ //;s/ $//') to=$(echo "$to" | sed 's/^ //;s/ $//')
  file=$(cd "$root" && grep -rlF -- "$from" "${product[@]}" 2>/dev/null | head -n 1 || true)
  if [ -z "$file" ]; then echo "$area $kind: text not found: $from"; continue; fi
  FROM=$from TO=$to python3 - "$root/$file" <<'PY'
import os, sys
path = sys.argv[1]
text = open(path, encoding="utf-8").read()
open(path, "w", encoding="utf-8").write(text.replace(os.environ["FROM"], os.environ["TO"], 1))
PY
  planted=$((planted + 1))
  if ! cmake --build "$build" >/dev/null 2>&1; then
    echo "$area $kind ($file): does not build"
  elif ctest --test-dir "$build" -R "$tests" >/dev/null 2>&1; then
    echo "$area $kind ($file): NOT noticed by $tests"
  else
    echo "$area $kind ($file): noticed"
    caught=$((caught + 1))
  fi
  restore
done < <(grep -v '^#' "$root/tests/planted_faults.txt" | grep -v '^\s*$')
cmake --build "$build" >/dev/null 2>&1 || true
echo "noticed $caught of $planted planted faults"
