# Sourced: the environment every Wine process of this project runs with.
# Needs VELMAR_WINEPREFIX.
export WINEPREFIX=$VELMAR_WINEPREFIX
export WINEARCH=win64
# Wine takes its locale and ANSI code page from these: C.UTF-8 gives code page 1252.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# Quiet by default; scripts/test.sh turns Wine's heap checking on (see README, Tests).
export WINEDEBUG=${VELMAR_WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)
