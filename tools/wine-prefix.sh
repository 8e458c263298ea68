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
# The mark names the prefix's make-up: a prefix made before Wine's own fonts
# were put in it is made again.
# A wine process that starts while the server shuts down after the last
# one ("recvmsg: Connection reset by peer") fails: one server serves the
# whole run, and ends by itself a while after its last program. The session's
# own processes (services, the desktop, ...) start with its first program
# and keep that program's output open until the session ends: CTest, which
# waits for a test's output to close, would give the first test 30 s more.
# They start here instead, on no output.
keep_server() {
    wineserver -p30 2>/dev/null || true # already running: that one serves
    wine cmd /c exit </dev/null >/dev/null 2>&1
}
[ -f "$WINEPREFIX/.corvane-ready-2" ] && { keep_server; exit 0; }

# Wine's own fonts (fonts-wine) have Windows metrics: "MS Sans Serif" 8
# measures 6 x 13 dialog base units, as on Windows, and "MS Shell Dlg" is Tahoma.
# Without them every face falls back to DejaVu Sans, 7 x 13 at 8 points, and a
# page laid out in dialog units outgrows the tab that holds it. Debian's Wine
# does not read its own font folder, so the prefix gets a copy.
fonts=
for dir in /usr/share/wine/fonts /usr/local/share/wine/fonts /opt/wine*/share/wine/fonts; do
    [ -f "$dir/tahoma.ttf" ] && { fonts=$dir; break; }
done
if [ -z "$fonts" ]; then
    echo "wine-prefix: Wine's own fonts (tahoma.ttf) are missing; install fonts-wine" >&2
    exit 1
fi

mkdir -p "$WINEPREFIX"
# Under software emulation the first boot outlasts Wine's own wait for it
# (five minutes: "boot event wait timed out", and wineboot fails) and goes
# on in the background: every process of it ends before the prefix is used,
# and a prefix that is still unusable then fails the steps below.
wineboot -i || echo "wine-prefix: wineboot gave up waiting; waiting for the boot to end" >&2
wineserver -w
cp "$fonts"/*.ttf "$fonts"/*.fon "$WINEPREFIX/drive_c/windows/Fonts/"
# Programs named win98_tests.exe see Windows 98, for the polled ASPI wait.
wine reg add "HKCU\\Software\\Wine\\AppDefaults\\win98_tests.exe" /v Version /d win98 /f
# No window manager runs on the virtual display: windows Wine leaves to one are
# never decorated, and destroying a shown one waits 2 s for it. Wine manages
# and draws them itself instead.
wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f
wineserver -w
touch "$WINEPREFIX/.corvane-ready-2"
keep_server
