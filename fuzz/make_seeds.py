#!/usr/bin/env python3
"""Writes the hand-made seed corpora of the fuzz targets (seeds_<name>/).

Each seed is a small input that reaches one path of its target: a file
layout for the loader, a filter chain for the stream service, a CMap shape,
a content-stream feature, a document feature for the whole conversion.
Run from the repository root; the seeds are committed, so this only needs
running again when a seed is added here. Minimised crashers are committed
beside them by hand (crash-*), never written by this script.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "seeds_" + target)
    os.makedirs(d, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def b(s):
    return s.encode("latin-1") if isinstance(s, str) else s


def make_pdf(bodies, root=1, version="1.4", xref=True, trailer_extra=""):
    """Objects 1..n from bodies (str or bytes), a classic xref table."""
    out = b"%PDF-" + b(version) + b"\n%\xe2\xe3\xcf\xd3\n"
    offs = []
    for i, body in enumerate(bodies):
        offs.append(len(out))
        out += b("%d 0 obj\n" % (i + 1)) + b(body) + b"\nendobj\n"
    if not xref:
        return out + b("trailer\n<< /Root %d 0 R >>\n%%%%EOF\n" % root)
    x = len(out)
    out += b("xref\n0 %d\n0000000000 65535 f \n" % (len(bodies) + 1))
    for o in offs:
        out += b("%010d 00000 n \n" % o)
    out += b("trailer\n<< /Size %d /Root %d 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (len(bodies) + 1, root, trailer_extra, x))
    return out


def stream(dict_entries, data):
    data = b(data)
    return b("<< %s /Length %d >>\nstream\n" % (dict_entries, len(data))) + data + b"\nendstream"


def page_doc(content, resources="<< >>", extra=(), page_extra="", version="1.4"):
    bodies = [
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources %s /Contents 4 0 R%s >>"
        % (resources, page_extra),
        stream("", content),
    ]
    bodies += list(extra)
    return make_pdf(bodies, version=version)


def objstm_doc():
    """Objects 1-3 in an object stream, found through an xref stream."""
    objs = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
    ]
    head, body = b"", b""
    for i, o in enumerate(objs):
        head += b("%d %d " % (i + 1, len(body)))
        body += o + b"\n"
    osdata = zlib.compress(head + body)
    out = b"%PDF-1.5\n%\xe2\xe3\xcf\xd3\n"
    offs = {}
    offs[4] = len(out)
    out += b"4 0 obj\n" + stream("", "0 0 1 rg 10 10 50 50 re f") + b"\nendobj\n"
    offs[5] = len(out)
    out += b"5 0 obj\n" + stream("/Type /ObjStm /N 3 /First %d /Filter /FlateDecode" % len(head), osdata) + b"\nendobj\n"
    offs[6] = len(out)
    rows = b"\x00\x00\x00\x00"
    for i in range(3):
        rows += struct.pack(">BHB", 2, 5, i)
    rows += struct.pack(">BHB", 1, offs[4], 0)
    rows += struct.pack(">BHB", 1, offs[5], 0)
    rows += struct.pack(">BHB", 1, offs[6], 0)
    out += b"6 0 obj\n" + stream("/Type /XRef /Size 7 /W [1 2 1] /Root 1 0 R /Filter /FlateDecode", zlib.compress(rows)) + b"\nendobj\n"
    out += b("startxref\n%d\n%%%%EOF\n" % offs[6])
    return out


# ---- filters ----------------------------------------------------------------------

def a85(data):
    out = ""
    for i in range(0, len(data), 4):
        chunk = data[i:i + 4]
        n = len(chunk)
        v = int.from_bytes(chunk + b"\0" * (4 - n), "big")
        if v == 0 and n == 4:
            out += "z"
            continue
        g = []
        for _ in range(5):
            g.append(chr(33 + v % 85))
            v //= 85
        out += "".join(reversed(g))[: n + 1]
    return out + "~>"


def ahx(data):
    return data.hex().upper() + ">"


def rle(data):
    out = b""
    i = 0
    while i < len(data):
        j = i
        while j < len(data) and j - i < 128 and data[j] == data[i]:
            j += 1
        if j - i >= 2:
            out += bytes([257 - (j - i), data[i]])
            i = j
        else:
            k = i
            while k < len(data) and k - i < 128 and not (k + 1 < len(data) and data[k] == data[k + 1]):
                k += 1
            k = max(k, i + 1)
            out += bytes([k - i - 1]) + data[i:k]
            i = k
    return out + b"\x80"


def lzw(data, early=1):
    """LZW as the PDF filter writes it (clear code first, EOD last)."""
    table = {bytes([i]): i for i in range(256)}
    nxt, width = 258, 9
    bits, nbits, out = 0, 0, bytearray()

    def put(code):
        nonlocal bits, nbits
        bits = (bits << width) | code
        nbits += width
        while nbits >= 8:
            nbits -= 8
            out.append((bits >> nbits) & 0xFF)

    put(256)
    w = b""
    for c in data:
        wc = w + bytes([c])
        if wc in table:
            w = wc
            continue
        put(table[w])
        table[wc] = nxt
        nxt += 1
        if nxt + early > (1 << width) and width < 12:
            width += 1
        if nxt >= 4094:
            put(256)
            table = {bytes([i]): i for i in range(256)}
            nxt, width = 258, 9
        w = bytes([c])
    if w:
        put(table[w])
    put(257)
    if nbits:
        out.append((bits << (8 - nbits)) & 0xFF)
    return bytes(out)


def png_predict(data, columns, colors=1, bpc=8, kind=None):
    bpp = max(1, colors * bpc // 8)
    row = (columns * colors * bpc + 7) // 8
    out = b""
    prev = bytes(row)
    for r in range(0, len(data), row):
        line = data[r:r + row].ljust(row, b"\0")
        t = kind if kind is not None else (r // row) % 5
        enc = bytearray()
        for i in range(row):
            a = line[i - bpp] if i >= bpp else 0
            up = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if t == 0:
                p = 0
            elif t == 1:
                p = a
            elif t == 2:
                p = up
            elif t == 3:
                p = (a + up) // 2
            else:
                pa, pb, pc = abs(up - c), abs(a - c), abs(a + up - 2 * c)
                p = a if pa <= pb and pa <= pc else (up if pb <= pc else c)
            enc.append((line[i] - p) & 0xFF)
        out += bytes([t]) + bytes(enc)
        prev = line
    return out


def tiff_predict(data, columns, colors=1):
    row = columns * colors
    out = bytearray()
    for r in range(0, len(data), row):
        line = data[r:r + row]
        for i, v in enumerate(line):
            out.append((v - (line[i - colors] if i >= colors else 0)) & 0xFF)
    return bytes(out)


def filter_seeds():
    text = b"BT /F1 12 Tf 72 712 Td (Hello, filters) Tj ET\n" * 3
    grey = bytes((x * 7 + y * 3) & 0xFF for y in range(8) for x in range(12))
    seeds = {
        "none": ("", text),
        "flate": ("/Filter /FlateDecode", zlib.compress(text)),
        "flate_abbrev": ("/Filter /Fl", zlib.compress(text, 1)),
        "flate_truncated": ("/Filter /FlateDecode", zlib.compress(text)[:-7]),
        "lzw": ("/Filter /LZWDecode", lzw(text)),
        "lzw_early0": ("/Filter /LZW /DecodeParms << /EarlyChange 0 >>", lzw(text * 8, early=0)),
        "a85": ("/Filter /ASCII85Decode", a85(text + b"\0\0\0\0")),
        "ahx": ("/Filter /AHx", ahx(text)),
        "rl": ("/Filter /RunLengthDecode", rle(b"aaaaaaaabcdefgggggggggggg" + text)),
        "chain": ("/Filter [/ASCII85Decode /FlateDecode] /DecodeParms [null null]", a85(zlib.compress(text))),
        "chain3": ("/Filter [/AHx /A85 /RL]", ahx(a85(rle(text)).encode())),
        "png_up": ("/Filter /FlateDecode /DecodeParms << /Predictor 12 /Columns 12 >>",
                   zlib.compress(png_predict(grey, 12, kind=2))),
        "png_all": ("/Filter /FlateDecode /DecodeParms << /Predictor 15 /Columns 4 /Colors 3 /BitsPerComponent 8 >>",
                    zlib.compress(png_predict(grey, 4, colors=3))),
        "png_16bit": ("/Filter /FlateDecode /DecodeParms << /Predictor 11 /Columns 3 /Colors 2 /BitsPerComponent 16 >>",
                      zlib.compress(png_predict(grey, 3, colors=2, bpc=16, kind=1))),
        "png_4bit": ("/Filter /FlateDecode /DecodeParms << /Predictor 14 /Columns 7 /Colors 1 /BitsPerComponent 4 >>",
                     zlib.compress(png_predict(grey, 7, colors=1, bpc=4, kind=4))),
        "tiff": ("/Filter /LZWDecode /DecodeParms << /Predictor 2 /Columns 4 /Colors 3 >>",
                 lzw(tiff_predict(grey, 4, colors=3))),
        "dct": ("/Filter /DCTDecode", b"\xff\xd8\xff\xe0\x00\x10JFIF\x00"),
        "jpx_ccitt": ("/Filter [/JPXDecode /CCITTFaxDecode /JBIG2Decode /Crypt]", b"\0\0\0\0"),
        "unknown": ("/Filter /NoSuchDecode", b"x"),
        "indirect_parms": ("/Filter 2 0 R /DecodeParms 3 0 R", zlib.compress(png_predict(grey, 12, kind=3))),
    }
    return seeds


# ---- CMaps ------------------------------------------------------------------------

def cmap_seeds():
    head = ("/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
            "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
            "/CMapName /Adobe-Identity-UCS def /CMapType 2 def\n")
    tail = "endcmap CMapName currentdict /CMap defineresource pop end end\n"
    return {
        "simple": head + "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n"
                  "2 beginbfchar\n<41> <0041>\n<42> <00420043>\nendbfchar\n"
                  "1 beginbfrange\n<61> <7A> <0061>\nendbfrange\n" + tail,
        "two_byte": head + "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
                    "1 beginbfrange\n<0001> <00FF> [<0041> <0042> <D835DC00>]\n<0100> <01FF> <00FF>\nendbfrange\n"
                    "1 beginbfchar\n<0003> /fi\n<0004> /uni20AC\nendbfchar\n" + tail,
        "mixed_space": head + "2 begincodespacerange\n<00> <80>\n<8140> <9FFC>\nendcodespacerange\n"
                       "1 beginbfrange\n<8140> <817E> <3000>\n<00> <80> <0020>\nendbfrange\n" + tail,
        "overlap": head + "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
                   "3 beginbfrange\n<0010> <0100> <0061>\n<0000> <FFFF> <4E00>\n<0050> <0060> [<0031> <0032>]\nendbfrange\n" + tail,
        "bad_counts": "5 beginbfchar <01> <0041> <02> <0042> endbfchar 0 beginbfrange <05> <03> <0041> "
                      "<0A> <0B> <D800> <10> <1000> <0041> endbfrange % comment <99> <0041>\n"
                      "(string with <41> <0041>) 1 beginbfchar <7F> <> endbfchar",
        "four_byte": "1 begincodespacerange <00000000> <FFFFFFFF> endcodespacerange "
                     "1 beginbfrange <00000000> <FFFFFFFF> <DBFFDFFF> endbfrange "
                     "1 beginbfchar <0102030405> <0041> <01020304> <0042> endbfchar",
        "unclosed": "1 beginbfrange <00> <10> [<0041> <0042",
    }


# ---- content ----------------------------------------------------------------------

def content_seeds():
    return {
        "text_simple": "BT /F1 12 Tf 72 700 Td (Hello \\(world\\) \\101) Tj 0 -14 TD [(A) -120 (B)] TJ "
                       "(next) ' 1 2 (quote) \" ET\n",
        "text_type0": "BT /F2 10 Tf 1 0 0 1 50 50 Tm <00410042> Tj [<0043> 250 <0044>] TJ 2 Tr 3 Ts 90 Tz ET",
        "text_type3": "BT /F3 1 Tf 10 10 Td (abc) Tj ET",
        "colour": "0.1 0.2 0.3 0.4 k 1 0 0 1 K 0.5 g 0.2 G 1 0 0 rg 0 0 1 RG /DeviceCMYK cs 0 0 0 1 sc "
                  "/DeviceCMYK CS 1 1 0 0 SCN /CS0 cs 0.5 scn 10 10 100 100 re B",
        "gstate": "q q /GS0 gs 1 0 0 1 10 10 cm q Q Q 2 w 1 J 1 j [3 2] 0 d 10 M 0 i /Perceptual ri Q Q Q",
        "xobject": "q 100 0 0 100 0 0 cm /Im0 Do Q /Fm0 Do /P0 sh",
        "inline_image": "q 10 0 0 10 0 0 cm BI /W 2 /H 2 /CS /G /BPC 8 ID \x00\xff\xffEI\x00 EI Q\n"
                        "BI /W 1 /H 1 /CS /RGB /BPC 8 /F /AHx ID 00FF00> EI",
        "inline_cmyk": "BI /W 1 /H 1 /CS /DeviceCMYK /BPC 8 ID \x10\x20\x30\x40 EI",
        "marked": "/OC /MC0 BDC 0 0 10 10 re f EMC /Span << /ActualText (x) >> BDC EMC /Artifact BMC EMC "
                  "/P /MC1 BDC EMC MP /Tag DP",
        "compat": "BX /Foo 1 2 weird_op EX % comment >> here\n d0 1 0 0 0 1 1 d1 ",
        "numbers": "1e5 -.5 +3 4. 99999999999999999999 0.0000001 -2147483649 re 1 2 3 4 5 6 cm 40000 0 m 1 1 l S",
        "shapes": "10 10 m 20 20 30 30 40 40 c 1 1 2 2 v 3 3 4 4 y h W n 0 0 1 1 re W* f* s b b* S F n",
        "unclosed_string": "BT /F1 12 Tf (never closed Tj ET",
        "unclosed_dict": "/P << /MCID 0 BDC EMC",
        "deep_q": "q " * 40 + "0 g " + "Q " * 40,
        "arrays_dicts": "[1 [2 [3]] << /A [4] /B << /C (d) >> >>] 0 d /X << /Y <41> >> BDC EMC ] } {",
    }


RES_FONTS = ("<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> "
             "/ExtGState << /GS0 << /Type /ExtGState /CA 1 /ca 1 >> >> >>")


def convert_seeds():
    tu = b("1 begincodespacerange <0000> <FFFF> endcodespacerange 2 beginbfchar <0041> <0041> <0042> <0042> endbfchar "
           "1 beginbfrange <0043> <0050> <0043> endbfrange")
    type0_extra = [
        "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts [6 0 R] /ToUnicode 8 0 R >>",
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) "
        "/Supplement 0 >> /FontDescriptor 7 0 R /W [65 [500 600] 67 80 550] /DW 1000 >>",
        "<< /Type /FontDescriptor /FontName /Foo /Flags 4 /FontBBox [0 0 1000 1000] /ItalicAngle 0 /Ascent 800 "
        "/Descent -200 /CapHeight 700 /StemV 80 >>",
        stream("/Filter /FlateDecode", zlib.compress(tu)),
    ]
    grey_img = stream("/Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 "
                      "/Filter /FlateDecode", zlib.compress(bytes(range(0, 256, 16))))
    cmyk_img = stream("/Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8",
                      b"\x10\x20\x30\x40\x50\x60\x70\x80")
    form = stream("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << /Font << /F1 6 0 R >> >>",
                  "BT /F1 5 Tf (in a form) Tj ET 0 0 0 1 k 0 0 5 5 re f")
    seeds = {
        "hello": page_doc("BT /F1 24 Tf 40 100 Td (Hello, world) Tj ET", RES_FONTS),
        "type0": page_doc("BT /F2 12 Tf 10 50 Td <004100420043> Tj [<0044> -200 <0045>] TJ ET",
                          "<< /Font << /F2 5 0 R >> >>", type0_extra),
        "images": page_doc("q 50 0 0 50 10 10 cm /Im0 Do Q q 20 0 0 10 100 100 cm /Im1 Do Q "
                           "BI /W 1 /H 1 /CS /G /BPC 8 ID \x80 EI",
                           "<< /XObject << /Im0 5 0 R /Im1 6 0 R >> >>", [grey_img, cmyk_img]),
        "form_cmyk": page_doc("0.2 0.3 0.4 0.1 k 0 0 100 100 re f /Fm0 Do",
                              "<< /XObject << /Fm0 5 0 R >> >>",
                              [form, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>"]),
        "annots_info": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R /Outlines 6 0 R /PageMode /UseOutlines >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 /MediaBox [0 0 300 300] /Resources << /Font << /F1 << /Type /Font "
            "/Subtype /Type1 /BaseFont /Courier >> >> >> >>",
            "<< /Type /Page /Parent 2 0 R /Contents 4 0 R /Rotate 90 /Annots [5 0 R] >>",
            stream("", "BT /F1 10 Tf 10 10 Td (rotated, inherited) Tj ET"),
            "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Border [0 0 0] /A << /S /URI /URI (http://example.com/) >> >>",
            "<< /Type /Outlines /First 7 0 R /Last 7 0 R /Count 1 >>",
            "<< /Title (Chapter \\351) /Parent 6 0 R /Dest [3 0 R /XYZ 0 300 0] >>",
            "<< /Title (T\\351st) /Author <FEFF00410042> /Producer (seed) /CreationDate (D:20200101000000Z) >>",
        ], trailer_extra=" /Info 8 0 R"),
        "objstm": objstm_doc(),
        "no_xref": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents [4 0 R 5 0 R] >>",
            stream("/Filter /AHx", ahx(b"0 0 1 rg")),
            stream("/Filter /LZWDecode", lzw(b" 10 10 50 50 re f")),
        ], xref=False),
        "pdfa_declared": page_doc("0 g 0 0 10 10 re f", "<< >>", [
            stream("/Type /Metadata /Subtype /XML",
                   '<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?><x:xmpmeta xmlns:x="adobe:ns:meta/">'
                   '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
                   'xmlns:pdfaid="http://www.aiim.org/pdfa/ns/id/" pdfaid:part="1" pdfaid:conformance="B"/>'
                   '</rdf:RDF></x:xmpmeta><?xpacket end="w"?>')]),
        "type3": page_doc("BT /T3 12 Tf 10 10 Td (ab) Tj ET", "<< /Font << /T3 5 0 R >> >>", [
            "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 10 10] /FontMatrix [0.1 0 0 0.1 0 0] /CharProcs << /a 6 0 R "
            "/b 6 0 R >> /Encoding << /Type /Encoding /Differences [97 /a /b] >> /FirstChar 97 /LastChar 98 "
            "/Widths [10 10] /Resources << >> >>",
            stream("", "10 0 0 0 10 10 d1 0 0 10 10 re f")]),
        "optional_content": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R /OCProperties << /OCGs [5 0 R] /D << /OFF [5 0 R] >> >> >>",
            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R "
            "/Resources << /Properties << /MC0 5 0 R >> >> >>",
            stream("", "/OC /MC0 BDC 0 0 1 rg 0 0 50 50 re f EMC 1 0 0 rg 50 50 50 50 re f"),
            "<< /Type /OCG /Name (hidden) >>",
        ]),
        "resources_comment": page_doc("q 10 0 0 10 0 0 cm /Im0 Do Q",
                                      "<< % a comment with >> in it\n /XObject << /Im0 5 0 R >> >>", [grey_img]),
    }
    return seeds


def main():
    loads = {
        "minimal": page_doc("0 0 1 rg 10 10 50 50 re f"),
        "objstm": objstm_doc(),
        "no_xref": make_pdf(["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"], xref=False),
        "tree": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R >>",
            "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 3 /Rotate 90 /Resources << /Font << /F1 7 0 R >> >> "
            "/MediaBox [0 0 612 792] >>",
            "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 /Rotate 180 >>",
            "<< /Type /Page /Parent 2 0 R /CropBox [10 10 100 100] >>",
            "<< /Type /Page /Parent 3 0 R /Resources << /XObject << >> >> >>",
            "<< /Type /Page /Parent 3 0 R /Rotate -90 >>",
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        ]),
        "inline_kids": make_pdf(["<< /Type /Catalog /Pages 2 0 R >>",
                                 "<< /Type /Pages /Kids [<< /Type /Page >>] /Count 1 >>"]),
        "strings_comments": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R /Names (a string with 9 0 R and >> inside) >>",
            "<< /Type /Pages /Kids [3 0 R] % 5 0 R >> endobj\n /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Resources << /X#2fY 4 0 R /Z <414243> "
            "/N (\\(\\)) % >>\n >> >>",
            "<< /Nested [[[<< /A [1 2 R 3 4 R] >>]]] /Neg -1 0 R >>",
        ]),
        "incremental": page_doc("0 g") + b"4 0 obj\n" + stream("", "1 g") + b"\nendobj\n"
                       b"xref\n4 1\n0000000000 00000 n \ntrailer\n<< /Size 5 /Root 1 0 R /Prev 9 >>\nstartxref\n0\n%%EOF\n",
        "stream_length_ref": make_pdf([
            "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Contents 4 0 R >>",
            b"<< /Length 5 0 R >>\nstream\n0 0 1 rg endstream inside\nendstream", "25"]),
        "bad_header": b"%PDF-9.9\n1 0 obj << /Type /Catalog /Pages 1 0 R >> endobj trailer << /Root 1 0 R >>",
        "encrypted_marker": make_pdf(["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>",
                                      "<< /Filter /Standard /V 1 /R 2 /O <00> /U <00> /P -4 >>"],
                                     trailer_extra=" /Encrypt 3 0 R /ID [<00112233445566778899aabbccddeeff> <00>]"),
    }
    for name, data in loads.items():
        write("load", name, data)
    for name, (entries, data) in filter_seeds().items():
        write("filters", name, b(entries) + b"\n" + b(data))
    for name, data in cmap_seeds().items():
        write("cmap", name, data)
    # Byte 0 picks the part: "1" (odd) or "2" (even).
    for name, data in content_seeds().items():
        write("content", name, ("1" if name in ("numbers", "colour") else "2") + data)
    for name, data in convert_seeds().items():
        write("convert", name, data)


if __name__ == "__main__":
    main()
