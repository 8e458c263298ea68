#!/usr/bin/env bash
# Photographs what a Windows program of the win tree shows on the virtual
# display, as a person would see it: screenshot-win.sh PROGRAM.exe OUT.png [ARGS...]
# The program tells when it is drawn by creating "PROGRAM.exe.ready" beside
# itself and ends once that file is gone (wintest::WaitForScreenshot in
# tests/win/WinTestSupport.h). OUT.png belongs under build/; pictures are not committed.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 PROGRAM.exe OUT.png [ARGS...]" >&2; exit 2; }
program=$(realpath "$1")
out=$2
shift 2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    source "$here/xvfb.sh"
    CORVANE_XVFB_DISPLAY=${CORVANE_XVFB_DISPLAY:-97} corvane_start_xvfb
fi

marker="$program.ready"
rm -f "$marker"
bash "$here/wine-run.sh" "$program" "$@" &
pid=$!

# A first run may create the Wine prefix, which takes a while.
for _ in $(seq 1200); do
    [ -f "$marker" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "$program ended before it was drawn" >&2
        wait "$pid" || true
        exit 1
    fi
    sleep 0.1
done
[ -f "$marker" ] || { echo "$program was not drawn in time" >&2; rm -f "$marker"; wait "$pid" || true; exit 1; }

mkdir -p "$(dirname "$out")"
import -window root "$out"
rm -f "$marker"
wait "$pid"
echo "$out"
