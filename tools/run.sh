#!/usr/bin/env bash
# Shows Corvane at work on simulated drives. See --help.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
folder=$root/build/run
bank=
walk=auto

usage() {
    cat <<EOF
usage: bash tools/run.sh [--bank FILE] [--folder DIR] [--walk | --open]

Installs what is missing (tools/deps.sh, as root), builds the Windows tree
and makes a run folder (default build/run) holding Corvane.exe, Wexa.dll, the
simulated WNASPI32.DLL, the bank of simulated drives and sample images made by
corvane-image (images/: one per protocol, one without a protocol, one damaged).

With a display (DISPLAY set), Corvane.exe opens on the simulated drives: pick a
drive on the "Infomation" tab, choose an image on the "Wexa" tab and click
Download. Flashed identities are kept in bank-state.txt in the run folder, so
they are still there at the next start; every drive command is appended to
bank-log.txt.

Without a display (or with --walk), it starts a virtual display and walks
through one download by window messages: the device page (the Type 2.2 drive),
the Wexa tab, the Type 2.2 image, Download, OK on the notice, the transfer,
the OK picture and the new model in row 7. A screenshot of each step goes to
screenshots/ in the run folder; their paths are printed. Exit status 0 only
when the walk-through ended as expected.

  --bank FILE    a bank file (simulator/README.md); default: the built-in bank
                 (adapter 0: Type 2.0, Type 2.1 and a disk; adapter 1: Type 2.2
                 at target 0 and a drive without a protocol)
  --folder DIR   the run folder (default build/run); its Wine prefix lives there
  --walk         the walk-through even where a display exists
  --open         open the program even without a display (on a virtual one)
EOF
}

while [ $# -gt 0 ]; do
    case $1 in
    --help | -h) usage; exit 0 ;;
    --bank) bank=$(realpath "$2"); shift 2 ;;
    --folder) folder=$(realpath -m "$2"); shift 2 ;;
    --walk) walk=yes; shift ;;
    --open) walk=no; shift ;;
    *) usage >&2; exit 2 ;;
    esac
done
[ "$walk" = auto ] && { [ -n "${DISPLAY:-}" ] && walk=no || walk=yes; }

cd "$root"
tools/deps.sh
echo "run: building the Windows tree (build/win)"
cmake -S . -B build/win -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake >/dev/null
cmake --build build/win -j "${CORVANE_JOBS:-2}" --target Corvane Wexa wnaspi32 corvane-image walkthrough |
    grep -v '^\[' || true
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "run: the build failed" >&2; exit 1; }

bin=$root/build/win/bin
mkdir -p "$folder/images"
cp "$bin/Corvane.exe" "$bin/Wexa.dll" "$bin/WNASPI32.DLL" "$folder/"
[ -n "$bank" ] && cp "$bank" "$folder/bank.txt"

# The program's own prefix, apart from the one the tests share.
export WINEPREFIX=$folder/wineprefix
export WINEDEBUG=${WINEDEBUG:-fixme-all}
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree=;mshtml=;wnaspi32=n"
if [ "$walk" = yes ] || [ -z "${DISPLAY:-}" ]; then
    # shellcheck source=tools/xvfb.sh
    source tools/xvfb.sh
    corvane_start_xvfb
    trap 'wineserver -k 2>/dev/null || true; [ -n "${corvane_xvfb_pid:-}" ] && kill "$corvane_xvfb_pid" 2>/dev/null || true' EXIT
fi
if [ ! -f "$WINEPREFIX/.corvane-ready-2" ]; then
    echo "run: making the Wine prefix (once)"
    tools/wine-prefix.sh "$folder" >/dev/null 2>&1 || { echo "run: no Wine prefix" >&2; exit 1; }
fi

image() { # file, make options...
    local file=$1
    shift
    (cd "$folder/images" && wine "$bin/corvane-image.exe" make "$@" -o "$file" >/dev/null)
}
image type20.hex --protocol 2.0 --vendor QVSIM --product "CD-RW QV-2000" --revision 1.10 --seed 20
image type21.hex --protocol 2.1 --vendor QVSIM --product "DVD-ROM QV-2100" --revision 2.20 --seed 21
image type22.hex --protocol 2.2 --vendor QVSIM --product "DVD+RW QV-2200" --revision 1.30 --seed 22
image none.hex --protocol none --vendor QVSIM --product "NO PROTOCOL" --revision 0.01 --seed 1
# Damaged: a record's data cut short, so its length no longer fits.
image damaged.hex --protocol 2.2 --seed 9
sed -i '5s/..\r$/\r/' "$folder/images/damaged.hex"

export CORVANE_BANK_STATE=$folder/bank-state.txt
export CORVANE_BANK_LOG=$folder/bank-log.txt
if [ -f "$folder/bank.txt" ]; then export CORVANE_BANK=$folder/bank.txt; else unset CORVANE_BANK; fi
echo "run: run folder $folder"

if [ "$walk" = no ]; then
    cd "$folder"
    exec wine "$folder/Corvane.exe"
fi

# The walk-through starts from the bank's own identities.
rm -f "$CORVANE_BANK_STATE"
rm -rf "$folder/screenshots"
mkdir -p "$folder/screenshots"
# The walk-through asks for each picture with NAME.want (a part of the
# screen) and goes on once NAME.png has appeared.
photographer() {
    local want png
    while :; do
        for want in "$folder"/screenshots/*.want; do
            [ -f "$want" ] || continue
            png=${want%.want}.png
            import -window root -crop "$(cat "$want")" +repage "$png.part.png" &&
                mv "$png.part.png" "$png"
            rm -f "$want"
        done
        sleep 0.1
    done
}
echo "run: walking through one download on display $DISPLAY"
photographer &
photographer_pid=$!
status=0
wine "$bin/walkthrough.exe" "$folder" "$folder/images/type22.hex" "$folder/screenshots" || status=$?
kill "$photographer_pid" 2>/dev/null || true
if [ "$status" -eq 0 ]; then
    echo "run: the walk-through ended as expected; the pictures are listed above"
else
    echo "run: the walk-through failed" >&2
    exit 1
fi
