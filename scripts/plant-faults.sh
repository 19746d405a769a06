#!/usr/bin/env bash
# Plants each fault of tests/planted_faults.txt into the product, one at a time: builds, runs the
# tests named beside it, says whether they noticed, and puts the source back. Measures what the
# suite catches, before and after a change that should not lose any of it.
# Usage: plant-faults.sh   (in a checkout whose build folder the test command has made)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export VELMAR_BUILD=${VELMAR_BUILD_DIR:-$root/build}
export VELMAR_WINEDEBUG=${VELMAR_WINEDEBUG:--all,warn+heap}
export VELMAR_WINEPREFIX=$VELMAR_BUILD/wineprefix
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure >/dev/null
python3 - "$root" <<'PY'
import os, subprocess, sys

root = sys.argv[1]
build = os.environ["VELMAR_BUILD"]
product = ["command", "common", "config", "framework", "log", "server", "shellext", "companion"]
product = [folder for folder in product if os.path.isdir(os.path.join(root, folder))]


def quiet(*command):
    return subprocess.run(command, cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def holder(text):
    for folder in product:
        for where, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                path = os.path.join(where, name)
                try:
                    if text in open(path, encoding="utf-8").read():
                        return path
                except (UnicodeDecodeError, OSError):
                    pass
    return None


noticed = planted = 0
for line in open(os.path.join(root, "tests", "planted_faults.txt"), encoding="utf-8"):
    if not line.strip() or line.startswith("#"):
        continue
    area, kind, before, after, tests = [field.strip() for field in line.split(" @@ ")]
    path = holder(before)
    if not path:
        print(f"{area} {kind}: text not found: {before}", flush=True)
        continue
    original = open(path, encoding="utf-8").read()
    open(path, "w", encoding="utf-8").write(original.replace(before, after, 1))
    planted += 1
    where = os.path.relpath(path, root)
    try:
        if quiet("cmake", "--build", build) != 0:
            print(f"{area} {kind} ({where}): does not build", flush=True)
        elif quiet("ctest", "--test-dir", build, "-R", tests) == 0:
            print(f"{area} {kind} ({where}): NOT noticed by {tests}", flush=True)
        else:
            print(f"{area} {kind} ({where}): noticed", flush=True)
            noticed += 1
    finally:
        open(path, "w", encoding="utf-8").write(original)
quiet("cmake", "--build", build)
print(f"noticed {noticed} of {planted} planted faults")
PY
