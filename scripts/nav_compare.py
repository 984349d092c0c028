#!/usr/bin/env python3
"""Compares the navigation of a source PDF with its conversion.

usage: nav_compare.py [--tsv] IN OUT [IN OUT ...]

Reads both files through `qpdf --json=2` and compares:
  outlines  every item's title, nesting depth, open state and target (in
            tree order)
  labels    the page label of every page (style, prefix, start)
  links     per page, the /Link annotations whose target is a page of the
            document or a URI, with that target (links doing anything else
            are not expected in the output)

Prints one line per pair: counts in input/output and "ok" or what differs.
With --tsv the line is tab-separated: in, outlines_in, outlines_out,
outlines_equal, labels_equal, links_in, links_out, links_equal.
"""
import json
import subprocess
import sys


def qpdf_json(path):
    out = subprocess.run(
        ["qpdf", "--json=2", "--json-key=qpdf", "--json-key=pages", "--json-key=outlines", path],
        capture_output=True, check=False).stdout
    return json.loads(out)


class Doc:
    def __init__(self, path):
        j = qpdf_json(path)
        self.objs = {}
        for key, val in j["qpdf"][1].items():
            if key.startswith("obj:") or key == "trailer":
                self.objs[key[4:] if key != "trailer" else key] = val.get("value", val.get("stream", {}).get("dict"))
        self.trailer = self.objs.get("trailer", {})
        self.pages = [p["object"] for p in j["pages"]]
        self.page_index = {ref: i for i, ref in reversed(list(enumerate(self.pages)))}
        self.labels = [p.get("label") for p in j["pages"]]
        self.outlines = j["outlines"]
        self._names = None

    def get(self, v, hops=8):
        while isinstance(v, str) and v.endswith(" R") and hops > 0:
            v = self.objs.get(v)
            hops -= 1
        return v

    def catalog(self):
        return self.get(self.trailer.get("/Root")) or {}

    def names(self):
        """Named destinations: name tree first, then the /Dests dictionary."""
        if self._names is not None:
            return self._names
        self._names = {}
        seen = set()

        def walk(node, depth):
            node = self.get(node)
            if not isinstance(node, dict) or depth > 32:
                return
            arr = self.get(node.get("/Names")) or []
            for i in range(0, len(arr) - 1, 2):
                self._names.setdefault(arr[i], arr[i + 1])
            for kid in self.get(node.get("/Kids")) or []:
                if kid not in seen:
                    seen.add(kid)
                    walk(kid, depth + 1)

        names = self.get(self.catalog().get("/Names")) or {}
        walk(names.get("/Dests"), 0)
        dests = self.get(self.catalog().get("/Dests")) or {}
        for k, v in dests.items():
            self._names.setdefault(k, v)
            # A name token /Foo and the string (Foo) name the same thing.
            self._names.setdefault("u:" + k[1:], v)
        return self._names

    def dest_page(self, d, depth=0):
        d = self.get(d)
        if depth > 8 or d is None:
            return None
        if isinstance(d, list):
            if not d:
                return None
            first = d[0]
            if isinstance(first, int):
                return first if 0 <= first < len(self.pages) else None
            return self.page_index.get(first)
        if isinstance(d, dict):
            return self.dest_page(d.get("/D"), depth + 1)
        if isinstance(d, str):
            names = self.names()
            v = names.get(d)
            if v is None and d.startswith("/"):
                v = names.get("u:" + d[1:])
            if v is None and d.startswith("u:"):
                v = names.get("/" + d[2:])
            return self.dest_page(v, depth + 1) if v is not None else None
        return None

    def link_target(self, annot):
        if "/Dest" in annot:
            p = self.dest_page(annot["/Dest"])
            return ("page", p) if p is not None else None
        a = self.get(annot.get("/A"))
        if not isinstance(a, dict):
            return None
        s = a.get("/S")
        if s == "/GoTo":
            p = self.dest_page(a.get("/D"))
            return ("page", p) if p is not None else None
        if s == "/URI":
            uri = self.get(a.get("/URI"))
            return ("uri", uri) if uri else None
        return None

    def links(self):
        per_page = []
        for ref in self.pages:
            page = self.get(ref) or {}
            found = []
            for a in self.get(page.get("/Annots")) or []:
                a = self.get(a)
                if not isinstance(a, dict) or a.get("/Subtype") != "/Link":
                    continue
                flags = a.get("/F", 0)
                if isinstance(flags, int) and flags & (2 | 32):
                    continue
                t = self.link_target(a)
                if t is not None:
                    found.append(t)
            per_page.append(found)
        return per_page

    def outline_items(self):
        """(depth, title, target, open) in tree order, walked through /First
        and /Next with a visited set; target is ("page", index), ("uri",
        text), ("named", name) or None; open is None for items without
        children."""
        items = []
        seen = set()

        def target(item):
            if "/Dest" in item:
                p = self.dest_page(item["/Dest"])
                return ("page", p) if p is not None else None
            a = self.get(item.get("/A"))
            if isinstance(a, dict) and a.get("/S") == "/Named":
                return ("named", a.get("/N"))
            t = self.link_target(item)
            return t

        def walk(ref, depth):
            while isinstance(ref, str) and ref not in seen and depth < 64:
                seen.add(ref)
                item = self.get(ref)
                if not isinstance(item, dict):
                    return
                count = self.get(item.get("/Count"))
                is_open = isinstance(count, (int, float)) and count > 0 if "/First" in item else None
                items.append((depth, self.get(item.get("/Title")), target(item), is_open))
                walk(item.get("/First"), depth + 1)
                ref = item.get("/Next")

        root = self.get(self.catalog().get("/Outlines"))
        if isinstance(root, dict):
            walk(root.get("/First"), 0)
        return items

    def label_list(self):
        out = []
        for lab in self.labels:
            lab = self.get(lab)
            if not isinstance(lab, dict):
                out.append(None)
                continue
            out.append((lab.get("/S"), self.get(lab.get("/P")), lab.get("/St", 1)))
        return out



