#!/usr/bin/env python3
"""Generates data/zyk-cmyk.icc, the CMYK profile the library embeds as the
colour space of device CMYK: the default CMYK space of every page, and the
space written for DeviceCMYK images, shadings and the alternate space of
Separation and DeviceN colours.

The profile describes the CMYK the writer already uses when it turns CMYK
painting operators into RGB: the naive mapping r = (1 - c)(1 - k),
g = (1 - m)(1 - k), b = (1 - y)(1 - k) into the library's sRGB display
profile (data/zyk-srgb.icc, from tools/gen_icc.py). So CMYK images and
shadings come out as the CMYK painting operators do, and both as a viewer
without colour management shows device CMYK.

It is an output (printer) profile in ICC version 2.1.0 (PDF/A-1 accepts
profiles up to version 2.x only), colour space 'CMYK', connection space Lab:

- header: device class 'prtr', perceptual rendering intent, D50 illuminant,
  a fixed creation date, no CMM, platform, manufacturer or creator, no
  profile ID (v2 has none);
- desc, cprt: our own texts; wtpt: D50 (the media white is the PCS white);
- A2B0 (shared by A2B1, A2B2): lut16Type, 4 inputs, 3 outputs, identity
  input and output tables, a CLUT of GRID_A2B points per input; each node is
  the naive RGB above, decoded with the sRGB curve, through the sRGB
  colorants adapted to D50 (the ones gen_icc.py writes), to Lab;
- B2A0 (shared by B2A1, B2A2): lut16Type, 3 inputs, 4 outputs, a CLUT of
  GRID_B2A points per input: Lab to linear sRGB, clipped, encoded with the
  sRGB curve, then CMYK with full black generation (k = 1 - max(r, g, b));
- gamt: lut16Type, 3 inputs, 1 output, every colour in gamut (the profile
  is only ever used to read CMYK, never to print).

Lab in lut16Type uses the version 2 encoding: L* 0..100 as 0..0xFF00, a* and
b* -128..127.996 as 0..0xFFFF with 0 at 0x8000.

Python 3 standard library only; the output is byte-for-byte deterministic.

Usage: tools/gen_icc_cmyk.py [output path]   (default: data/zyk-cmyk.icc
beside this script's repository root)
"""

import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_icc  # noqa: E402  (the sRGB colorants and curve, shared)

DESCRIPTION = "zyk_out_pdfa CMYK profile (naive CMYK on sRGB)"
COPYRIGHT = "No copyright: placed in the public domain by the zyk_out_pdfa authors"

GRID_A2B = 7
GRID_B2A = 7


def colorant_matrix():
    """Linear sRGB to XYZ (D50), as the RGB profile encodes it."""
    cols = gen_icc.adapted_colorants()  # per colorant, s15Fixed16
    return [[cols[j][i] / 65536.0 for j in range(3)] for i in range(3)]


M = colorant_matrix()
M_INV = gen_icc.mat_inv(M)
WHITE = gen_icc.D50


def f_lab(t):
    return t ** (1.0 / 3.0) if t > (6.0 / 29.0) ** 3 else t / (3 * (6.0 / 29.0) ** 2) + 4.0 / 29.0


def f_lab_inv(t):
    return t ** 3 if t > 6.0 / 29.0 else 3 * (6.0 / 29.0) ** 2 * (t - 4.0 / 29.0)


def xyz_to_lab(xyz):
    fx, fy, fz = (f_lab(xyz[i] / WHITE[i]) for i in range(3))
    return (116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz))


def lab_to_xyz(lab):
    fy = (lab[0] + 16.0) / 116.0
    fx = fy + lab[1] / 500.0
    fz = fy - lab[2] / 200.0
    return [WHITE[0] * f_lab_inv(fx), WHITE[1] * f_lab_inv(fy), WHITE[2] * f_lab_inv(fz)]


def srgb_encode(v):
    v = min(1.0, max(0.0, v))
    return 12.92 * v if v <= 0.0031308 else 1.055 * v ** (1.0 / 2.4) - 0.055


def cmyk_to_lab(c, m, y, k):
    rgb = [(1.0 - c) * (1.0 - k), (1.0 - m) * (1.0 - k), (1.0 - y) * (1.0 - k)]
    lin = [gen_icc.srgb_decode(v) for v in rgb]
    return xyz_to_lab(gen_icc.mat_vec(M, lin))


