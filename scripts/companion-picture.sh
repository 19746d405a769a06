#!/usr/bin/env bash
# Shows the companion's window under Xvfb and saves a screenshot as docs/companion.png.
# Needs the main job's prefix (run scripts/main-job.sh first); installs Xvfb and ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VELMAR_BUILD_DIR:-$root/build}
for p in xvfb imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" >/dev/null
done
export VELMAR_WINEPREFIX=$build/demo-prefix
source "$root/scripts/wine-env.sh"
"$root/scripts/wine-prefix.sh" stop
display=:58
Xvfb "$display" -screen 0 800x500x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; "$root/scripts/wine-prefix.sh" stop' EXIT
sleep 1
export DISPLAY=$display
(cd "$WINEPREFIX/drive_c/users/Public/Documents/sample-project" &&
  "$WINE64" 'C:\Program Files\Velmar\Velmar.exe') &
app=$!
sleep 5
mkdir -p "$root/docs"
import -display "$display" -window root -crop 660x430+0+0 +repage "$root/docs/companion.png"
kill $app 2>/dev/null || true
echo "saved docs/companion.png"
