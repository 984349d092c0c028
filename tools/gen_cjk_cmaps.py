#!/usr/bin/env python3
"""Generates data/cjk-cmaps.bin: the predefined CJK CMaps (code -> CID) and
the CID -> Unicode tables of the Adobe-Japan1, -GB1, -CNS1 and -Korea1
orderings, compact and compressed, for fonts that carry no ToUnicode CMap.

Read at development time from Debian's poppler-data, never fetched:
Adobe's CMap resources under /usr/share/poppler/cMap (BSD-3-Clause; the
licence is carried in data/cjk-cmaps.LICENSE). The CID -> Unicode tables
come from the orderings' own Adobe-<ordering>-UCS2 CMaps in that same
directory.

usage: gen_cjk_cmaps.py [/usr/share/poppler/cMap] > data/cjk-cmaps.bin

Layout (all integers big-endian):
  "ZCJK" u16 count, then per entry: u8 name length, name, u8 kind (0: CMap,
  1: ordering), u32 offset from the start of the file, u32 compressed size,
  u32 decoded size; then the zlib streams.
  A CMap decodes to: u8 writing mode, u8 ordering index (0 Japan1, 1 GB1,
  2 CNS1, 3 Korea1), u8 number of code-space ranges, per range u8 bytes,
  u32 low, u32 high; u32 number of CID ranges, per range u32 low code
  (delta from the previous range's high code), u16 length - 1, u16 CID.
  An ordering decodes to: u32 count, then u32 code points by CID (0: none).
Which CMaps are kept: see keep(); usecmap is resolved.
"""
import os
import re
import struct
import sys
import zlib

ORDERINGS = ["Japan1", "GB1", "CNS1", "Korea1"]
TOKEN = re.compile(rb"<[0-9A-Fa-f\s]*>|/[^\s/<>\[\]()]+|\[|\]|[^\s<>\[\]/()]+")


def tokens(path):
    text = open(path, "rb").read()
    text = re.sub(rb"%[^\r\n]*", b"", text)
    return TOKEN.findall(text)


def hexval(tok):
    h = re.sub(rb"\s", b"", tok[1:-1])
    return int(h, 16), len(h) // 2


def read_cmap(dirs, name, cache):
    if name in cache:
        return cache[name]
    path = None
    for d in dirs:
        if os.path.exists(os.path.join(d, name)):
            path = os.path.join(d, name)
    if path is None:
        return None
    toks = tokens(path)
    spaces, ranges, wmode = [], [], 0
    mode = None
    i = 0
    while i < len(toks):
        t = toks[i]
        if t == b"usecmap" and i > 0 and toks[i - 1].startswith(b"/"):
            base = read_cmap(dirs, toks[i - 1][1:].decode(), cache)
            if base:
                spaces += base[0]
                ranges += base[1]
                wmode = base[2]
        elif t == b"/WMode" and i + 1 < len(toks):
            wmode = int(toks[i + 1])
        elif t in (b"begincodespacerange", b"begincidrange", b"begincidchar"):
            mode = t
        elif t.startswith(b"end"):
            mode = None
        elif mode == b"begincodespacerange" and t.startswith(b"<"):
            lo, n = hexval(t)
            hi, _ = hexval(toks[i + 1])
            spaces.append((n, lo, hi))
            i += 1
        elif mode == b"begincidrange" and t.startswith(b"<"):
            lo, n = hexval(t)
            hi, _ = hexval(toks[i + 1])
            cid = int(toks[i + 2])
            ranges.append((lo, hi, cid, n))
            i += 2
        elif mode == b"begincidchar" and t.startswith(b"<"):
            lo, n = hexval(t)
            ranges.append((lo, lo, int(toks[i + 1]), n))
            i += 1
        i += 1
    cache[name] = (spaces, ranges, wmode)
    return cache[name]


