#!/usr/bin/env bash
# Makes the fuzzers' starting inputs in DIR/<target>/: small valid files of every kind the
# targets read, so the fuzzers start deep inside the formats instead of at their first byte.
#   tests/fuzz/make-seeds.sh DIR
# Needs ImageMagick (convert), cjpeg (libjpeg-turbo-progs) and python3.
set -euo pipefail
out=${1:?usage: make-seeds.sh DIR}
mkdir -p "$out"/{loader,jpegscan,hive,journal,png,webp,tiff,heif,jxl}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# JPEG: baseline, progressive, with restart markers, arithmetic-coded, grey, and 4:2:0 of an
# odd size.
convert -size 64x48 gradient:red-blue "$work/src.ppm"
convert "$work/src.ppm" -quality 80 "$work/baseline.jpg"
convert "$work/src.ppm" -interlace JPEG "$work/progressive.jpg"
cjpeg -restart 1 -outfile "$work/restart.jpg" "$work/src.ppm"
cjpeg -progressive -restart 2B -outfile "$work/progressive-restart.jpg" "$work/src.ppm"
cjpeg -arithmetic -outfile "$work/arithmetic.jpg" "$work/src.ppm"
cjpeg -arithmetic -progressive -outfile "$work/arithmetic-progressive.jpg" "$work/src.ppm"
convert -size 33x17 plasma:fractal -seed 1 -sampling-factor 2x2 "$work/odd420.jpg"
convert "$work/src.ppm" -colorspace Gray "$work/grey.jpg"

# Every EXIF orientation, as an APP1 segment put right after SOI.
python3 - "$work" <<'PY'
import struct, sys, pathlib
work = pathlib.Path(sys.argv[1])
base = (work / "baseline.jpg").read_bytes()
for orientation in range(1, 9):
    for order in ("II", "MM"):
        e = "<" if order == "II" else ">"
        tiff = order.encode() + struct.pack(e + "HI", 42, 8)
        tiff += struct.pack(e + "H", 1) + struct.pack(e + "HHIHH", 0x0112, 3, 1, orientation, 0)
        tiff += struct.pack(e + "I", 0)
        payload = b"Exif\0\0" + tiff
        app1 = b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload
        (work / f"exif{orientation}{order}.jpg").write_bytes(base[:2] + app1 + base[2:])
PY

# BMP at 1, 4, 8, 16, 24 and 32 bits, and RLE8 and RLE4, written byte by byte.
python3 - "$work" <<'PY'
import struct, sys, pathlib
work = pathlib.Path(sys.argv[1])
W, H = 13, 7

