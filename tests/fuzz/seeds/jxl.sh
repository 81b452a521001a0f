#!/usr/bin/env bash
# Small JPEG XL files of every kind the loader reads, for the jxl fuzz target: lossless and
# lossy (VarDCT and modular), with alpha, 16 bits a sample, grey, an animation, a JPEG stored
# losslessly with its EXIF orientation, the container and the bare codestream, progressive and
# noisy pictures.
#   bash tests/fuzz/seeds/jxl.sh OUTDIR   (writes OUTDIR/jxl/)
# Needs ImageMagick (convert) and cjxl (libjxl-tools).
set -euo pipefail
out=${1:?usage: jxl.sh OUTDIR}/jxl
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 40x30 gradient:orange-navy "$work/rgb.png"
convert -size 40x30 gradient:white-black -colorspace Gray "$work/grey.png"
convert -size 40x30 gradient:red-blue -alpha set -channel A -evaluate set 50% +channel \
  "$work/alpha.png"
convert -size 40x30 gradient:green-magenta -depth 16 "$work/deep.png"
convert -delay 10 -size 24x16 xc:red xc:lime xc:blue -loop 0 "$work/animated.gif"
convert "$work/rgb.png" -quality 85 "$work/photo.jpg"

jxl() { # name, input, options...
  local name=$1 input=$2
  shift 2
  cjxl "$input" "$out/$name.jxl" --quiet "$@" >/dev/null 2>&1
}
jxl lossless "$work/rgb.png" -d 0 -e 3
jxl lossy-vardct "$work/rgb.png" -d 2 -e 3
jxl lossy-modular "$work/rgb.png" -d 2 -m 1 -e 3
jxl alpha "$work/alpha.png" -d 0 -e 2
jxl lossy-alpha "$work/alpha.png" -d 1.5 -e 3
jxl deep "$work/deep.png" -d 0 -e 2
jxl grey "$work/grey.png" -d 0 -e 2
jxl grey-lossy "$work/grey.png" -d 1 -e 3
jxl animated "$work/animated.gif" -d 0 -e 1
jxl container "$work/rgb.png" -d 1 -e 3 --container=1
jxl progressive "$work/rgb.png" -d 1 -e 3 -p
jxl noisy "$work/rgb.png" -d 2 -e 3 --photon_noise=ISO3200
jxl from-jpeg "$work/photo.jpg" -j 1

# The JPEG stored losslessly, its EXIF orientation 6 in an APP1 segment after SOI.
python3 - "$work/photo.jpg" "$work/exif6.jpg" <<'PY'
import struct, sys
base = open(sys.argv[1], "rb").read()
tiff = b"II" + struct.pack("<HI", 42, 8) + struct.pack("<H", 1)
tiff += struct.pack("<HHIHH", 0x0112, 3, 1, 6, 0) + struct.pack("<I", 0)
payload = b"Exif\0\0" + tiff
open(sys.argv[2], "wb").write(base[:2] + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) +
                              payload + base[2:])
PY
jxl exif-orientation "$work/exif6.jpg" -j 1
