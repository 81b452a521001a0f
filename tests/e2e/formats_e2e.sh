#!/usr/bin/env bash
# Every picture format the program reads, shown by the real program on a 1024 x 768 X screen:
# a folder of small pictures in PNG (palette, 16-bit grey, transparent, interlaced), WebP
# (lossy, lossless with transparency), TIFF (16-bit tiles, turned by its orientation tag),
# HEIC, AVIF (transparent), JPEG XL and a PNG named .jpg, stepped through with Right, each
# read back from the screen at the middle of its quarters.
binary=$1
source "$(dirname "$0")/lib.sh"
command -v cjxl >/dev/null || skip "cjxl is not installed (scripts/deps.sh --test installs libjxl-tools)"
writers=$(convert -list format)
for format in HEIC AVIF WEBP; do
  grep -qw "$format" <<<"$writers" || skip "ImageMagick here cannot write $format"
done
start_x

pictures="$e2e_tmp/pictures"
work="$e2e_tmp/work"
mkdir -p "$pictures" "$work"
# 800 x 600 in four quarters: red, green / blue, white.
convert -size 400x300 xc:'#ff0000' xc:'#00ff00' +append \
  \( -size 400x300 xc:'#0000ff' xc:'#ffffff' +append \) -append "$work/quarters.png"
# Left half opaque red, right half wholly transparent.
convert -size 400x600 xc:'#ff0000' xc:none +append "$work/halfclear.png"

convert "$work/quarters.png" -colors 8 PNG8:"$pictures/01_palette.png"
convert -size 400x600 xc:black xc:white +append -colorspace Gray -depth 16 \
  PNG:"$pictures/02_grey16.png"
convert "$work/halfclear.png" PNG32:"$pictures/03_clear.png"
convert "$work/quarters.png" -interlace PNG "$pictures/04_interlaced.png"
convert "$work/quarters.png" -flip -quality 90 "$pictures/05_lossy.webp"
convert "$work/halfclear.png" -define webp:lossless=true "$pictures/06_clear.webp"
convert "$work/quarters.png" -type TrueColor -depth 16 -define tiff:tile-geometry=64x64 \
  "$pictures/07_tiles16.tif"
# Stored standing, top red and bottom blue; the tag turns it a quarter clockwise to show.
convert -size 600x400 xc:'#ff0000' -size 600x400 xc:'#0000ff' -append -orient RightTop \
  "$pictures/08_turned.tif"
convert "$work/quarters.png" -quality 90 "$pictures/09_photo.heic"
convert "$work/halfclear.png" -quality 90 "$pictures/10_clear.avif"
cjxl -q 100 "$work/quarters.png" "$pictures/11_lossless.jxl" >/dev/null 2>&1
convert "$work/quarters.png" -flip PNG24:"$pictures/12_png_named.jpg"

# Points inside each quarter of an 800 x 600 picture, whether or not it is stretched to the
# 829 x 768 left of the panel. Each list starts with a point where the picture differs from the
# one before it, so the rest are read from the new picture.
expect() { # what, then pairs of "x,y colour"
  local what=$1; shift
  for check in "$@"; do
    local at=${check% *} colour=${check#* }
    wait_colour "${at%,*}" "${at#*,}" "$colour" \
      || fail "$what: $colour expected at $at, the screen has $(screen_pixel "${at%,*}" "${at#*,}")"
  done
}
quarters=("620,250 green" "200,250 red" "200,520 blue" "620,520 white")
flipped=("200,250 blue" "620,250 white" "200,520 red" "620,520 green")
halves_clear=("620,250 black" "200,250 red" "620,520 black")

start_app app.log "$pictures/01_palette.png"
expect "a palette PNG" "${quarters[@]}"
steps=(
  "a 16-bit grey PNG|200,250 black|620,250 white"
  "a transparent PNG over black|${halves_clear[0]}|${halves_clear[1]}|${halves_clear[2]}"
  "an interlaced PNG|${quarters[0]}|${quarters[1]}|${quarters[2]}|${quarters[3]}"
  "a lossy WebP|${flipped[0]}|${flipped[1]}|${flipped[2]}|${flipped[3]}"
  "a transparent lossless WebP|${halves_clear[0]}|${halves_clear[1]}|${halves_clear[2]}"
  "a 16-bit tiled TIFF|${quarters[0]}|${quarters[1]}|${quarters[2]}|${quarters[3]}"
  "a TIFF turned by its tag|200,300 blue|620,300 red"
  "a HEIC|${quarters[0]}|${quarters[1]}|${quarters[2]}|${quarters[3]}"
  "a transparent AVIF|${halves_clear[0]}|${halves_clear[1]}|${halves_clear[2]}"
  "a JPEG XL|${quarters[0]}|${quarters[1]}|${quarters[2]}|${quarters[3]}"
  "a PNG named .jpg|${flipped[0]}|${flipped[1]}|${flipped[2]}|${flipped[3]}"
)
for step in "${steps[@]}"; do
  IFS='|' read -r -a parts <<<"$step"
  xdotool key Right
  expect "${parts[@]}"
done
! grep -E "could not be decoded|is not a|cannot be read" "$e2e_tmp/app.log" \
  || fail "a picture was refused: $(cat "$e2e_tmp/app.log")"
echo "end-to-end formats: ok"