def ordering_table(path):
    toks = tokens(path)
    table = {}
    mode = None
    i = 0

    def uni(tok):
        v, n = hexval(tok)
        b = v.to_bytes(n, "big")
        s = b.decode("utf-16-be", errors="ignore")
        return ord(s[0]) if len(s) == 1 else 0

    while i < len(toks):
        t = toks[i]
        if t in (b"beginbfchar", b"beginbfrange"):
            mode = t
        elif t.startswith(b"end"):
            mode = None
        elif mode == b"beginbfchar" and t.startswith(b"<"):
            cid, _ = hexval(t)
            table.setdefault(cid, uni(toks[i + 1]))
            i += 1
        elif mode == b"beginbfrange" and t.startswith(b"<"):
            lo, _ = hexval(t)
            hi, _ = hexval(toks[i + 1])
            if toks[i + 2] == b"[":
                k = i + 3
                c = lo
                while toks[k] != b"]":
                    table.setdefault(c, uni(toks[k]))
                    c += 1
                    k += 1
                i = k
            else:
                u = uni(toks[i + 2])
                for c in range(lo, hi + 1):
                    table.setdefault(c, u + (c - lo) if u else 0)
                i += 2
        i += 1
    n = max(table) + 1 if table else 0
    out, prev = [struct.pack(">I", n)], 0
    for c in range(n):
        u = table.get(c, 0)
        out.append(struct.pack(">i", u - prev))
        prev = u
    return b"".join(out)


def cmap_blob(cm, oi):
    spaces, ranges, wmode = cm
    # Later definitions override earlier ones (a CMap over its usecmap base):
    # expand to codes, then rebuild maximal runs of consecutive CIDs.
    codes = {}
    for lo, hi, cid, n in ranges:
        for c in range(lo, hi + 1):
            codes[c] = cid + (c - lo)
    rs = []
    for c in sorted(codes):
        cid = codes[c]
        if rs and rs[-1][1] == c - 1 and rs[-1][2] + (c - rs[-1][0]) == cid and c - rs[-1][0] < 65536 and cid < 65536:
            rs[-1][1] = c
        elif cid < 65536:
            rs.append([c, c, cid])
    out = [struct.pack(">BBB", wmode, oi, len(spaces))]
    for n, lo, hi in spaces:
        out.append(struct.pack(">BII", n, lo, hi))
    out.append(struct.pack(">I", len(rs)))
    prev = prev_cid = 0
    for lo, hi, cid in rs:
        out.append(struct.pack(">IHH", lo - prev, hi - lo, (cid - prev_cid) & 0xFFFF))
        prev, prev_cid = hi, cid
    return b"".join(out)


def keep(name):
    """The CMaps carried: every legacy (non-Unicode) -H and -V CMap (and
    Japan1's bare H and V), and of
    the Unicode ones only Uni<ordering>-UTF16-H. Codes of the Unicode CMaps
    are the characters already; their CIDs matter for the widths only, and
    UTF-16 -H serves the UCS-2 and -V names too (vertical forms are chosen
    by a few codes whose horizontal CIDs have the same vertical advance in
    practice). UTF-8 and UTF-32 CMaps are not used by PDF producers."""
    if name in ("H", "V"):  # Japan1's JIS X 0208 CMaps, named bare
        return True
    if not (name.endswith("-H") or name.endswith("-V")):
        return False
    if name.startswith("Uni"):
        return name in ("UniJIS-UTF16-H", "UniGB-UTF16-H", "UniCNS-UTF16-H", "UniKS-UTF16-H")
    return True


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/poppler/cMap"
    entries = []
    for oi, o in enumerate(ORDERINGS):
        d = os.path.join(root, "Adobe-" + o)
        cache = {}
        for name in sorted(os.listdir(d)):
            if not keep(name):
                continue
            cm = read_cmap([d], name, cache)
            if cm and cm[1]:
                entries.append((name, 0, cmap_blob(cm, oi)))
        entries.append((o, 1, ordering_table(os.path.join(d, "Adobe-%s-UCS2" % o))))
    head = b"ZCJK" + struct.pack(">H", len(entries))
    dir_size = sum(1 + len(n) + 1 + 12 for n, _, _ in entries)
    offset = len(head) + dir_size
    directory, blobs = [], []
    for name, kind, raw in entries:
        z = zlib.compress(raw, 9)
        directory.append(struct.pack(">B", len(name)) + name.encode() + struct.pack(">BIII", kind, offset, len(z), len(raw)))
        blobs.append(z)
        offset += len(z)
    sys.stdout.buffer.write(head + b"".join(directory) + b"".join(blobs))


main()
