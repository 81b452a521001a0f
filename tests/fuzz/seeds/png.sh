#!/usr/bin/env bash
# Writes small PNGs of every kind the PNG reader handles into OUTDIR/png/: each colour type at
# each bit depth, transparency by tRNS, interlaced, 16-bit, the colour and EXIF chunks, an
# animation, and files cut short.
#   bash tests/fuzz/seeds/png.sh OUTDIR
# Needs python3 and ImageMagick (convert).
set -euo pipefail
out=${1:?usage: png.sh OUTDIR}/png
mkdir -p "$out"

python3 - "$out" <<'PY'
import struct, sys, zlib, pathlib
out = pathlib.Path(sys.argv[1])
W, H = 13, 7

def chunk(kind, body=b""):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

def ihdr(w, h, depth, colour, interlace=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, interlace))

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}

def rows(depth, colour, w=W, h=H):
    raw = bytearray()
    for y in range(h):
        raw.append(y % 5)  # every filter type
        acc = bits = 0
        line = bytearray()
        for x in range(w):
            for c in range(CHANNELS[colour]):
                v = (x * 7 + y * 13 + c * 31) % (1 << depth)
                if depth == 16:
                    line += struct.pack(">H", v)
                    continue
                acc = acc << depth | v
                bits += depth
                if bits == 8:
                    line.append(acc); acc = bits = 0
        if bits:
            line.append(acc << (8 - bits))
        raw += line
    return raw

def png(depth, colour, extra=b"", before=b"", w=W, h=H):
    return (b"\x89PNG\r\n\x1a\n" + ihdr(w, h, depth, colour) + before + extra +
            chunk(b"IDAT", zlib.compress(bytes(rows(depth, colour, w, h)))) + chunk(b"IEND"))

def plte(n):
    return chunk(b"PLTE", bytes(v for i in range(n) for v in (i * 67 % 256, 255 - i * 29 % 256, i * 113 % 256)))

for depth in (1, 2, 4, 8, 16):
    (out / f"grey{depth}.png").write_bytes(png(depth, 0))
for depth in (8, 16):
    for colour, name in ((2, "rgb"), (4, "greyalpha"), (6, "rgba")):
        (out / f"{name}{depth}.png").write_bytes(png(depth, colour))
for depth in (1, 2, 4, 8):
    n = 1 << depth
    (out / f"palette{depth}.png").write_bytes(png(depth, 3, plte(n)))
    (out / f"palette{depth}-trns.png").write_bytes(png(depth, 3, plte(n) + chunk(b"tRNS", bytes(range(0, 256, 37))[:n])))
(out / "grey8-key.png").write_bytes(png(8, 0, chunk(b"tRNS", struct.pack(">H", 20))))
(out / "rgb16-key.png").write_bytes(png(16, 2, chunk(b"tRNS", struct.pack(">HHH", 1, 2, 3))))

# Colour chunks, and EXIF turning the picture.
gama = chunk(b"gAMA", struct.pack(">I", 45455))
chrm = chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
srgb = chunk(b"sRGB", b"\0")
icc = bytearray(132)
icc[0:4] = struct.pack(">I", 132); icc[8:12] = struct.pack(">I", 0x02100000)
icc[12:24] = b"mntrRGB XYZ "; icc[36:40] = b"acsp"; icc[68:80] = struct.pack(">III", 0xF6D6, 0x10000, 0xD32D)
iccp = chunk(b"iCCP", b"x\0\0" + zlib.compress(bytes(icc)))
(out / "colour-chunks.png").write_bytes(png(8, 2, before=gama + chrm))
(out / "srgb.png").write_bytes(png(8, 2, before=srgb))
(out / "iccp.png").write_bytes(png(8, 2, before=iccp))
for orientation in (3, 6, 8):
    tiff = b"MM\0*" + struct.pack(">IHHHIHHI", 8, 1, 0x0112, 3, 1, orientation, 0, 0)
    (out / f"exif{orientation}.png").write_bytes(png(8, 2, extra=chunk(b"eXIf", tiff)))
(out / "text.png").write_bytes(png(8, 2, extra=chunk(b"tEXt", b"Title\0x") +
                                   chunk(b"zTXt", b"C\0\0" + zlib.compress(b"a" * 1000)) +
                                   chunk(b"sPLT", b"p\0\x08\1\2\3\4\0\5")))

# An animation: the default image, then a second frame.
def fctl(seq):
    return chunk(b"fcTL", struct.pack(">IIIIIHHBB", seq, W, H, 0, 0, 1, 10, 0, 0))
frame = zlib.compress(bytes(rows(8, 6)))
base = png(8, 6, before=chunk(b"acTL", struct.pack(">II", 2, 0)) + fctl(0))
(out / "animation.png").write_bytes(base[:-12] + fctl(1) + chunk(b"fdAT", struct.pack(">I", 2) + frame) + base[-12:])

# Cut short inside the pixel data, and split over several IDAT chunks.
whole = png(8, 2, w=40, h=30)
(out / "cut.png").write_bytes(whole[: len(whole) * 2 // 3])
data = zlib.compress(bytes(rows(8, 2, 40, 30)))
split = b"".join(chunk(b"IDAT", data[i:i + 50]) for i in range(0, len(data), 50))
(out / "split-idat.png").write_bytes(b"\x89PNG\r\n\x1a\n" + ihdr(40, 30, 8, 2) + split + chunk(b"IEND"))
PY

# Interlaced files as ImageMagick writes them.
convert -size 19x11 gradient:red-blue -interlace PNG "$out/interlaced-rgb16.png"
convert -size 19x11 gradient:red-blue -depth 8 -alpha set -channel A -fx 'i/w' -interlace PNG \
  "$out/interlaced-rgba.png"
convert -size 19x11 gradient:white-black -colorspace Gray -depth 2 -interlace PNG \
  "$out/interlaced-grey2.png"
