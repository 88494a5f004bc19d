#!/usr/bin/env bash
# Redraws the logo and the icons under resources/. The PNGs are committed; run this only to change
# them (needs ImageMagick: apt-get install imagemagick).
#   logo:  resources/html/NRClogoGreen.png  400x126, RGB (no alpha)
#   icons: resources/images/*.png           128x128, RGBA; SerialPort.png 256x256, RGBA
set -euo pipefail

cd "$(dirname "$0")/.."
command -v convert >/dev/null || { echo "make-images: ImageMagick's convert is missing (apt-get install imagemagick)" >&2; exit 1; }

html=resources/html
img=resources/images
green='#2e7d32'
light='#66bb6a'
font=Liberation-Sans-Bold

# Logo: a green badge with two arrows (network <-> serial) and the green wordmark beside it.
convert -size 400x126 xc:white \
    -fill "$green" -draw 'roundrectangle 8,13 108,113 18,18' \
    -stroke white -strokewidth 7 -fill none \
    -draw 'line 28,48 82,48' -draw 'polyline 70,36 86,48 70,60' \
    -draw 'line 88,80 34,80' -draw 'polyline 46,68 30,80 46,92' \
    -stroke none -fill "$green" -font "$font" -pointsize 62 -annotate +122+78 'Tolvane' \
    -fill "$light" -draw 'rectangle 124,90 390,94' \
    -fill "$green" -font Liberation-Sans -pointsize 17 -annotate +124+114 'TCP to serial bridge' \
    -alpha off -type TrueColor -define png:color-type=2 -define png:exclude-chunk=date,time "PNG24:$html/NRClogoGreen.png"

# Writes a 128x128 (or given size) RGBA icon from draw options on a transparent canvas.
icon() {
    local out=$1 size=$2
    shift 2
    convert -size "${size}x${size}" xc:none "$@" -type TrueColorAlpha -define png:color-type=6 -define png:exclude-chunk=date,time "PNG32:$out"
}

# Clear: an eraser wiping a line.
icon "$img/clear.png" 128 \
    -fill '#9e9e9e' -draw 'rectangle 14,104 114,110' \
    -stroke '#5d4037' -strokewidth 3 \
    -fill '#ef5350' -draw 'polygon 40,96 20,76 66,30 86,50' \
    -fill '#eceff1' -draw 'polygon 86,50 66,30 84,12 104,32'

# Exit: a power symbol (a ring opened at the top, and a bar through the opening).
icon "$img/application-exit.png" 128 \
    -fill none -stroke '#c62828' -strokewidth 12 -draw 'circle 64,68 64,22' \
    \( +clone -alpha extract -fill black -stroke none -draw 'polygon 64,68 34,0 94,0' \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -stroke '#c62828' -strokewidth 12 -draw 'line 64,12 64,60'

# Connect: two plug halves joined.
icon "$img/connect.png" 128 \
    -fill "$green" -draw 'roundrectangle 6,44 62,84 8,8' -draw 'roundrectangle 66,44 122,84 8,8' \
    -draw 'rectangle 56,54 72,74'

# Disconnect: the two halves apart, with a red gap.
icon "$img/disconnect.png" 128 \
    -fill '#757575' -draw 'roundrectangle 4,44 46,84 8,8' -draw 'roundrectangle 82,44 124,84 8,8' \
    -fill none -stroke '#c62828' -strokewidth 8 -draw 'line 52,40 76,88'

# Settings: a gear with eight teeth.
gear=(-fill '#546e7a')
for a in 0 45 90 135; do
    gear+=(-draw "translate 64,64 rotate $a rectangle -10,-58 10,58")
done
icon "$img/settings.png" 128 "${gear[@]}" -draw 'circle 64,64 64,20' \
    -alpha set \
    -channel A -fx 'hypot(i-64,j-64)<16 ? 0 : a' +channel

# Serial port: a nine-pin D connector seen from the front.
pins=(-fill '#ffd54f')
for x in 64 96 128 160 192; do pins+=(-draw "circle $x,112 $((x + 9)),112"); done
for x in 80 112 144 176; do pins+=(-draw "circle $x,148 $((x + 9)),148"); done
icon "$img/SerialPort.png" 256 \
    -fill '#9e9e9e' -draw 'roundrectangle 4,70 252,190 14,14' \
    -fill '#424242' -draw 'circle 22,130 22,120' -draw 'circle 234,130 234,120' \
    -fill '#263238' -stroke '#b0bec5' -strokewidth 4 -draw 'polygon 42,88 214,88 190,172 66,172' \
    -stroke none "${pins[@]}"

for f in "$html"/NRClogoGreen.png "$img"/*.png; do
    identify -format '%f %wx%h %[channels]\n' "$f"
done
