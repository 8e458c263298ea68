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

cd "$(dirname "$program")"
exec wine "$program" "$@"
