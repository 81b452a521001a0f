#!/usr/bin/env bash
# Small TIFFs of every kind the reader decodes, into OUT/tiff/: strips and tiles, every
# compression, grey, palette, bilevel, RGB, RGBA with either alpha, 16-bit, CMYK, planes, a
# second page, an orientation and a colour profile.
#   bash tests/fuzz/seeds/tiff.sh OUT
# Needs ImageMagick (convert) and libtiff's tools (tiffcp, tiffset).
set -euo pipefail
out=${1:?usage: tiff.sh OUT}/tiff
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Many colours, so ImageMagick keeps RGB rather than a palette; alpha fading top to bottom.
convert -size 37x23 -seed 1 plasma:fractal -depth 8 "$work/src.png"
convert "$work/src.png" \( -size 37x23 gradient:white-black \) -alpha off \
  -compose CopyOpacity -composite "$work/alpha.png"
t() { # name, then ImageMagick's options
  local name=$1
  shift
  convert "$work/src.png" -compress None "$@" "$out/$name.tif"
}
t none -compress None
t lzw -compress LZW
t deflate -compress Zip
t packbits -compress RLE
t jpeg -compress JPEG -quality 60
t tiles -compress None -define tiff:tile-geometry=16x16
t tiles-lzw -compress LZW -define tiff:tile-geometry=16x16
t tiles-jpeg -compress JPEG -define tiff:tile-geometry=16x16
t grey -colorspace Gray
t grey16 -colorspace Gray -depth 16 -compress Zip
t rgb16-msb -depth 16 -endian MSB
t palette -type Palette -compress LZW
t bilevel -monochrome -compress Group4
t cmyk -colorspace CMYK
t planes -interlace Plane -compress LZW
t one-strip -compress Zip -define tiff:rows-per-strip=23
convert "$work/alpha.png" -define tiff:alpha=associated "$out/rgba-associated.tif"
convert "$work/alpha.png" -define tiff:alpha=unassociated -compress LZW "$out/rgba-unassociated.tif"
convert "$work/alpha.png" -depth 16 -define tiff:alpha=unassociated \
  -define tiff:tile-geometry=16x16 "$out/rgba16-tiles.tif"
convert "$work/src.png" "$work/alpha.png" "$out/two-pages.tif"
tiffcp -c lzw -p separate -t -w 16 -l 16 "$out/none.tif" "$out/planes-tiles.tif"
cp "$out/lzw.tif" "$out/orientation6.tif"
tiffset -s 274 6 "$out/orientation6.tif"
# BigTIFF, in the other byte order.
tiffcp -8 -B "$out/lzw.tif" "$out/bigtiff-msb.tif"
# JPEG in YCbCr, subsampled, as tiffcp writes it, in strips and tiles.
tiffcp -c jpeg -r 16 "$out/none.tif" "$out/ycbcr-jpeg.tif"
tiffcp -c jpeg -t -w 16 -l 16 "$out/none.tif" "$out/ycbcr-jpeg-tiles.tif"
