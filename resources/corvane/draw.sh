#!/usr/bin/env bash
# Draws Corvane.exe's icons into the folder given: 107 (plain mode), 108 (full
# mode) and 128 (About page), each at 32 and 16 pixels.
set -euo pipefail
out=${1:?usage: draw.sh OUTDIR}
mkdir -p "$out"
command -v convert >/dev/null || { echo "draw.sh: ImageMagick's convert is missing" >&2; exit 1; }

# A disc with a hub, in the given rim and face colours, and an arrow when asked.
disc() { # output rim face arrow(0/1)
    local arrow=()
    if [ "$4" = 1 ]; then
        arrow=(-fill '#f2c200' -stroke '#5a4500' -strokewidth 1
            -draw 'polygon 16,3 26,13 20,13 20,21 12,21 12,13 6,13')
    fi
    convert -size 32x32 xc:none \
        -fill "$3" -stroke "$2" -strokewidth 2 -draw 'circle 16,16 16,2' \
        -fill none -stroke '#ffffff80' -strokewidth 1 -draw 'arc 6,6 26,26 200,260' \
        -fill '#d8d8d8' -stroke "$2" -strokewidth 1 -draw 'circle 16,16 16,12' \
        "${arrow[@]}" \
        -define icon:auto-resize=32,16 "$1"
}

disc "$out/corvane-107.ico" '#404040' '#a8a8b8' 0
disc "$out/corvane-108.ico" '#10306a' '#4f86d9' 1
disc "$out/corvane-128.ico" '#6a3c10' '#d99a4f' 1
