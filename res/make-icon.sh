#!/bin/bash
# Draws the program icon (res/shardix.ico): a cluster bar broken into blue
# and red shards on white, in 48, 32 and 16 pixels. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for size in 48 32 16; do
  # Drawn at 48 px and scaled, so the three pictures match.
  convert -size 48x48 xc:none \
    -fill '#f4f4f4' -stroke '#303030' -strokewidth 2 -draw 'roundrectangle 3,9 44,38 4,4' \
    -stroke none \
    -fill '#1e50e6' -draw 'rectangle 6,12 15,35' -draw 'rectangle 19,12 23,35' \
    -draw 'rectangle 27,12 29,35' -draw 'rectangle 33,12 34,35' \
    -fill '#e02020' -draw 'rectangle 38,12 41,35' \
    -resize "${size}x${size}" "PNG32:$tmp/icon-$size.png"
done
convert "$tmp/icon-48.png" "$tmp/icon-32.png" "$tmp/icon-16.png" shardix.ico
identify shardix.ico
