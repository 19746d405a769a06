#!/usr/bin/env bash
# Shows the real context menu under Xvfb and saves a screenshot as docs/menu.png.
# Needs the main job's prefix (run scripts/main-job.sh first); installs Xvfb and ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
for p in xvfb imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null
done
cmake --build "$build" --target menu_picture >/dev/null

export VELMAR_WINEPREFIX=$build/demo-prefix
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" stop
display=:57
Xvfb "$display" -screen 0 640x400x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; "$root/scripts/wine-prefix.sh" stop' EXIT
sleep 1
export DISPLAY=$display
"$WINE64" "$build/bin/menu_picture.exe" 'C:\users\Public\Documents\sample-project' &
picture=$!
sleep 4
mkdir -p "$root/docs"
import -display "$display" -window root -crop 300x112+10+10 +repage "$root/docs/menu.png"
wait $picture || true
echo "saved docs/menu.png"
