#!/usr/bin/env bash
# Creates the Wine prefix of a Windows build tree, once, before any test runs
# in it (CTest runs this as the setup of every Windows test). Fails, naming
# the cause, when the prefix or the X display cannot serve the tests.
set -euo pipefail

tree=$1
export WINEPREFIX=${WINEPREFIX:-$tree/wineprefix}
export WINEDEBUG=${WINEDEBUG:-fixme-all}
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree=;mshtml="

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    echo "wine-prefix: no X display answers at '${DISPLAY:-}'; windows could not be created" >&2
    exit 1
fi
[ -f "$WINEPREFIX/.corvane-ready" ] && exit 0

mkdir -p "$WINEPREFIX"
wineboot -i
# Programs named win98_tests.exe see Windows 98, for the polled ASPI wait.
wine reg add "HKCU\\Software\\Wine\\AppDefaults\\win98_tests.exe" /v Version /d win98 /f
# No window manager runs on the virtual display: windows Wine leaves to one are
# never decorated, and destroying a shown one waits 2 s for it. Wine manages
# and draws them itself instead.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f
wineserver -w
touch "$WINEPREFIX/.corvane-ready"