def compare(inp, out):
    a, b = Doc(inp), Doc(out)
    oa, ob = a.outline_items(), b.outline_items()
    la, lb = a.links(), b.links()
    labels_a, labels_b = a.label_list(), b.label_list()
    # qpdf's label of a page without a tree entry is null in both.
    labels_equal = labels_a == labels_b or (all(x is None for x in labels_a) and all(x is None for x in labels_b))
    return {
        "outlines_in": len(oa), "outlines_out": len(ob), "outlines_equal": oa == ob,
        "labels_equal": labels_equal,
        "links_in": sum(len(x) for x in la), "links_out": sum(len(x) for x in lb), "links_equal": la == lb,
        "diff": [(x[:1] + (str(x[1])[:40],) + x[2:], y[:1] + (str(y[1])[:40],) + y[2:])
                 for x, y in zip(oa, ob) if x != y][:3],
        "link_diff": [(i, x, y) for i, (x, y) in enumerate(zip(la, lb)) if x != y][:2],
    }


def main(argv):
    tsv = bool(argv) and argv[0] == "--tsv"
    if tsv:
        argv = argv[1:]
    if len(argv) < 2 or len(argv) % 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for i in range(0, len(argv), 2):
        try:
            r = compare(argv[i], argv[i + 1])
        except Exception as e:  # a file qpdf cannot read
            print(f"{argv[i]}\terror\t{e}" if tsv else f"{argv[i]}: error {e}")
            continue
        if tsv:
            print("\t".join(str(x) for x in (argv[i], r["outlines_in"], r["outlines_out"], r["outlines_equal"],
                                             r["labels_equal"], r["links_in"], r["links_out"], r["links_equal"])))
        else:
            ok = r["outlines_equal"] and r["labels_equal"] and r["links_equal"]
            print(f"{argv[i]}: outlines {r['outlines_in']}/{r['outlines_out']} labels "
                  f"{'equal' if r['labels_equal'] else 'differ'} links {r['links_in']}/{r['links_out']} "
                  f"{'ok' if ok else 'DIFFER ' + repr(r['diff']) + ' ' + repr(r['link_diff'])[:300]}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
