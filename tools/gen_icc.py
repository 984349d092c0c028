#!/usr/bin/env python3
"""Generates data/zyk-srgb.icc, the RGB display profile the library embeds as
the PDF/A output intent and default RGB colour space.

The profile is a matrix/TRC display profile in ICC version 2.1.0 (PDF/A-1
accepts profiles up to version 2.x only):

- header: device class 'mntr', colour space 'RGB ', connection space 'XYZ ',
  perceptual rendering intent, D50 illuminant, a fixed creation date, no CMM,
  platform, manufacturer or creator (zeros), no profile ID (v2 has none);
- desc, cprt: our own texts;
- wtpt: the media white point, D65 as measured (the v2 convention for
  display profiles; the colorants below are already adapted to D50);
- bkpt: black (0, 0, 0);
- rXYZ, gXYZ, bXYZ: the sRGB primaries (IEC 61966-2-1: x,y of R 0.64/0.33,
  G 0.30/0.60, B 0.15/0.06, white D65 0.3127/0.3290) as XYZ columns scaled to
  the white point, Bradford-adapted from D65 to the D50 connection space. The
  fixed-point columns are rounded so that each row sums exactly to the
  encoded D50 illuminant, so RGB white maps to the PCS white without drift;
- rTRC, gTRC, bTRC: the sRGB decoding curve sampled at 2048 points, one
  curve per channel.

Python 3 standard library only; the output is byte-for-byte deterministic.

Usage: tools/gen_icc.py [output path]   (default: data/zyk-srgb.icc beside
this script's repository root)
"""

import os
import struct
import sys

DESCRIPTION = "zyk_out_pdfa sRGB display profile"
COPYRIGHT = "No copyright: placed in the public domain by the zyk_out_pdfa authors"

# The PCS illuminant as the ICC specification encodes it (s15Fixed16).
D50_FIXED = (0x0000F6D6, 0x00010000, 0x0000D32D)
D50 = tuple(v / 65536.0 for v in D50_FIXED)

CURVE_POINTS = 2048


def xy_to_xyz(x, y):
    return (x / y, 1.0, (1.0 - x - y) / y)


def mat_mul(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)] for i in range(3)]


def mat_vec(a, v):
    return [sum(a[i][k] * v[k] for k in range(3)) for i in range(3)]


def mat_inv(m):
    a, b, c = m[0]
    d, e, f = m[1]
    g, h, i = m[2]
    det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g)
    return [
        [(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det],
        [(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det],
        [(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det],
    ]


def rgb_to_xyz_matrix(primaries, white):
    """Columns are the XYZ of R, G and B, scaled so that R+G+B = white."""
    cols = [xy_to_xyz(x, y) for x, y in primaries]
    p = [[cols[j][i] for j in range(3)] for i in range(3)]
    s = mat_vec(mat_inv(p), white)
    return [[p[i][j] * s[j] for j in range(3)] for i in range(3)]


def bradford(src_white, dst_white):
    m = [[0.8951, 0.2664, -0.1614], [-0.7502, 1.7135, 0.0367], [0.0389, -0.0685, 1.0296]]
    cs = mat_vec(m, src_white)
    cd = mat_vec(m, dst_white)
    scale = [[cd[i] / cs[i] if i == j else 0.0 for j in range(3)] for i in range(3)]
    return mat_mul(mat_inv(m), mat_mul(scale, m))


def s15f16(v):
    return int(round(v * 65536.0))


def adapted_colorants():
    d65 = xy_to_xyz(0.3127, 0.3290)
    m = rgb_to_xyz_matrix([(0.64, 0.33), (0.30, 0.60), (0.15, 0.06)], d65)
    a = mat_mul(bradford(d65, D50), m)
    fixed = [[s15f16(a[i][j]) for j in range(3)] for i in range(3)]
    # Make every row (X, Y, Z) sum exactly to the encoded D50: put the rounding
    # remainder on the largest entry of the row, where it matters least.
    for i in range(3):
        diff = D50_FIXED[i] - sum(fixed[i])
        j = max(range(3), key=lambda k: abs(a[i][k]))
        fixed[i][j] += diff
    return [[fixed[i][j] for i in range(3)] for j in range(3)]  # per colorant


def srgb_decode(v):
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


# ---- tag types ----------------------------------------------------------------


def xyz_type(xyz_fixed):
    return b"XYZ " + bytes(4) + struct.pack(">3i", *xyz_fixed)


def text_type(text):
    return b"text" + bytes(4) + text.encode("ascii") + b"\0"


def desc_type(text):
    ascii_text = text.encode("ascii") + b"\0"
    return (
        b"desc" + bytes(4)
        + struct.pack(">I", len(ascii_text)) + ascii_text
        + struct.pack(">II", 0, 0)      # Unicode language code, count: none
        + struct.pack(">HB", 0, 0)      # ScriptCode code, count: none
        + bytes(67)                     # the fixed ScriptCode field
    )


def curve_type(points):
    vals = [int(round(srgb_decode(i / (points - 1)) * 65535.0)) for i in range(points)]
    return b"curv" + bytes(4) + struct.pack(">I", points) + struct.pack(">%dH" % points, *vals)


def build():
    r, g, b = adapted_colorants()
    d65 = xy_to_xyz(0.3127, 0.3290)
    tags = [
        (b"desc", desc_type(DESCRIPTION)),
        (b"cprt", text_type(COPYRIGHT)),
        (b"wtpt", xyz_type([s15f16(v) for v in d65])),
        (b"bkpt", xyz_type([0, 0, 0])),
        (b"rXYZ", xyz_type(r)),
        (b"gXYZ", xyz_type(g)),
        (b"bXYZ", xyz_type(b)),
        (b"rTRC", curve_type(CURVE_POINTS)),
        (b"gTRC", curve_type(CURVE_POINTS)),
        (b"bTRC", curve_type(CURVE_POINTS)),
    ]
    header_size = 128
    table_size = 4 + 12 * len(tags)
    offset = header_size + table_size
    table = struct.pack(">I", len(tags))
    body = b""
    for sig, data in tags:
        pad = (-offset) % 4  # every tag starts on a 4-byte boundary
        body += bytes(pad)
        offset += pad
        table += sig + struct.pack(">II", offset, len(data))
        body += data
        offset += len(data)
    body += bytes((-offset) % 4)
    size = header_size + len(table) + len(body)
    header = (
        struct.pack(">I", size)
        + bytes(4)                      # preferred CMM: none
        + struct.pack(">I", 0x02100000)  # version 2.1.0
        + b"mntr" + b"RGB " + b"XYZ "
        + struct.pack(">6H", 2026, 1, 1, 0, 0, 0)
        + b"acsp"
        + bytes(4)                      # primary platform: none
        + struct.pack(">I", 0)          # flags: not embedded-only, independent
        + bytes(4) + bytes(4)           # device manufacturer, model
        + bytes(8)                      # device attributes: reflective, glossy
        + struct.pack(">I", 0)          # rendering intent: perceptual
        + struct.pack(">3i", *D50_FIXED)
        + bytes(4)                      # creator: none
        + bytes(44)                     # reserved (v2: no profile ID)
    )
    assert len(header) == header_size
    return header + table + body


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "zyk-srgb.icc")
    data = build()
    with open(out, "wb") as f:
        f.write(data)
    print("%s: %d bytes" % (out, len(data)))


if __name__ == "__main__":
    main()
