#!/usr/bin/env bash
# Builds the Windows Installer package with wixl.
#   build_msi.sh OUT.msi VERSION UPGRADE_CODE PRODUCT_CODE CLASS_ID COMMAND_CLASS_ID DLL EXE
#                DEFAULT_SETTINGS ICON
# wixl accepts some WiX attributes and elements without acting on them and says so only in
# a message; any message at all fails the build, so that the package is what the source says.
set -euo pipefail
[ $# -eq 10 ] || {
  echo "usage: $0 OUT.msi VERSION UPGRADE_CODE PRODUCT_CODE CLASS_ID COMMAND_CLASS_ID DLL EXE" \
    "DEFAULT_SETTINGS ICON" >&2
  exit 2
}
out=$1 version=$2 upgrade_code=$3 product_code=$4 class_id=$5 command_class_id=$6
shift 6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stage=$(mktemp -d "${out%.msi}.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# wixl wants Source paths relative to where it runs: stage the files under their final names.
cp "$1" "$stage/VelmarShellExtensions-x64.dll"
cp "$2" "$stage/Velmar.exe"
cp "$3" "$stage/config.default.cfg"
cp "$4" "$stage/Velmar.ico"
cp "$here/Velmar.wxs" "$stage/"

messages=$(cd "$stage" && wixl -a x64 -D "Version=$version" -D "UpgradeCode=$upgrade_code" \
  -D "ProductCode=$product_code" -D "ClassId=$class_id" \
  -D "CommandClassId=$command_class_id" \
  -o package.msi Velmar.wxs 2>&1) || {
  printf '%s\n' "$messages" >&2
  exit 1
}
if [ -n "$messages" ]; then
  printf '%s\n' "$messages" >&2
  echo "build_msi: wixl reported something it did not build as written (see above)" >&2
  exit 1
fi

# wixl places actions without a fixed number by a sort of its own: check the order that keeping
# the user's config.cfg relies on.
sequence=$(msiinfo export "$stage/package.msi" InstallExecuteSequence | tr -d '\r' |
  awk -F'\t' 'NR > 3 {print $3, $1}' | sort -n | awk '{print $2}' | tr '\n' ' ')
expected='InstallValidate RemoveExistingProducts InstallInitialize .*TakeUnchangedSettings RemoveFiles InstallFiles PlaceSettings '
if ! [[ " $sequence" =~ \ $expected ]]; then
  echo "build_msi: unexpected InstallExecuteSequence: $sequence" >&2
  exit 1
fi
mv "$stage/package.msi" "$out"
