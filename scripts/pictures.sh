#!/usr/bin/env bash
# Shows the real context menu and the companion's window under Xvfb and saves screenshots as
# docs/menu.png, docs/companion.png and docs/companion-192dpi.png. Needs the main job's prefix
# (run scripts/main-job.sh first), installs the package there again for the shots and removes it
# afterwards; installs Xvfb and ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
for p in xvfb imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$p" >/dev/null
done
cmake --build "$build" --target menu_picture Velmar >/dev/null

export VELMAR_WINEPREFIX=$build/demo-prefix
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" stop
display=:57
Xvfb "$display" -screen 0 1400x900x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; "$root/scripts/wine-prefix.sh" stop' EXIT
sleep 1
export DISPLAY=$display
mkdir -p "$root/docs"
package=$(ls "$build"/bin/Velmar-[0-9]*-x64.msi)
cp "$package" "$WINEPREFIX/drive_c/velmar-demo/"
msi="C:\\velmar-demo\\$(basename "$package")"
"$WINE64" msiexec /i "$msi" /qn /norestart
trap 'kill $xvfb 2>/dev/null; "$WINE64" msiexec /x "$msi" /qn /norestart || true
  "$root/scripts/wine-prefix.sh" stop' EXIT
project='C:\users\Public\Documents\sample-project'

# $1: PNG name, $2: crop; the rest: the program and its arguments, closed after the shot.
shot() {
  local name=$1 crop=$2
  shift 2
  "$WINE64" "$@" &
  local program=$!
  sleep 5
  import -display "$display" -window root -crop "$crop" +repage "$root/docs/$name"
  kill $program 2>/dev/null || true
  wait $program 2>/dev/null || true
  echo "saved docs/$name"
}
shot menu.png 300x112+10+10 "$build/bin/menu_picture.exe" "$project"
(cd "$WINEPREFIX/drive_c/users/Public/Documents/sample-project" &&
  shot companion.png 660x430+0+0 'C:\Program Files\Velmar\Velmar.exe')
# The same window at 192 DPI (200 %): Wine's LogPixels, read when its programs start.
"$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null
"$root/scripts/wine-prefix.sh" stop
(cd "$WINEPREFIX/drive_c/users/Public/Documents/sample-project" &&
  shot companion-192dpi.png 1310x850+0+0 'C:\Program Files\Velmar\Velmar.exe')
"$WINE64" reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null
