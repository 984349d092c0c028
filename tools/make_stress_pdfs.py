#!/usr/bin/env python3
"""Writes large synthetic PDFs that measure the reader's scaling.

  many-pages.pdf    100,000 pages and 500,000 objects in a balanced tree
  no-endobj.pdf     a million object headers and no "endobj" (about 50 MB)
  open-dicts.pdf    object headers whose dictionaries never close

Usage: make_stress_pdfs.py OUTDIR, then time `pdf-dump OUTDIR/*.pdf`.
"""
import os
import sys


def many_pages(path, npages=100_000, fanout=100):
    out = bytearray(b"%PDF-1.4\n")
    offs = {}

    def obj(num, body):
        offs[num] = len(out)
        out.extend(b"%d 0 obj\n%s\nendobj\n" % (num, body))

    # Numbering: 1 catalog, 2 root node, then leaf nodes, then pages, then
    # four filler objects per page (content, font, and so on).
    nleaves = (npages + fanout - 1) // fanout
    leaf0 = 3
    page0 = leaf0 + nleaves
    filler0 = page0 + npages
    obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
    kids = b" ".join(b"%d 0 R" % (leaf0 + i) for i in range(nleaves))
    obj(2, b"<< /Type /Pages /Kids [%s] /Count %d >>" % (kids, npages))
    for i in range(nleaves):
        first = page0 + i * fanout
        last = min(page0 + npages, first + fanout)
        k = b" ".join(b"%d 0 R" % p for p in range(first, last))
        obj(leaf0 + i, b"<< /Type /Pages /Parent 2 0 R /Kids [%s] /Count %d >>" % (k, last - first))
    for p in range(npages):
        parent = leaf0 + p // fanout
        f = filler0 + 4 * p
        obj(page0 + p, b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Contents %d 0 R "
                       b"/Resources << /Font << /F1 %d 0 R >> >> >>" % (parent, f, f + 1))
        obj(f, b"<< /Length 0 >>\nstream\n\nendstream")
        obj(f + 1, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        obj(f + 2, b"[1 2 3]")
        obj(f + 3, b"(filler)")
    xref = len(out)
    out.extend(b"xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % xref)
    with open(path, "wb") as f:
        f.write(out)


def no_endobj(path, n=1_000_000):
    with open(path, "wb") as f:
        f.write(b"%PDF-1.4\n")
        line = b"%d 0 obj << /Type /Page /Kids [1 0 R] /Pad (........) >>\n"
        for i in range(1, n + 1):
            f.write(line % i)


def open_dicts(path, n=200_000):
    with open(path, "wb") as f:
        f.write(b"%PDF-1.4\n")
        for i in range(1, n + 1):
            f.write(b"%d 0 obj\n<< /A << /B 1\n" % i)


if __name__ == "__main__":
    d = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(d, exist_ok=True)
    many_pages(os.path.join(d, "many-pages.pdf"))
    no_endobj(os.path.join(d, "no-endobj.pdf"))
    open_dicts(os.path.join(d, "open-dicts.pdf"))
