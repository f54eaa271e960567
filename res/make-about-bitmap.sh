#!/bin/bash
# Draws the About box's bitmap (res/about.bmp): the program's cluster bar,
# broken in the middle, on a magenta background. 50 by 50 pixels, 24 bits per
# pixel. The About box draws every pixel of the top-left colour transparent,
# so the gap in the middle of the bar shows the dialog through it too; no
# antialiasing, so no edge pixel comes out nearly magenta. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"
# The picture keeps to 0..47: the About box's frame clips the last columns
# and rows.
convert -size 50x50 xc:'#ff00ff' +antialias \
  -fill '#f4f4f4' -stroke '#303030' -strokewidth 2 -draw 'roundrectangle 2,8 46,40 4,4' \
  -stroke none \
  -fill '#1e50e6' -draw 'rectangle 6,13 15,35' -draw 'rectangle 18,13 22,35' \
  -fill '#ff00ff' -draw 'rectangle 25,11 27,37' \
  -fill '#e02020' -draw 'rectangle 30,13 34,35' -draw 'rectangle 37,13 42,35' \
  -type TrueColor -depth 8 BMP3:about.bmp
identify about.bmp