def bmp(name, bits, rows, palette=b"", compression=0, top_down=False, masks=b""):
    data = b"".join(rows)
    header_size = 40
    offset = 14 + header_size + len(masks) + len(palette)
    info = struct.pack("<IiiHHIIiiII", header_size, W, -H if top_down else H, 1, bits,
                       compression, len(data), 2835, 2835, len(palette) // 4, 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
    (work / name).write_bytes(head + info + masks + palette + data)

def pad(row):
    return row + b"\0" * (-len(row) % 4)

def palette(n):
    return b"".join(bytes((i * 37 % 256, i * 91 % 256, i * 13 % 256, 0)) for i in range(n))

def packed(bits, y):
    values = [(x + y) % (1 << bits) for x in range(W)]
    out, acc, used = bytearray(), 0, 0
    for v in values:
        acc = (acc << bits) | v
        used += bits
        if used == 8:
            out.append(acc); acc = used = 0
    if used:
        out.append(acc << (8 - used))
    return pad(bytes(out))

for bits in (1, 4, 8):
    bmp(f"p{bits}.bmp", bits, [packed(bits, y) for y in range(H)], palette(1 << bits))
bmp("p8-topdown.bmp", 8, [packed(8, y) for y in range(H)], palette(256), top_down=True)
bmp("rgb16.bmp", 16, [pad(b"".join(struct.pack("<H", (x * 2 + y * 1024) & 0x7FFF)
                                   for x in range(W))) for y in range(H)])
bmp("rgb565.bmp", 16, [pad(b"".join(struct.pack("<H", x * 33 + y * 2048) for x in range(W)))
                        for y in range(H)], compression=3,
    masks=struct.pack("<III", 0xF800, 0x07E0, 0x001F))
bmp("rgb24.bmp", 24, [pad(b"".join(bytes((x * 19 % 256, y * 35 % 256, 90)) for x in range(W)))
                       for y in range(H)])
bmp("rgb32.bmp", 32, [b"".join(bytes((x * 19 % 256, y * 35 % 256, 90, 255)) for x in range(W))
                       for y in range(H)])
# RLE8: an encoded run, an absolute run, a delta, end of line, end of bitmap.
rle8 = []
for y in range(H):
    rle8.append(bytes((5, y, 0, 3, 1, 2, 3, 0, 5, 1)) + b"\0\0")
rle8[-1] = rle8[-1][:-2] + b"\0\x01"
bmp("rle8.bmp", 8, rle8, palette(256), compression=1)
rle4 = [bytes((6, 0x12, 0, 4, 0x34, 0x56, 3, 0x7f)) + b"\0\0" for _ in range(H)]
rle4[-1] = rle4[-1][:-2] + b"\0\x01"
bmp("rle4.bmp", 4, rle4, palette(16), compression=2)
PY

# GIF: plain, interlaced, animated with a transparent colour.
convert -size 40x30 gradient:yellow-navy -colors 32 "$work/plain.gif"
convert -size 40x30 gradient:green-white -colors 16 -interlace GIF "$work/interlaced.gif"
convert -delay 10 -size 20x20 xc:red xc:lime \( xc:blue -transparent blue \) -loop 0 \
  "$work/animated.gif"

cp "$work"/*.jpg "$work"/*.bmp "$work"/*.gif "$out/loader/"
cp "$work"/*.jpg "$out/jpegscan/"

# Settings files: the program's own form, and the corners of the text form.
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Zan\\Tavlin]\n"Show Controls"="true"\n"Last Directory"="/home/a \\"b\\""\n"Loop Seconds"="5"\n@="default"\n' \
  >"$out/hive/settings.reg"
printf '\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\a\\B\\c]\r\n"Bin"=hex:00,ff,10\r\n"Wrapped"=hex(1):61,62,63,64,65,66,67,68,69,6a,6b,6c,6d,6e,6f,70,71,72,73,74,75,\\\r\n  76,77,78,00\r\n"Dword"=dword:0000002a\r\n"None"=hex(0):\r\n; a comment\r\n[HKEY_LOCAL_MACHINE\\x]\r\n"y"="z"\r\n' \
  >"$out/hive/corners.reg"
printf 'REGEDIT4\n[HKEY_CURRENT_USER]\n"Fill"=hex(1):61,80,7a,00\n"Surrogate"=hex(1):2f,ed,b2,80,00\n' \
  >"$out/hive/regedit4.reg"

# Rename journals: phase 1 with parked files, phase 2 direct.
printf 'tavlin-batch-rename 1\nphase 1\ncount 2\ne a.jpg .tavlin-rename-0000abcd-0 b.jpg\ne b.jpg .tavlin-rename-0000abcd-1 a.jpg\nend\n' \
  >"$out/journal/phase1.journal"
printf 'tavlin-batch-rename 1\nphase 2\ncount 3\ne IMG%%201.JPG * trip1.jpg\ne %%2A.gif * trip2.gif\ne x.bmp .t trip3.bmp\nend\n' \
  >"$out/journal/phase2.journal"
# The newer picture formats: one script each under seeds/, writing into $out/<format>/; their
# seeds start the loader target too.
for script in "$(dirname "$0")"/seeds/*.sh; do
  [ -e "$script" ] || continue
  bash "$script" "$out"
done
for format in png webp tiff heif jxl; do
  cp "$out/$format"/* "$out/loader/" 2>/dev/null || true
done

echo "seed inputs in $out: $(find "$out" -type f | wc -l) files"
