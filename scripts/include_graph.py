#!/usr/bin/env python3
"""The include graph of the library's folders, read from the sources.

Every `#include "folder/file.h"` line in a file under src/<folder>/ is an
edge <folder> -> folder (includes inside one folder are not edges; the
public header "zyk_out_pdfa.h" has no folder and is left out). The script
prints, per folder, the folders it includes with the headers used, then
checks two things:

  - a cycle among folders: printed with the file and line of every edge on
    it, and the exit status is 1;
  - an include against the ladder below (a folder including one on its own
    rung or above): printed with file and line as "against the ladder";
    the exit status is 2 when there is no cycle but such an include, so a
    new upward include is noticed as well.

Headers that other folders include besides a folder's interface header are
listed last, for information only.

Usage: scripts/include_graph.py [--src DIR] [--verbose]
  --verbose  every include line behind every edge, not only the first
"""
import argparse
import os
import re
import sys

# The rungs, lowest first. A folder may include folders on lower rungs only.
LADDER = [
    ["base"],
    ["flate", "crypt"],
    ["filter"],
    ["pdf"],
    ["font", "inspect"],
    ["writer"],
    ["api"],
]
RUNG = {f: i for i, rung in enumerate(LADDER) for f in rung}

# The header that states each folder's interface to the others.
INTERFACE = {
    "base": "base.h",
    "flate": "flate.h",
    "crypt": "crypt.h",
    "filter": "filter.h",
    "pdf": "pdf.h",
    "font": "font.h",
    "inspect": "inspect.h",
    "writer": "writer.h",
    "api": None,
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/([^"]+)"')


def read_edges(src):
    """{(from, to): [(file, line, header), ...]} for includes across folders."""
    edges = {}
    folders = set()
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        folders.add(folder)
        for root, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".hpp", ".cc")):
                    continue
                file = os.path.join(root, name)
                with open(file, encoding="utf-8", errors="replace") as f:
                    for number, text in enumerate(f, 1):
                        m = INCLUDE.match(text)
                        if not m or m.group(1) == folder:
                            continue
                        rel = os.path.relpath(file, os.path.dirname(src))
                        edges.setdefault((folder, m.group(1)), []).append((rel, number, m.group(1) + "/" + m.group(2)))
    return folders, edges


def find_cycle(folders, edges):
    """One cycle as a list of folders (first == last), or None."""
    succ = {f: sorted({b for (a, b) in edges if a == f}) for f in folders}
    state = {f: 0 for f in folders}  # 0 new, 1 on the path, 2 done
    path = []

    def visit(f):
        state[f] = 1
        path.append(f)
        for g in succ.get(f, []):
            if state.get(g, 0) == 1:
                return path[path.index(g):] + [g]
            if state.get(g, 0) == 0:
                found = visit(g)
                if found:
                    return found
        path.pop()
        state[f] = 2
        return None

    for f in sorted(folders):
        if state[f] == 0:
            found = visit(f)
            if found:
                return found
    return None


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Folder include graph of src/, with a cycle check.")
    parser.add_argument("--src", default=os.path.join(here, "..", "src"))
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    src = os.path.normpath(args.src)
    folders, edges = read_edges(src)
    folders |= {b for (_, b) in edges}

    order = sorted(folders, key=lambda f: (RUNG.get(f, len(LADDER)), f))
    print("folder include graph of %s (folder -> folders it includes)" % src)
    for f in order:
        targets = sorted({b for (a, b) in edges if a == f}, key=lambda g: (RUNG.get(g, len(LADDER)), g))
        if not targets:
            print("  %-8s -> (none)" % f)
            continue
        parts = []
        for g in targets:
            headers = sorted({h for (_, _, h) in edges[(f, g)]})
            parts.append("%s [%s]" % (g, ", ".join(headers)))
        print("  %-8s -> %s" % (f, "; ".join(parts)))
        if args.verbose:
            for g in targets:
                for file, line, header in edges[(f, g)]:
                    print("             %s:%d  %s" % (file, line, header))

    status = 0
    cycle = find_cycle(folders, edges)
    if cycle:
        print("\ncycle: " + " -> ".join(cycle))
        for a, b in zip(cycle, cycle[1:]):
            file, line, header = edges[(a, b)][0]
            print("  %s -> %s at %s:%d (%s)" % (a, b, file, line, header))
        status = 1
    else:
        print("\nno cycle")

    against = []
    for (a, b), where in sorted(edges.items()):
        if a not in RUNG or b not in RUNG:
            against.append((a, b, where[0], "folder not on the ladder"))
        elif RUNG[b] >= RUNG[a]:
            against.append((a, b, where[0], "same rung" if RUNG[b] == RUNG[a] else "upward"))
    print("ladder: " + " -> ".join("/".join(r) for r in LADDER))
    if against:
        for a, b, (file, line, header), why in against:
            print("  against the ladder (%s): %s -> %s at %s:%d (%s)" % (why, a, b, file, line, header))
        if status == 0:
            status = 2
    else:
        print("  every include points down the ladder")

    other = {}
    for (a, b), where in edges.items():
        for file, line, header in where:
            if INTERFACE.get(b) and header != b + "/" + INTERFACE[b]:
                other.setdefault(header, set()).add(a)
    if other:
        print("headers included from other folders besides the interface header:")
        for header in sorted(other):
            print("  %-24s from %s" % (header, ", ".join(sorted(other[header]))))
    return status


if __name__ == "__main__":
    sys.exit(main())
