#!/usr/bin/env bash
# Velmar.exe --detect --save where config.cfg cannot be written: the folder refuses new files,
# the file refuses to be replaced, or the disk is full (which shows only when the written text
# is flushed at the end). Either way the old file stays byte for byte, the reason is
# said in one line and the exit code is 1. (As root, Wine ignores read-only bits: the folder or
# file is made immutable instead.)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
velmar=$1
export VELMAR_WINEPREFIX=$(cd "$(dirname "$velmar")/.." && pwd)/wineprefix
work=$(mktemp -d)
trap 'chattr -i "$work/app" "$work/app/config.cfg" 2>/dev/null || true
  umount "$work/app" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/app"
cp "$velmar" "$work/app/Velmar.exe"
printf '<configure><command_line>cmd.exe /k __PROMPT__</command_line></configure>\n' \
  >"$work/app/config.cfg"
cp "$work/app/config.cfg" "$work/original.cfg"
fail=0

attempt() {  # $1: what is made immutable, $2: the reason expected at the start of the line
  chattr +i "$1"
  set +e
  output=$("$root/scripts/wine-run.sh" "$work/app/Velmar.exe" --detect --save | tr -d '\r')
  code=$?
  set -e
  chattr -i "$1"
  if [ $code -ne 1 ] || [[ "$output" != *"Velmar: $2"* ]]; then
    echo "immutable $(basename "$1"): exit $code, output: $output"
    fail=1
  fi
  if ! cmp -s "$work/app/config.cfg" "$work/original.cfg"; then
    echo "immutable $(basename "$1"): config.cfg changed"
    fail=1
  fi
  if [ "$(ls "$work/app" | LC_ALL=C sort | tr '\n' ' ')" != "Velmar.exe config.cfg " ]; then
    echo "immutable $(basename "$1"): left behind: $(ls "$work/app")"
    fail=1
  fi
}
attempt "$work/app" "cannot write in "
attempt "$work/app/config.cfg" "cannot replace "

# A full disk: the app folder on a small file system, filled up after the files are in place.
mv "$work/app" "$work/staged"
mkdir "$work/app"
mount -t tmpfs -o size=4m tmpfs "$work/app"
cp -p "$work/staged/Velmar.exe" "$work/staged/config.cfg" "$work/app/"
dd if=/dev/zero of="$work/app/filler" bs=4k 2>/dev/null || true
set +e
output=$("$root/scripts/wine-run.sh" "$work/app/Velmar.exe" --detect --save | tr -d '\r')
code=$?
set -e
if [ $code -ne 1 ] || [[ "$output" != *"Velmar: cannot write in "* ]]; then
  echo "full disk: exit $code, output: $output"
  fail=1
fi
cmp -s "$work/app/config.cfg" "$work/original.cfg" || { echo "full disk: config.cfg changed"; fail=1; }
if [ "$(ls "$work/app" | LC_ALL=C sort | tr '\n' ' ')" != "Velmar.exe config.cfg filler " ]; then
  echo "full disk: left behind: $(ls "$work/app")"
  fail=1
fi
umount "$work/app"
[ $fail -eq 0 ] && echo "refused saves left config.cfg as it was"
exit $fail
