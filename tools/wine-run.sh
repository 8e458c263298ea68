#!/usr/bin/env bash
# Runs a Windows program under Wine for the Windows build tree: one prefix per
# tree, created once, quiet, with a virtual display when there is none, and the
# simulated WNASPI32.DLL preferred over Wine's own when it sits beside the program.
set -euo pipefail

program=$1
shift
tree=${CORVANE_WIN_TREE:-$(cd "$(dirname "$program")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
[ "$tree" = / ] && tree=$(dirname "$program")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

export WINEPREFIX=${WINEPREFIX:-$tree/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win32
# No Mono or Gecko downloads; the native ASPI layer when one is beside the program.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;wnaspi32=n"}

if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    source "$here/xvfb.sh"
    corvane_start_xvfb
fi

# Create the prefix once; parallel tests wait for whoever got there first.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.corvane-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # Programs named *win98* see Windows 98, for the polled ASPI wait.
    for exe in win98_tests.exe; do
        wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe" /v Version /d win98 /f >/dev/null 2>&1
    done
    wineserver -w
    touch "$WINEPREFIX/.corvane-ready"
fi
# No window manager runs on the virtual display: windows Wine leaves to one are
# never decorated, and destroying a shown one waits 2 s for it. Wine manages
# and draws them itself instead.
if [ ! -f "$WINEPREFIX/.corvane-unmanaged" ]; then
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    touch "$WINEPREFIX/.corvane-unmanaged"
fi
flock -u 9

cd "$(dirname "$program")"
exec wine "$program" "$@"
