#!/usr/bin/env bash
# JPEGs that carry an ICC profile in APP2 segments, for the loader and the JPEG walk: a whole
# profile in one segment and in several out of order, one cut short, one with a chunk missing
# and one with a chunk given twice.
#   bash seeds/icc.sh OUTDIR
# Needs ImageMagick (convert) and python3.
set -euo pipefail
out=${1:?usage: icc.sh OUTDIR}
mkdir -p "$out/loader" "$out/jpegscan"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 48x32 gradient:red-blue "$work/base.jpg"

python3 - "$work" "$out" <<'PY'
import struct, sys, pathlib

work, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
base = (work / "base.jpg").read_bytes()

def s15(v):
    return struct.pack(">i", round(v * 65536))

def xyz(x, y, z):
    return b"XYZ \0\0\0\0" + s15(x) + s15(y) + s15(z)

def para(g, a, b, c, d):  # parametric curve of type 3: (aX + b)^g from d on, cX below
    return b"para\0\0\0\0" + struct.pack(">HH", 3, 0) + b"".join(s15(v) for v in (g, a, b, c, d))

# A display profile of Display P3: D50-adapted colorants, the sRGB curve.
srgb_curve = para(2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045)
tags = [
    (b"wtpt", xyz(0.9642, 1.0, 0.8249)),
    (b"rXYZ", xyz(0.5151, 0.2412, -0.0011)),
    (b"gXYZ", xyz(0.2920, 0.6922, 0.0419)),
    (b"bXYZ", xyz(0.1571, 0.0666, 0.7841)),
    (b"rTRC", srgb_curve),
    (b"gTRC", srgb_curve),
    (b"bTRC", srgb_curve),
    (b"desc", b"mluc\0\0\0\0" + struct.pack(">II", 1, 12) + b"enUS" +
     struct.pack(">II", 4, 28) + "P3".encode("utf-16-be")),
]
table = struct.pack(">I", len(tags))
data = b""
offset = 128 + 4 + 12 * len(tags)
for sig, body in tags:
    body += b"\0" * (-len(body) % 4)
    table += sig + struct.pack(">II", offset + len(data), len(body))
    data += body
size = 128 + len(table) + len(data)
header = struct.pack(">I4sI4s4s4s", size, b"lcms", 0x04300000, b"mntr", b"RGB ", b"XYZ ")
header += b"\0" * 12 + b"acsp" + b"\0" * 24 + s15(0.9642) + s15(1.0) + s15(0.8249)
header += b"\0" * (128 - len(header))
profile = header + table + data

def segment(number, count, chunk):
    body = b"ICC_PROFILE\0" + bytes((number, count)) + chunk
    return b"\xff\xe2" + struct.pack(">H", len(body) + 2) + body

def tagged(name, segments):
    jpeg = base[:2] + b"".join(segments) + base[2:]
    for target in ("loader", "jpegscan"):
        (out / target / f"icc-{name}.jpg").write_bytes(jpeg)

chunks = [profile[i:i + 100] for i in range(0, len(profile), 100)]
n = len(chunks)
tagged("whole", [segment(1, 1, profile)])
tagged("chunks", [segment(i + 1, n, c) for i, c in reversed(list(enumerate(chunks)))])
tagged("truncated", [segment(1, 1, profile[: len(profile) // 2])])
tagged("missing", [segment(i + 1, n, c) for i, c in enumerate(chunks) if i != 1])
tagged("twice", [segment(1, n, chunks[0])] + [segment(i + 1, n, c) for i, c in enumerate(chunks)])
PY
