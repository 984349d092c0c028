#!/usr/bin/env python3
"""Hostile inputs: time and peak memory of conversions that must end soon,
in bounded memory, converted or refused.

Generates small files that decode to very much (decompression bombs in
content, fonts and masks, streams shared by many pages, one huge string),
converts each in both parts with `zyk-pdfa convert` under GNU time, and
prints one Markdown row per file and part: exit status, wall and CPU
seconds, peak RSS, input and output size, and the first line of the error.

Usage:
  bench/hostile_bench.py --zyk build/zyk-pdfa --workdir /tmp/hostile
"""
import argparse
import os
import subprocess
import sys
import zlib

GIB = 1 << 30
MIB = 1 << 20


def deflate_zeros(n, chunk=MIB):
    """zlib data of n zero bytes, made without holding them."""
    co = zlib.compressobj(9)
    parts = []
    block = b"\0" * chunk
    left = n
    while left:
        k = min(left, chunk)
        parts.append(co.compress(block[:k]))
        left -= k
    parts.append(co.flush())
    return b"".join(parts)


def write_pdf(path, objs):
    out = bytearray(b"%PDF-1.4\n")
    offs = []
    for i, body in enumerate(objs):
        offs.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    x = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offs)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, x)
    with open(path, "wb") as f:
        f.write(out)


def stream(entries, data):
    return b"<< /Length %d %s >>\nstream\n" % (len(data), entries) + data + b"\nendstream"


FONT = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"


def pages_doc(page_bodies, extra):
    """Catalog, page tree, the pages, then the extra objects (numbered from
    3 + len(pages))."""
    n = len(page_bodies)
    kids = b" ".join(b"%d 0 R" % (3 + i) for i in range(n))
    return [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, n)] + \
        page_bodies + extra


def page(contents, res=b"<< /Font << /F1 " + FONT + b" >> >>"):
    return b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources " + res + b" /Contents " + contents + \
        b" >>"


def make_all(workdir):
    made = []

    def add(name, objs):
        path = os.path.join(workdir, name + ".pdf")
        if not os.path.exists(path):
            write_pdf(path, objs)
        made.append(path)

    # A content stream Flate-encoded twice that decodes to 1 GiB.
    twice = zlib.compress(deflate_zeros(GIB), 9)
    add("double-flate-1GiB", pages_doc([page(b"4 0 R")], [stream(b"/Filter [/FlateDecode /FlateDecode]", twice)]))
    once = deflate_zeros(GIB)
    # /Contents naming one 1 GiB stream four times.
    add("contents-4x1GiB", pages_doc([page(b"[4 0 R 4 0 R 4 0 R 4 0 R]")], [stream(b"/Filter /FlateDecode", once)]))
    # Twenty pages sharing one 1 GiB stream.
    add("20-pages-share-1GiB", pages_doc([page(b"23 0 R")] * 20, [stream(b"/Filter /FlateDecode", once)]))
    # 400 pages sharing a stream of 10 MiB of text.
    text = (b"BT /F1 12 Tf 72 720 Td (Hello world) Tj ET\n" * 250000)[:10 * MIB]
    add("400-pages-share-10MiB", pages_doc([page(b"403 0 R")] * 400,
                                           [stream(b"/Filter /FlateDecode", zlib.compress(text, 9))]))
    # One string of 50 MB shown with Tj.
    big = b"BT /F1 12 Tf 72 720 Td (" + b"A" * (50 * 1000 * 1000) + b") Tj ET"
    add("50MB-string", pages_doc([page(b"4 0 R")], [stream(b"/Filter /FlateDecode", zlib.compress(big, 9))]))
    # An embedded TrueType program that decodes to 1 GiB.
    widths = b"[" + b"500 " * 95 + b"]"
    add("font-program-1GiB", pages_doc(
        [page(b"4 0 R", b"<< /Font << /F1 5 0 R >> >>")],
        [stream(b"", b"BT /F1 12 Tf 72 720 Td (Hello) Tj ET"),
         b"<< /Type /Font /Subtype /TrueType /BaseFont /Bomb /FirstChar 32 /LastChar 126 /Widths " + widths +
         b" /FontDescriptor 6 0 R >>",
         b"<< /Type /FontDescriptor /FontName /Bomb /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 /Ascent 800 "
         b"/Descent -200 /CapHeight 700 /StemV 80 /FontFile2 7 0 R >>",
         stream(b"/Filter /FlateDecode", once)]))
    # A ToUnicode CMap that decodes to 1 GiB.
    add("tounicode-1GiB", pages_doc(
        [page(b"4 0 R", b"<< /Font << /F1 5 0 R >> >>")],
        [stream(b"", b"BT /F1 12 Tf 72 720 Td (Hello) Tj ET"),
         b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>",
         stream(b"/Filter /FlateDecode", once)]))
    # An image whose soft mask decodes to 1 GiB (32768 x 32768 grey).
    add("soft-mask-1GiB", pages_doc(
        [page(b"4 0 R", b"<< /XObject << /Im 5 0 R >> >>")],
        [stream(b"", b"q 100 0 0 100 0 0 cm /Im Do Q"),
         stream(b"/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                b"/SMask 6 0 R", b"\x80"),
         stream(b"/Type /XObject /Subtype /Image /Width 32768 /Height 32768 /ColorSpace /DeviceGray "
                b"/BitsPerComponent 8 /Filter /FlateDecode", once)]))
    return made


def run(zyk, path, part, out, timeout):
    cmd = ["/usr/bin/time", "-f", "%e %U %S %M", zyk, "convert", "--part", str(part), path, out]
    env = dict(os.environ)
    env.setdefault("LD_LIBRARY_PATH", os.path.dirname(os.path.abspath(zyk)))
    try:
        p = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return None
    lines = p.stderr.strip().splitlines()
    wall, user, sys_, rss = lines[-1].split()
    err = next((l for l in lines[:-1] if l.strip()), "")
    return p.returncode, float(wall), float(user) + float(sys_), int(rss) * 1024, err


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--zyk", required=True)
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--timeout", type=float, default=120)
    a = ap.parse_args()
    os.makedirs(a.workdir, exist_ok=True)
    print("| file | part | exit | wall s | CPU s | peak RSS MiB | input KB | output KB | error |")
    print("|---|---|---|---|---|---|---|---|---|")
    worst = 0
    for path in make_all(a.workdir):
        for part in (1, 2):
            out = os.path.join(a.workdir, "out-%d.pdf" % part)
            if os.path.exists(out):
                os.remove(out)
            r = run(a.zyk, path, part, out, a.timeout)
            name = os.path.basename(path)
            if r is None:
                print("| %s | %d | timeout | > %g | | | | | |" % (name, part, a.timeout))
                continue
            rc, wall, cpu, rss, err = r
            worst = max(worst, rss)
            size = os.path.getsize(out) // 1000 if os.path.exists(out) else 0
            print("| %s | %d | %d | %.2f | %.2f | %.0f | %d | %d | %s |" %
                  (name, part, rc, wall, cpu, rss / MIB, os.path.getsize(path) // 1000, size, err[:90]))
    print("\nlargest peak RSS: %.0f MiB" % (worst / MIB))


if __name__ == "__main__":
    sys.exit(main())
