#!/usr/bin/env python3
"""Independent reading of the PDF/A part that PDF files declare.

For every file named on the command line prints one line:
    <part> <intent>
where <part> is the pdfaid:part that the XMP packet of the catalog's
/Metadata stream declares (1 to 3; 0 for any other value; -1 when there is
no such property or no packet; x when the packet is not well-formed XML),
read with qpdf (which
resolves the object structure, object streams included, and decodes the
stream) and Python's XML parser (which resolves namespaces, so the property
is found by its namespace, not by a prefix); <intent> is 1 when the
catalog's /OutputIntents array holds an output intent with /S /GTS_PDFA1,
else 0. A file qpdf cannot read gives "? <reason>".
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

PART = '{http://www.aiim.org/pdfa/ns/id/}part'
REF = re.compile(r'^(\d+) (\d+) R$')


def qpdf(args):
    r = subprocess.run(['qpdf'] + args, capture_output=True)
    if r.returncode not in (0, 3):  # 3: read with warnings
        raise RuntimeError(r.stderr.decode('utf-8', 'replace').strip().splitlines()[-1:] or 'qpdf failed')
    return r.stdout


def xmp_part(packet):
    try:
        root = ET.fromstring(packet)
    except ET.ParseError:
        return 'x'
    for el in root.iter():
        if PART in el.attrib:
            value = el.attrib[PART]
        elif el.tag == PART:
            value = (el.text or '').strip()
        else:
            continue
        return int(value) if value in ('1', '2', '3') else 0
    return -1


class Ref:
    def __init__(self, num, gen):
        self.spec = '%d,%d' % (num, gen)


TOKEN = re.compile(rb'\s*(<<|>>|\[|\]|/[^\s/\[\]<>()]*|\(|<[0-9A-Fa-f\s]*>|[^\s/\[\]<>()]+)')


def parse_object(text):
    """Parses the normalised object text that qpdf --show-object prints
    into dicts, lists, names ('/X'), Ref and plain tokens."""
    pos = 0

    def token():
        nonlocal pos
        m = TOKEN.match(text, pos)
        if not m:
            return None
        pos = m.end()
        tok = m.group(1)
        if tok == b'(':  # literal string: skip it, escapes and nesting
            depth, i = 1, pos
            while i < len(text) and depth:
                c = text[i:i + 1]
                i += 2 if c == b'\\' else 1
                depth += {b'(': 1, b')': -1}.get(c, 0)
            pos = i
            return b'(string)'
        return tok

    def value(tok):
        if tok == b'<<':
            d = {}
            while True:
                k = token()
                if k in (None, b'>>'):
                    return d
                d[k.decode('latin-1')] = value(token())
        if tok == b'[':
            items = []
            while True:
                t = token()
                if t in (None, b']'):
                    return items
                items.append(value(t))
        if tok is not None and tok.isdigit():
            save = pos
            gen, r = token(), token()
            if gen is not None and gen.isdigit() and r == b'R':
                return Ref(int(tok), int(gen))
            restore(save)
        return tok.decode('latin-1') if tok is not None else None

    def restore(p):
        nonlocal pos
        pos = p

    return value(token())


def declared(path):
    def show(spec):
        return parse_object(qpdf(['--show-object=' + spec, path]))

    def deref(v):
        return show(v.spec) if isinstance(v, Ref) else v

    trailer = show('trailer')
    catalog = deref(trailer.get('/Root')) if isinstance(trailer, dict) else None
    if not isinstance(catalog, dict):
        return '? no catalog'
    part = -1
    meta = catalog.get('/Metadata')
    if isinstance(meta, Ref):
        try:
            part = xmp_part(qpdf(['--show-object=' + meta.spec, '--filtered-stream-data', path]))
        except RuntimeError:
            part = -1
    intent = 0
    intents = deref(catalog.get('/OutputIntents'))
    if isinstance(intents, list):
        for item in intents:
            d = deref(item)
            if isinstance(d, dict) and d.get('/S') == '/GTS_PDFA1':
                intent = 1
    return '%s %d' % (part, intent)


def main():
    for path in sys.argv[1:]:
        try:
            line = declared(path)
        except Exception as e:  # one unreadable file must not end the run
            line = '? %s' % (str(e).replace('\n', ' ') or type(e).__name__)
        print(line, flush=True)


if __name__ == '__main__':
    main()
