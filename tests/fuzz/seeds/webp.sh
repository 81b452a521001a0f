#!/usr/bin/env bash
# Writes small WebPs of every kind the WebP reader handles into OUTDIR/webp/: lossy and
# lossless, each with and without alpha, alpha stored plain, an animation whose first frame is
# smaller than its canvas, the extended header with ICC and EXIF chunks (a bare TIFF block and
# one after "Exif\0\0"), and files cut short.
#   bash tests/fuzz/seeds/webp.sh OUTDIR
# Needs ImageMagick (convert), cwebp and img2webp (webp) and python3.
set -euo pipefail
out=${1:?usage: webp.sh OUTDIR}/webp
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 24x16 gradient:orange-navy "$work/rgb.png"
convert -size 24x16 gradient:orange-navy \( -size 24x16 gradient:white-black -rotate 90 \) \
  -alpha off -compose copy_opacity -composite "$work/rgba.png"
convert -size 10x6 xc:red "$work/small.png"
convert -size 24x16 xc:blue "$work/blue.png"
cwebp -quiet -q 60 "$work/rgb.png" -o "$out/lossy.webp"
cwebp -quiet -lossless "$work/rgb.png" -o "$out/lossless.webp"
cwebp -quiet -q 60 "$work/rgba.png" -o "$out/lossy-alpha.webp"
cwebp -quiet -q 60 -alpha_method 0 "$work/rgba.png" -o "$out/lossy-alpha-plain.webp"
cwebp -quiet -q 60 -alpha_filter best "$work/rgba.png" -o "$out/lossy-alpha-filtered.webp"
cwebp -quiet -lossless "$work/rgba.png" -o "$out/lossless-alpha.webp"
# Odd sides: 4:2:0 chroma and cropping at the edges.
convert -size 13x7 plasma:fractal -seed 1 "$work/odd.png"
cwebp -quiet -q 50 "$work/odd.png" -o "$out/lossy-odd.webp"
img2webp -loop 0 -d 100 -lossy "$work/rgb.png" -lossless "$work/rgba.png" -o "$out/animated.webp" \
  >/dev/null 2>&1

# Chunks the encoders do not write, put together by hand: an ICC profile, EXIF orientations,
# an animation whose first frame is set off on a larger canvas.
python3 - "$out" <<'PY'
import struct, sys, pathlib
out = pathlib.Path(sys.argv[1])

def chunk(fourcc, payload):
    return fourcc + struct.pack("<I", len(payload)) + payload + (b"\0" if len(payload) & 1 else b"")

def riff(chunks):
    return b"RIFF" + struct.pack("<I", len(chunks) + 4) + b"WEBP" + chunks

def vp8x(flags, w, h):
    return chunk(b"VP8X", struct.pack("<I", flags) + (w - 1).to_bytes(3, "little") +
                 (h - 1).to_bytes(3, "little"))

def tiff(orientation, order):
    e = "<" if order == "II" else ">"
    return (order.encode() + struct.pack(e + "HI", 42, 8) + struct.pack(e + "H", 1) +
            struct.pack(e + "HHIHH", 0x0112, 3, 1, orientation, 0) + struct.pack(e + "I", 0))

lossy = (out / "lossy.webp").read_bytes()[12:]
lossless = (out / "lossless.webp").read_bytes()[12:]
alpha = (out / "lossy-alpha.webp").read_bytes()[30:]  # ALPH and VP8 after the VP8X chunk
icc = b"\0\0\x02\x0cnone\x02\x10\0\0mntrRGB XYZ " + bytes(104)
for orientation in (3, 6, 8):
    for order, prefix in (("II", b""), ("MM", b"Exif\0\0")):
        exif = chunk(b"EXIF", prefix + tiff(orientation, order))
        name = f"exif{orientation}{order}.webp"
        (out / name).write_bytes(riff(vp8x(0x08, 24, 16) + lossy + exif))
(out / "icc-alpha.webp").write_bytes(riff(vp8x(0x30, 24, 16) + chunk(b"ICCP", icc) + alpha))
(out / "icc-exif-lossless.webp").write_bytes(
    riff(vp8x(0x28, 24, 16) + chunk(b"ICCP", icc) + lossless + chunk(b"EXIF", tiff(6, "II"))))

def anmf(x, y, w, h, frame):
    head = ((x // 2).to_bytes(3, "little") + (y // 2).to_bytes(3, "little") +
            (w - 1).to_bytes(3, "little") + (h - 1).to_bytes(3, "little") +
            (100).to_bytes(3, "little") + b"\x02")
    return chunk(b"ANMF", head + frame)

anim = chunk(b"ANIM", bytes(6))
(out / "animated-offset.webp").write_bytes(
    riff(vp8x(0x12, 40, 30) + anim + anmf(6, 8, 24, 16, lossless) + anmf(0, 0, 24, 16, lossy)))

# Cut short: inside the header, inside the bitstream.
for name in ("lossy.webp", "lossless.webp", "lossy-alpha.webp"):
    data = (out / name).read_bytes()
    (out / ("cut-" + name)).write_bytes(data[: len(data) * 2 // 3])
(out / "cut-header.webp").write_bytes((out / "lossy.webp").read_bytes()[:26])
PY
