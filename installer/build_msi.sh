#!/usr/bin/env bash
# Builds the Windows Installer package with wixl.
#   build_msi.sh OUT.msi PACKAGE_ENV DLL EXE MSIX
# PACKAGE_ENV is the file the build writes for each package (build/installer/TARGET.env):
# "key=value" lines for scope (perMachine or perUser), version, upgrade_code, product_code,
# class_id, command_class_id, module_file, default_settings and icon. The build and the release signing both pass it, so the two cannot
# build packages that differ in anything but the programs and the package they carry.
# wixl accepts some WiX attributes and elements without acting on them and says so only in
# a message; any message at all fails the build, so that the package is what the source says.
set -euo pipefail
[ $# -eq 5 ] || {
  echo "usage: $0 OUT.msi PACKAGE_ENV DLL EXE MSIX" >&2
  exit 2
}
out=$1 package_env=$2 dll=$3 exe=$4 msix=$5
declare -A value=()
while IFS='=' read -r key text; do
  [ -n "$key" ] && value[$key]=$text
done <"$package_env"
for key in scope version upgrade_code product_code class_id command_class_id module_file \
  default_settings icon; do
  [ -n "${value[$key]:-}" ] || {
    echo "build_msi: $package_env names no $key" >&2
    exit 2
  }
done
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
stage=$(mktemp -d "${out%.msi}.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# wixl wants Source paths relative to where it runs: stage the files under their final names.
cp "$dll" "$stage/${value[module_file]}"
cp "$exe" "$stage/Velmar.exe"
cp "$msix" "$stage/Velmar.msix"
cp "${value[default_settings]}" "$stage/config.default.cfg"
cp "${value[icon]}" "$stage/Velmar.ico"
cp "$here/Velmar.wxs" "$stage/"

messages=$(cd "$stage" && wixl -a x64 -D "Scope=${value[scope]}" -D "Version=${value[version]}" \
  -D "ActiveSetupVersion=${value[version]//./,}" -D "UpgradeCode=${value[upgrade_code]}" \
  -D "ProductCode=${value[product_code]}" -D "ClassId=${value[class_id]}" \
  -D "CommandClassId=${value[command_class_id]}" -D "ModuleFile=${value[module_file]}" \
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
