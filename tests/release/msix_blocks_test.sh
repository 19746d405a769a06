#!/usr/bin/env bash
# The packer on parts larger than one block and names that sort differently by letter case: the
# package's own folder with a 300 KB part and two more images added, packed, then read back by the
# reader (msix_test.py), which decompresses every block on its own.
#   msix_blocks_test.sh PACKAGE_FOLDER PACKER NAME PUBLISHER CLASS_ID
set -euo pipefail
folder=$1 packer=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$folder" "$work/package"
head -c 150000 /dev/urandom >"$work/package/Assets/big.png"
head -c 150000 < <(yes 'a line that compresses well') >>"$work/package/Assets/big.png"
cp "$folder/Assets/StoreLogo.png" "$work/package/Assets/a.png"
cp "$folder/Assets/StoreLogo.png" "$work/package/Assets/B.png"
/usr/bin/python3 "$packer" "$work/package" "$work/big.msix"
/usr/bin/python3 "$here/msix_test.py" "$work/big.msix" "$3" "$4" "$5"
