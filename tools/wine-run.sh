#!/usr/bin/env bash
# Runs a Windows program under Wine for the Windows build tree: the tree's
# prefix (CTest creates it before any test; a run by hand creates it here),
# Wine's fixme lines silenced and its err lines kept, a virtual display when
# there is none, and the simulated WNASPI32.DLL preferred over Wine's own
# when it sits beside the program.
set -euo pipefail

program=$1
shift
tree=${CORVANE_WIN_TREE:-$(cd "$(dirname "$program")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)}
[ "$tree" = / ] && tree=$(dirname "$program")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

export WINEPREFIX=${WINEPREFIX:-$tree/wineprefix}
export WINEDEBUG=${WINEDEBUG:-fixme-all}
export WINEARCH=win32
# No Mono or Gecko downloads; the native ASPI layer when one is beside the program.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree=;mshtml=;wnaspi32=n"}

if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    source "$here/xvfb.sh"
    CORVANE_XVFB_DISPLAY=${CORVANE_XVFB_DISPLAY:-97} corvane_start_xvfb
fi
[ -f "$WINEPREFIX/.corvane-ready-2" ] || "$here/wine-prefix.sh" "$tree" >/dev/null

# A program with windows (CORVANE_WINE_DESKTOP=1) starts once the session's
# desktop is up, held by tests/support/DesktopHold.cpp until it has ended:
# Wine waits ten seconds only for the desktop a first window starts, and
# under emulation it takes longer (docs/ARCHITECTURE.md).
hold_desktop() {
    local holder=$tree/bin/desktop_hold.exe line lock
    [ "${CORVANE_WINE_DESKTOP:-}" = 1 ] && [ -f "$holder" ] || return 0
    # One shell a session: holders of programs started together take turns.
    exec {lock}>>"$WINEPREFIX/.desktop-lock"
    flock "$lock"
    coproc DESKTOP { exec {lock}>&-; exec wine "$holder" 2>/dev/null; }
    hold_input=${DESKTOP[1]}
    IFS= read -r -t 900 line <&"${DESKTOP[0]}"
    exec {lock}>&-
    line=${line%$'\r'}
    [ "$line" = ready ] || { echo "wine-run: the session's desktop: ${line:-no answer}" >&2; return 1; }
}
run_program() {
    local status
    hold_desktop || return 1
    wine "$program" "$@" && status=0 || status=$?
    [ -z "${hold_input:-}" ] || exec {hold_input}>&-
    return "$status"
}

cd "$(dirname "$program")"
if [ -z "${CORVANE_WINE_SESSION:-}" ]; then
    run_program "$@"
    exit
fi

# CORVANE_WINE_SESSION=NAME: a Wine session of the program's own, for a test
# that asks for a restart. That request goes to every program of its session
# (each is asked, its windows and processes may be ended), so it must never
# reach a test running beside it. Own session: a copy of the tree's prefix
# (made once, again when the prefix is made again), its own server and its
# own virtual display, all ended with the program.
own=$tree/wineprefix-$CORVANE_WINE_SESSION
if [ ! -f "$own/.corvane-ready-2" ] || [ "$WINEPREFIX/.corvane-ready-2" -nt "$own/.corvane-ready-2" ]; then
    rm -rf "$own" "$own.new"
    cp -a "$WINEPREFIX" "$own.new"
    rm -rf "$own.new"/drive_c/users/*/Temp/* # the files of tests running now
    mv "$own.new" "$own"
fi
export WINEPREFIX=$own
end_session() {
    wineserver -k 2>/dev/null || true
    [ -n "${corvane_xvfb_pid:-}" ] && kill "$corvane_xvfb_pid" 2>/dev/null
    return 0
}
trap end_session EXIT
unset DISPLAY
# shellcheck source=tools/xvfb.sh
source "$here/xvfb.sh"
CORVANE_XVFB_DISPLAY='' corvane_start_xvfb
# The session's own processes start here, on no output (see wine-prefix.sh).
wine cmd /c exit </dev/null >/dev/null 2>&1
run_program "$@"