def lab_to_cmyk(lab):
    lin = gen_icc.mat_vec(M_INV, lab_to_xyz(lab))
    r, g, b = (srgb_encode(v) for v in lin)
    k = 1.0 - max(r, g, b)
    if k >= 1.0:
        return (0.0, 0.0, 0.0, 1.0)
    return ((1.0 - r - k) / (1.0 - k), (1.0 - g - k) / (1.0 - k), (1.0 - b - k) / (1.0 - k), k)


def u16(v):
    return max(0, min(65535, int(round(v))))


def encode_lab(lab):
    return (u16(lab[0] / 100.0 * 0xFF00), u16((lab[1] + 128.0) * 256.0), u16((lab[2] + 128.0) * 256.0))


def decode_lab(e):
    return (e[0] / 0xFF00 * 100.0, e[1] / 256.0 - 128.0, e[2] / 256.0 - 128.0)


def lut16(inputs, outputs, grid, node):
    """lut16Type: identity matrix and 2-entry identity tables, CLUT from node()."""
    data = b"mft2" + bytes(4) + struct.pack(">BBBB", inputs, outputs, grid, 0)
    data += struct.pack(">9i", 65536, 0, 0, 0, 65536, 0, 0, 0, 65536)
    data += struct.pack(">HH", 2, 2)
    data += struct.pack(">%dH" % (2 * inputs), *([0, 65535] * inputs))
    clut = []
    # The first input varies slowest.
    for index in range(grid ** inputs):
        coords = []
        rest = index
        for _ in range(inputs):
            coords.append(rest % grid)
            rest //= grid
        coords.reverse()
        clut.extend(node([c / (grid - 1) for c in coords]))
    data += struct.pack(">%dH" % len(clut), *clut)
    data += struct.pack(">%dH" % (2 * outputs), *([0, 65535] * outputs))
    return data


def a2b_node(v):
    return encode_lab(cmyk_to_lab(*v))


def b2a_node(v):
    lab = decode_lab([u16(v[0] * 65535), u16(v[1] * 65535), u16(v[2] * 65535)])
    return [u16(x * 65535.0) for x in lab_to_cmyk(lab)]


def build():
    a2b = lut16(4, 3, GRID_A2B, a2b_node)
    b2a = lut16(3, 4, GRID_B2A, b2a_node)
    gamt = lut16(3, 1, 2, lambda v: [0])
    blobs = [
        (b"desc", gen_icc.desc_type(DESCRIPTION)),
        (b"cprt", gen_icc.text_type(COPYRIGHT)),
        (b"wtpt", gen_icc.xyz_type(list(gen_icc.D50_FIXED))),
        (b"A2B0", a2b),
        (b"B2A0", b2a),
        (b"gamt", gamt),
    ]
    shared = {b"A2B1": b"A2B0", b"A2B2": b"A2B0", b"B2A1": b"B2A0", b"B2A2": b"B2A0"}
    count = len(blobs) + len(shared)
    header_size = 128
    offset = header_size + 4 + 12 * count
    where = {}
    body = b""
    for sig, data in blobs:
        pad = (-offset) % 4  # every tag starts on a 4-byte boundary
        body += bytes(pad)
        offset += pad
        where[sig] = (offset, len(data))
        body += data
        offset += len(data)
    body += bytes((-offset) % 4)
    order = [sig for sig, _ in blobs[:4]] + [b"A2B1", b"A2B2", b"B2A0", b"B2A1", b"B2A2", b"gamt"]
    table = struct.pack(">I", count)
    for sig in order:
        table += sig + struct.pack(">II", *where[shared.get(sig, sig)])
    size = header_size + len(table) + len(body)
    header = (
        struct.pack(">I", size)
        + bytes(4)                      # preferred CMM: none
        + struct.pack(">I", 0x02100000)  # version 2.1.0
        + b"prtr" + b"CMYK" + b"Lab "
        + struct.pack(">6H", 2026, 1, 1, 0, 0, 0)
        + b"acsp"
        + bytes(4)                      # primary platform: none
        + struct.pack(">I", 0)          # flags: not embedded-only, independent
        + bytes(4) + bytes(4)           # device manufacturer, model
        + bytes(8)                      # device attributes: reflective, glossy
        + struct.pack(">I", 0)          # rendering intent: perceptual
        + struct.pack(">3i", *gen_icc.D50_FIXED)
        + bytes(4)                      # creator: none
        + bytes(44)                     # reserved (v2: no profile ID)
    )
    assert len(header) == header_size
    return header + table + body


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "zyk-cmyk.icc")
    data = build()
    with open(out, "wb") as f:
        f.write(data)
    print("%s: %d bytes" % (out, len(data)))


if __name__ == "__main__":
    main()
