#!/usr/bin/env bash
# Seeds for the heif target: small HEIC and AVIF files of every kind the reader meets, in
# OUTDIR/heif/.
#   bash tests/fuzz/seeds/heif.sh OUTDIR
# Needs heif-enc (libheif-examples), ImageMagick (convert) and python3.
set -euo pipefail
out=${1:?usage: heif.sh OUTDIR}/heif
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 40x30 gradient:red-blue -depth 8 "$work/rgb.png"
convert -size 40x30 gradient:red-blue -depth 16 "$work/deep.png"
convert -size 40x30 gradient:yellow-navy -depth 8 \( -size 40x30 gradient:white-black \) \
  -alpha off -compose copy-opacity -composite "$work/alpha.png"

# HEVC: lossy 4:2:0 (a one-tile grid cropped to its picture), lossless 4:4:4, 10 bits, alpha.
heif-enc -q 30 -o "$out/x265.heic" "$work/rgb.png" >/dev/null
heif-enc -L -p chroma=444 -o "$out/lossless444.heic" "$work/rgb.png" >/dev/null
heif-enc -b 10 -q 30 -o "$out/ten-bit.heic" "$work/deep.png" >/dev/null
heif-enc -q 30 -o "$out/alpha.heic" "$work/alpha.png" >/dev/null
# AV1: lossy, 10 bits, alpha, with nclx code points.
heif-enc -A -q 30 -o "$out/aom.avif" "$work/rgb.png" >/dev/null
# aom 3.6 through libheif 1.15 stops on an assertion for 10-bit 4:2:0 and 4:4:4; 4:2:2 works.
heif-enc -A -b 10 -p chroma=422 -q 30 -o "$out/ten-bit.avif" "$work/deep.png" >/dev/null
heif-enc -A -b 12 -q 30 -o "$out/twelve-bit.avif" "$work/deep.png" >/dev/null
heif-enc -A -q 30 -o "$out/alpha.avif" "$work/alpha.png" >/dev/null
heif-enc -A -q 30 --colour_primaries 9 --transfer_characteristic 16 \
  -o "$out/pq.avif" "$work/rgb.png" >/dev/null
convert "$work/rgb.png" -quality 40 "$out/convert.heic"

# The same HEIC turned by an irot box, and mirrored by an imir box, added to the primary item.
python3 - "$out/x265.heic" "$out" <<'PY'
import struct, sys, pathlib

src, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
data = bytearray(src.read_bytes())

def boxes(b, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", b[at:at + 8])
        yield at, size, kind
        at += size

def find(b, path):
    start, end, chain = 0, len(b), []
    for kind in path:
        for at, size, k in boxes(b, start, end):
            if k == kind:
                chain.append(at)
                start, end = at + (12 if k == b"meta" else 8), at + size
                break
        else:
            raise SystemExit("no " + kind.decode())
    return chain

def insert(b, path, offset_in_box, payload):
    chain = find(b, path)
    at = chain[-1] + offset_in_box
    b[at:at] = payload
    for outer in chain:
        struct.pack_into(">I", b, outer, struct.unpack_from(">I", b, outer)[0] + len(payload))
    # Items stored in the file past the insertion move with it.
    iloc = find(b, [b"meta", b"iloc"])[-1]
    version = b[iloc + 8]
    sizes = b[iloc + 12], b[iloc + 13]
    offset_size, length_size = sizes[0] >> 4, sizes[0] & 15
    base_size, index_size = sizes[1] >> 4, (sizes[1] & 15) if version >= 1 else 0
    get = lambda p, n: int.from_bytes(b[p:p + n], "big")
    put = lambda p, n, v: b.__setitem__(slice(p, p + n), v.to_bytes(n, "big"))
    pos = iloc + 14
    count = get(pos, 2)
    pos += 2
    for _ in range(count):
        pos += 2
        method = get(pos, 2) & 15 if version >= 1 else 0
        pos += (2 if version >= 1 else 0) + 2
        base, base_at = get(pos, base_size), pos
        pos += base_size
        extents = get(pos, 2)
        pos += 2
        for _ in range(extents):
            pos += index_size
            offset = get(pos, offset_size)
            if method == 0 and base + offset >= at:
                if base_size:
                    put(base_at, base_size, base + len(payload))
                else:
                    put(pos, offset_size, offset + len(payload))
            pos += offset_size + length_size

def with_property(prop):
    b = bytearray(data)
    ipco = find(b, [b"meta", b"iprp", b"ipco"])[-1]
    index = sum(1 for _ in boxes(b, ipco + 8, ipco + struct.unpack_from(">I", b, ipco)[0])) + 1
    insert(b, [b"meta", b"iprp", b"ipco"], struct.unpack_from(">I", b, ipco)[0], prop)
    pitm = find(b, [b"meta", b"pitm"])[-1]
    primary = struct.unpack_from(">H", b, pitm + 12)[0]
    ipma = find(b, [b"meta", b"iprp", b"ipma"])[-1]
    pos, entries = ipma + 16, struct.unpack_from(">I", b, ipma + 12)[0]
    for _ in range(entries):
        item, n = struct.unpack_from(">HB", b, pos)
        if item == primary:
            b[pos + 2] = n + 1
            insert(b, [b"meta", b"iprp", b"ipma"], pos + 3 + n - ipma, bytes([0x80 | index]))
            break
        pos += 3 + n
    return b

(out / "irot.heic").write_bytes(with_property(struct.pack(">I4sB", 9, b"irot", 1)))
(out / "imir.heic").write_bytes(with_property(struct.pack(">I4sB", 9, b"imir", 1)))
PY
