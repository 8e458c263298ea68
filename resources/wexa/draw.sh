#!/usr/bin/env bash
# Draws the plug-in's pictures into the folder given: the LCD pad bitmaps
# (193 x 66; 16 colours, the idle logo 256) and the 16 x 16 icons of the
# open-file button and the status rows. Only ImageMagick and its own fonts.
set -euo pipefail
out=${1:?usage: draw.sh OUTDIR}
mkdir -p "$out"
font=DejaVu-Sans-Mono-Bold
green='#00d000'

# LCD lettering: green on a plain ground, with faint segment lines behind it
# so the pad reads as a display.
lcd() { # name ground text
    convert -size 193x66 "xc:$2" \
        -fill none -stroke "$green" -strokewidth 1 -draw "roundrectangle 2,2 190,63 6,6" \
        -stroke none -fill "$green" -font "$font" -pointsize 34 -gravity center \
        -annotate +0+0 "$3" \
        -colors 16 -type Palette "BMP3:$out/$1.bmp"
}
lcd wexa-wait white 'Wait !'
lcd wexa-ok black 'OK!'
lcd wexa-ng black 'NG!'

# Idle logo: a disc with a rising arrow beside the product name, on a
# blue-to-black gradient.
convert -size 193x66 gradient:'#1a3a7a'-'#05070f' \
    -fill '#c8d0e0' -stroke '#8090b0' -draw "circle 33,33 33,6" \
    -fill '#1a3a7a' -stroke none -draw "circle 33,33 33,25" \
    -fill '#05070f' -draw "circle 33,33 33,29" \
    -fill "$green" -draw "polygon 58,44 70,26 82,44 75,44 75,56 65,56 65,44" \
    -fill white -font DejaVu-Sans-Bold -pointsize 30 -annotate +92+42 'Wexa' \
    -fill '#9fb4e0' -font DejaVu-Sans -pointsize 9 -annotate +92+56 'firmware updater' \
    -colors 256 -type Palette "BMP3:$out/wexa-logo.bmp"

icon() { # name draw-arguments...
    local name=$1
    shift
    convert -size 16x16 "xc:rgba(255,255,255,0)" "$@" -channel A -threshold 50% +channel +dither -colors 16 -type PaletteMatte "$out/$name.ico"
}
# Open file: a yellow folder with its lid raised.
icon wexa-open -fill '#e0b000' -stroke '#806000' -draw "polygon 1,4 6,4 7,6 14,6 14,14 1,14" \
    -fill '#ffd84a' -draw "polygon 3,8 15,8 13,14 1,14"
icon wexa-blank
icon wexa-arrow -fill '#00a000' -stroke '#005000' -draw "polygon 2,6 8,6 8,2 14,8 8,14 8,10 2,10"
icon wexa-cross -stroke '#d00000' -strokewidth 3 -draw "line 3,3 12,12" -draw "line 12,3 3,12"
icon wexa-check -fill none -stroke '#002080' -strokewidth 4 -draw "polyline 2,8 6,12 14,3" \
    -stroke '#2060ff' -strokewidth 2 -draw "polyline 2,8 6,12 14,3"
