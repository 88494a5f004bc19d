#!/usr/bin/env bash
# Redraws the application icon in the sizes the package installs into the hicolor theme. The PNGs
# are committed; run this only to change them (needs ImageMagick: apt-get install imagemagick).
set -euo pipefail

cd "$(dirname "$0")"
command -v convert >/dev/null || { echo "make-icon: ImageMagick's convert is missing (apt-get install imagemagick)" >&2; exit 1; }

green='#2e7d32'
dark='#1b5e20'

# A green badge: network arrows both ways above a nine-pin serial connector.
pins=(-fill '#ffd54f')
for x in 84 106 128 150 172; do pins+=(-draw "circle $x,176 $((x + 7)),176"); done
for x in 95 117 139 161; do pins+=(-draw "circle $x,201 $((x + 7)),201"); done
convert -size 256x256 xc:none \
    -fill "$dark" -draw 'roundrectangle 10,14 246,250 44,44' \
    -fill "$green" -draw 'roundrectangle 10,8 246,242 44,44' \
    -stroke white -strokewidth 16 -fill none -draw "stroke-linecap round" -draw "stroke-linejoin round" \
    -draw 'line 52,62 190,62' -draw 'polyline 166,38 198,62 166,86' \
    -draw 'line 204,118 66,118' -draw 'polyline 90,94 58,118 90,142' \
    -stroke none \
    -fill '#cfd8dc' -draw 'roundrectangle 46,156 210,222 14,14' \
    -fill '#263238' -draw 'polygon 68,162 188,162 176,216 80,216' \
    "${pins[@]}" \
    -type TrueColorAlpha -define png:color-type=6 -define png:exclude-chunk=date,time PNG32:tolvane-256.png

for size in 128 64 48; do
    convert tolvane-256.png -filter Lanczos -resize "${size}x${size}" \
        -type TrueColorAlpha -define png:color-type=6 -define png:exclude-chunk=date,time "PNG32:tolvane-$size.png"
done
identify tolvane-*.png
