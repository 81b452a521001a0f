#!/usr/bin/env bash
# Re-creates the bundled sample pictures in samples/ with ImageMagick. The
# pictures are drawn from gradients, shapes and seeded plasma, so they are the
# project's own and come out the same on every run.
set -euo pipefail
cd "$(dirname "$0")/../samples"
rm -f ./*.jpg ./*.JPG ./*.bmp ./*.BMP ./*.gif ./*.GIF

# A landscape: a sky gradient, a sun with a soft glow, a far ridge, a near hill
# and a lake that mirrors the sky. The sun sits in the upper right, so a picture
# turned the wrong way shows at once.
scene() { # scene WIDTH HEIGHT SKY1 SKY2 FAR NEAR SUN [convert options...] OUTPUT
  local w=$1 h=$2 sky1=$3 sky2=$4 far=$5 near=$6 sun=$7
  shift 7
  local sx=$((w * 7 / 10)) sy=$((h / 4)) r=$((w < h ? w / 14 : h / 14))
  convert -size "${w}x${h}" "gradient:$sky1-$sky2" \
    \( -size "${w}x${h}" xc:none -fill "$sun" -draw "circle $sx,$sy $((sx + r * 2)),$sy" \
       -channel A -evaluate multiply 0.35 +channel -blur 0x$((r)) \) -composite \
    -fill "$sun" -draw "circle $sx,$sy $((sx + r)),$sy" \
    -fill "$far" -draw "polygon 0,$((h * 3 / 5)) $((w / 6)),$((h * 9 / 20)) $((w / 3)),$((h * 11 / 20)) $((w / 2)),$((h * 2 / 5)) $((w * 3 / 4)),$((h * 11 / 20)) $w,$((h / 2)) $w,$((h * 7 / 10)) 0,$((h * 7 / 10))" \
    \( -size "${w}x$((h * 3 / 10))" "gradient:$sky2-$sky1" \) -gravity south -composite -gravity northwest \
    -fill "$near" -draw "polygon 0,$h 0,$((h * 3 / 4)) $((w / 5)),$((h * 7 / 10)) $((w * 2 / 5)),$((h * 4 / 5)) $((w * 3 / 5)),$h" \
    "$@"
}

# Plasma clouds, seeded, tinted: a picture with texture rather than shapes.
clouds() { # clouds WIDTH HEIGHT SEED TINT [convert options...] OUTPUT
  local w=$1 h=$2 seed=$3 tint=$4
  shift 4
  convert -seed "$seed" -size "${w}x${h}" plasma:fractal -blur 0x6 -modulate 100,70 \
    -fill "$tint" -colorize 35% +dither "$@"
}

scene 800 600 '#6fa8ff' '#dfefff' '#7d9bb5' '#2e7d32' '#ffe066' -quality 82 harbour.jpg
scene 1024 683 '#355c9a' '#f6c28b' '#6d5a6e' '#5d4037' '#fff3b0' -quality 80 Mountain.JPG
scene 600 800 '#ff9a62' '#ffe1c4' '#8d6e63' '#37474f' '#fff59d' -quality 82 portrait_tower.jpg
clouds 300 300 7 '#1565c0' -colors 24 -type palette -compress RLE square_tile.bmp
scene 320 240 '#e65100' '#ffcc80' '#8d4f2a' '#3e2723' '#fff176' -colors 200 -type palette Sunset.BMP
clouds 400 400 11 '#8e24aa' -colors 32 stripes.gif
scene 300 450 '#f48fb1' '#fce4ec' '#a1887f' '#33691e' '#ffee58' -colors 128 Flower.GIF
scene 48 32 '#0d47a1' '#bbdefb' '#546e7a' '#1b5e20' '#ffeb3b' -colors 16 tiny.gif
scene 1920 1080 '#0b1026' '#3a4a7a' '#1c2340' '#101010' '#f5f5f5' -interlace Plane -quality 75 night_sky.jpg
scene 640 480 '#80deea' '#e0f7fa' '#4db6ac' '#00695c' '#ffd54f' -quality 80 IMG2.jpg
scene 480 640 '#b39ddb' '#ede7f6' '#7e57c2' '#4527a0' '#ffca28' -quality 80 IMG10.jpg
# Stored on its side as a camera held turned writes it, shown upright: a portrait
# scene turned a quarter to the left, with EXIF orientation 6 (turn a quarter
# to the right to view).
scene 600 800 '#a5d6a7' '#f1f8e9' '#8d6e63' '#6d4c41' '#ffab40' -rotate -90 -quality 82 rotated_camera.jpg
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
