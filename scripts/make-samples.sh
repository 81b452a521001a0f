#!/usr/bin/env bash
# Re-creates the bundled sample pictures in samples/ with ImageMagick. The
# pictures are drawn from gradients and shapes, so they are the project's own.
set -euo pipefail
cd "$(dirname "$0")/../samples"
rm -f ./*.jpg ./*.JPG ./*.bmp ./*.BMP ./*.gif ./*.GIF

scene() { # scene WIDTH HEIGHT SKY1 SKY2 LAND SUN
  local w=$1 h=$2
  convert -size "${w}x${h}" "gradient:$3-$4" \
    -fill "$6" -draw "circle $((w*7/10)),$((h/4)) $((w*7/10+w/12)),$((h/4))" \
    -fill "$5" -draw "polygon 0,$h 0,$((h*2/3)) $((w/4)),$((h/2)) $((w/2)),$((h*7/10)) $((w*3/4)),$((h*11/20)) $w,$((h*2/3)) $w,$h" \
    -fill black -draw "rectangle 0,0 $((w/8)),$((h/8))" "${@:7}"
}

scene 800 600 '#6fa8ff' '#dfefff' '#2e7d32' '#ffe066' -quality 82 harbour.jpg
scene 1024 683 '#355c9a' '#f6c28b' '#5d4037' '#fff3b0' -quality 80 Mountain.JPG
scene 600 800 '#ff9a62' '#ffe1c4' '#37474f' '#fff59d' -quality 82 portrait_tower.jpg
scene 300 300 '#0d47a1' '#90caf9' '#1b5e20' '#ffffff' -colors 200 -type palette square_tile.bmp
scene 320 240 '#e65100' '#ffcc80' '#3e2723' '#fff176' -colors 200 -type palette Sunset.BMP
scene 400 400 '#4a148c' '#ce93d8' '#004d40' '#ffeb3b' -colors 64 stripes.gif
scene 300 450 '#f48fb1' '#fce4ec' '#33691e' '#ffee58' -colors 128 Flower.GIF
scene 48 32 '#000000' '#00ff00' '#ffffff' '#ff0000' -colors 16 tiny.gif
scene 1920 1080 '#0b1026' '#3a4a7a' '#101010' '#f5f5f5' -interlace Plane -quality 75 night_sky.jpg
scene 640 480 '#80deea' '#e0f7fa' '#00695c' '#ffd54f' -quality 80 IMG2.jpg
scene 480 640 '#b39ddb' '#ede7f6' '#4527a0' '#ffca28' -quality 80 IMG10.jpg
# Stored landscape, shown portrait: the camera was turned a quarter to the right.
scene 800 600 '#a5d6a7' '#f1f8e9' '#6d4c41' '#ffab40' -quality 82 rotated_camera.jpg
python3 - rotated_camera.jpg <<'PY'
import struct, sys
# An EXIF block holding only "Orientation = 6" (rotate 90 degrees clockwise to view).
tiff = b"MM\0*" + struct.pack(">I", 8) + struct.pack(">H", 1) + struct.pack(">HHIHH", 0x0112, 3, 1, 6, 0) + struct.pack(">I", 0)
app1 = b"Exif\0\0" + tiff
data = open(sys.argv[1], "rb").read()
assert data[:2] == b"\xff\xd8"
open(sys.argv[1], "wb").write(data[:2] + b"\xff\xe1" + struct.pack(">H", len(app1) + 2) + app1 + data[2:])
PY
# Named like a picture, but not one: Tavlin shows its error picture for it.
printf 'This file is not a picture, whatever its name says.\n' > broken_picture.jpg
