#!/usr/bin/env bash
# Builds the extension, installs it into a private Wine prefix the way an administrator would
# (the DLL and config.cfg in one folder, registered with regsvr32), and plays Explorer:
# right-clicks on a folder's background, a file, a folder and two files, printing what the
# extension logged for each and the menu it built.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}

bash "$root/scripts/build.sh"
bin=$build/bin

export VELMAR_WINEPREFIX=$build/demo-prefix
source "$root/scripts/wine-env.sh"
trap '"$root/scripts/wine-prefix.sh" stop' EXIT
"$root/scripts/wine-prefix.sh" ensure
wine() { "$WINE64" "$@"; }

drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Velmar"
sample="$drive_c/users/Public/Documents/sample-project"
mkdir -p "$install_dir" "$sample/src"
cp "$bin/VelmarShellExtensions-x64.dll" "$install_dir/"
# The shipped example, with tracing switched on so every shell call shows.
sed 's|<log_level>4</log_level>|<log_level>1</log_level>|' "$root/config/example-config.cfg" \
  >"$install_dir/config.cfg"
echo 'print("hello")' >"$sample/main.py"
echo 'numpy' >"$sample/requirements.txt"
# Stand-ins until the real ones exist here: Wine programs play the configured interpreters (so
# their icons show in the menu) and the test host plays the companion application.
mkdir -p "$drive_c/Python312" "$drive_c/users/Public/venvs/web/Scripts"
cp "$drive_c/windows/system32/notepad.exe" "$drive_c/Python312/python.exe"
cp "$drive_c/windows/system32/winemine.exe" "$drive_c/users/Public/venvs/web/Scripts/python.exe"
cp "$bin/shell_host.exe" "$install_dir/Velmar.exe"

dll='C:\Program Files\Velmar\VelmarShellExtensions-x64.dll'
project='C:\users\Public\Documents\sample-project'
echo "== DLL: $(stat -c %s "$bin/VelmarShellExtensions-x64.dll") bytes; $(bash "$root/tests/check_module.sh" "$bin/VelmarShellExtensions-x64.dll")"
echo "== regsvr32 \"$dll\""
wine regsvr32 /s "$dll" && echo "registered"
echo "== what registration wrote"
clsid='{6B1E4C2A-93D7-4F05-8A2C-5D7E91B3C640}'
for key in "HKCR\\CLSID\\$clsid" 'HKCR\*\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\Directory\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\Directory\Background\shellex\ContextMenuHandlers\VelmarShellExtensions' \
  'HKCR\txtfile\ShellEx\ContextMenuHandlers\VelmarExtensionsShell'; do
  wine reg query "$key" /s 2>/dev/null | tr -d '\r' | sed '/^$/d'
done
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved' \
  /v "$clsid" 2>/dev/null | tr -d '\r' | sed '/^$/d'

host() {
  echo
  echo "== right-click: $1"
  shift
  wine "$bin/debug_run.exe" "$bin/shell_host.exe" "$@" | tr -d '\r'
}
host "background of $project" background "$project" menu
host "the file main.py" select 1 "$project\\main.py" menu
host "the folder src" select 1 "$project\\src" menu
host "two files (refused: the menu serves one item)" select 2 "$project\\main.py" \
  "$project\\requirements.txt"
