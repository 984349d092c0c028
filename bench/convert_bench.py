#!/usr/bin/env python3
"""Conversion benchmark: speed, memory and output size, with a peer converter
measured on the same files in the same run.

For every input it runs `zyk-pdfa convert --part P IN OUT` under GNU time
and reports CPU time (user + system of the converter's process tree), peak
RSS, input and output bytes and pages. The same is done
with the peer (by default Ghostscript's PDF/A-2 conversion through
../shared/tools/peer-gs-pdfa) on a sample of the corpus: the peer is about
seventy times slower, so by default it sees every fourth corpus file and the
smallest generated document only (--peer-every, --peer-pages).

Inputs: the files of a list (one path per line, relative paths taken from the
list's directory or the current one), and generated documents of 1,000,
10,000 and 100,000 pages (--pages): a page of about 1 KB of uncompressed text
in a WinAnsi Helvetica font, every page with its own content stream.

Summary lines (stdout, Markdown): per tool and set, CPU seconds, ms of CPU per
page, pages/s (pages per CPU second), CPU s/MB of input, peak RSS (median and largest), output/input size
ratio (median per file and total), and per file the peer's CPU time over
ours (median, p10, p90) on the files both converted, over all files and over
the corpus alone. --tsv keeps one row per tool and file (per-file CPU, peak
RSS, bytes, pages).

The peer's figures do not depend on our build, and it is slow (tens of
minutes over the corpus): run it once alone (--only peer), then take its
rows into the runs of our builds (--peer-tsv).

Usage:
  bench/convert_bench.py --zyk build/zyk-pdfa --list /work/corpus-list.txt \\
      --workdir /tmp/bench [--pages 1000,10000,100000] [--tsv rows.tsv]
  # every file, the peer once, then ours three times per file (minimum kept):
  bench/convert_bench.py --zyk - --only peer --peer-every 1 --peer-pages 100000 \\
      --list L --workdir W --tsv peer.tsv --timeout 3600
  bench/convert_bench.py --zyk build/zyk-pdfa --peer-tsv peer.tsv --repeat 3 --list L --workdir W
"""
import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_PEER = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "tools", "peer-gs-pdfa"))

WORDS = ("archive court record page text line paragraph document version letter "
         "number reference section table figure appendix summary note").split()


def generate(path, npages):
    """npages pages, each with about 1 KB of text, one shared font."""
    out = bytearray(b"%PDF-1.4\n")
    offs = []

    def obj(body):
        offs.append(len(out))
        out.extend(b"%d 0 obj\n" % len(offs) + body + b"\nendobj\n")

    fanout = 100
    nleaves = (npages + fanout - 1) // fanout
    leaf0, font = 3, 3 + nleaves
    page0 = font + 1
    obj(b"<< /Type /Catalog /Pages 2 0 R >>")
    obj(b"<< /Type /Pages /Kids [%s] /Count %d >>" %
        (b" ".join(b"%d 0 R" % (leaf0 + i) for i in range(nleaves)), npages))
    for i in range(nleaves):
        first = page0 + 2 * i * fanout
        count = min(fanout, npages - i * fanout)
        kids = b" ".join(b"%d 0 R" % (first + 2 * k) for k in range(count))
        obj(b"<< /Type /Pages /Parent 2 0 R /Kids [%s] /Count %d >>" % (kids, count))
    obj(b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>")
    for p in range(npages):
        lines = []
        for ln in range(14):
            ws = [WORDS[(p * 7 + ln * 3 + k) % len(WORDS)] for k in range(9)]
            lines.append(b"(%s %d) Tj T*" % (" ".join(ws).encode(), p * 14 + ln))
        content = b"BT /F1 11 Tf 14 TL 72 720 Td\n" + b"\n".join(lines) + b"\nET"
        obj(b"<< /Type /Page /Parent %d 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 %d 0 R >> >>"
            b" /Contents %d 0 R >>" % (leaf0 + p // fanout, font, len(offs) + 2))
        obj(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
    xref = len(out)
    out.extend(b"xref\n0 %d\n0000000000 65535 f \n" % (len(offs) + 1))
    for o in offs:
        out.extend(b"%010d 00000 n \n" % o)
    out.extend(b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(offs) + 1, xref))
    with open(path, "wb") as f:
        f.write(out)


def read_tsv(path):
    """Rows of an earlier --tsv, typed as this script makes them."""
    rows = []
    with open(path) as f:
        head = f.readline().rstrip("\n").split("\t")
        for ln in f:
            v = dict(zip(head, ln.rstrip("\n").split("\t")))
            rows.append({"tool": v["tool"], "set": v["set"], "file": v["file"], "ok": v["ok"] == "1",
                         "cpu": float(v["cpu_s"]), "rss": int(v["rss_kb"]), "in": int(v["in_bytes"]),
                         "out": int(v["out_bytes"]), "pages": int(v["pages"])})
    return rows


def children_cpu():
    ru = resource.getrusage(resource.RUSAGE_CHILDREN)
    return ru.ru_utime + ru.ru_stime


def timed(cmd, timeout):
    """(ok, cpu seconds, peak RSS in KiB) of one command run under GNU time.
    CPU comes from this process's children's rusage (microseconds, where
    GNU time prints hundredths), peak RSS from GNU time (a child forked from
    this Python process would count the interpreter's memory as its own)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as t:
        before = children_cpu()
        try:
            r = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", t.name] + cmd, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            return False, float(timeout), 0
        cpu = children_cpu() - before
        lines = t.read().strip().splitlines()
    try:
        rss = int(lines[-1])
    except (ValueError, IndexError):
        rss = 0
    return r.returncode == 0, cpu, rss


TIME_OVERHEAD = 0.0


def run(cmd, timeout):
    ok, cpu, rss = timed(cmd, timeout)
    return ok, max(cpu - TIME_OVERHEAD, 0.0), rss


def calibrate():
    """CPU that GNU time and process start-up cost around a command that does
    nothing; subtracted from every measurement."""
    global TIME_OVERHEAD
    runs = sorted(timed(["true"], 60)[1] for _ in range(21))
    TIME_OVERHEAD = runs[len(runs) // 2]


def page_count(path):
    """Pages of a PDF: /Count of the first page-tree root found (our outputs
    write it in object 2), else pdfinfo's answer."""
    try:
        with open(path, "rb") as f:
            head = f.read(1 << 16)
        m = re.search(rb"/Type /Pages /Count (\d+)", head)
        if m:
            return int(m.group(1))
        r = subprocess.run(["pdfinfo", path], capture_output=True, text=True, timeout=60)
        m = re.search(r"^Pages:\s+(\d+)", r.stdout, re.M)
        return int(m.group(1)) if m else 0
    except (OSError, subprocess.SubprocessError):
        return 0


def pct(xs, q):
    xs = sorted(xs)
    if not xs:
        return float("nan")
    k = (len(xs) - 1) * q
    lo = int(k)
    hi = min(lo + 1, len(xs) - 1)
    return xs[lo] + (xs[hi] - xs[lo]) * (k - lo)


def summarise(rows, tool, group):
    rs = [r for r in rows if r["tool"] == tool and r["set"] == group and r["ok"]]
    if not rs:
        return None
    cpu = sum(r["cpu"] for r in rs)
    pages = sum(r["pages"] for r in rs)
    inb = sum(r["in"] for r in rs)
    outb = sum(r["out"] for r in rs)
    return {
        "files": len(rs),
        "failed": len([r for r in rows if r["tool"] == tool and r["set"] == group and not r["ok"]]),
        "pages_s": pages / cpu if cpu else float("nan"),
        "s_mb": cpu / (inb / 1e6) if inb else float("nan"),
        "rss_med": statistics.median(r["rss"] for r in rs) / 1024,
        "rss_max": max(r["rss"] for r in rs) / 1024,
        "ratio_med": statistics.median(r["out"] / r["in"] for r in rs),
        "ratio_tot": outb / inb,
        "cpu": cpu,
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zyk", required=True, help="the zyk-pdfa program")
    ap.add_argument("--peer", default=DEFAULT_PEER, help="peer converter taking --part N IN OUT ('' for none)")
    ap.add_argument("--list", help="corpus list, one PDF path per line")
    ap.add_argument("--pages", default="1000,10000,100000", help="generated documents, comma list ('' for none)")
    ap.add_argument("--part", type=int, default=2)
    ap.add_argument("--peer-every", type=int, default=4, help="peer runs on every k-th corpus file")
    ap.add_argument("--peer-pages", type=int, default=1000, help="largest generated document the peer runs on")
    ap.add_argument("--repeat", type=int, default=1, help="runs per file for our converter (minimum CPU kept)")
    ap.add_argument("--timeout", type=float, default=600)
    ap.add_argument("--workdir", required=True)
    ap.add_argument("--keep", action="store_true", help="keep the outputs")
    ap.add_argument("--tsv")
    ap.add_argument("--only", choices=("zyk", "peer"), help="run one tool only (e.g. the slow peer in the "
                    "background while our build is still changing)")
    ap.add_argument("--peer-tsv", help="take the peer's rows from the --tsv of an earlier run instead of "
                    "running it again (its figures do not depend on our build)")
    a = ap.parse_args()

    os.makedirs(a.workdir, exist_ok=True)
    inputs = []  # (set, path, peer too?)
    if a.list:
        base = os.path.dirname(os.path.abspath(a.list))
        with open(a.list) as f:
            paths = [ln.strip() for ln in f if ln.strip() and not ln.startswith("#")]
        for i, p in enumerate(paths):
            if not os.path.isabs(p) and not os.path.exists(p):
                p = os.path.normpath(os.path.join(base, p))
            inputs.append(("corpus", p, i % max(a.peer_every, 1) == 0))
    for n in [int(x) for x in a.pages.split(",") if x.strip()]:
        path = os.path.join(a.workdir, "generated-%d.pdf" % n)
        if not os.path.exists(path):
            generate(path, n)
        inputs.append(("gen-%d" % n, path, n <= a.peer_pages))

    calibrate()
    print("GNU time overhead subtracted: %.2f ms CPU per run" % (TIME_OVERHEAD * 1e3), file=sys.stderr)
    tools = [("zyk", lambda i, o: [a.zyk, "convert", "--part", str(a.part), i, o])]
    if a.peer or a.peer_tsv:
        tools.append(("peer", lambda i, o: [a.peer, "--quiet", "--part", str(a.part), i, o]))
    rows = []
    if a.peer_tsv:
        rows = [r for r in read_tsv(a.peer_tsv) if r["tool"] == "peer"]
        # Generated documents are matched by set, since their path is in each run's workdir.
        gen_path = {g: p for g, p, _ in inputs if g.startswith("gen-")}
        for r in rows:
            r["file"] = gen_path.get(r["set"], r["file"])
    for k, (group, path, with_peer) in enumerate(inputs):
        in_bytes = os.path.getsize(path)
        for tool, cmd in tools:
            if tool == "peer" and (not with_peer or a.peer_tsv):
                continue
            if a.only and tool != a.only:
                continue
            out = os.path.join(a.workdir, "%s-%d.pdf" % (tool, k))
            best = None
            for _ in range(a.repeat if tool == "zyk" else 1):
                if os.path.exists(out):
                    os.remove(out)
                ok, cpu, rss = run(cmd(path, out), a.timeout)
                ok = ok and os.path.exists(out)
                if best is None or (ok and cpu < best[1]):
                    best = (ok, cpu, rss)
            ok, cpu, rss = best
            r = {"tool": tool, "set": group, "file": path, "ok": ok, "cpu": cpu, "rss": rss, "in": in_bytes,
                 "out": os.path.getsize(out) if ok else 0, "pages": page_count(out) if ok else 0}
            if ok and r["pages"] == 0:
                r["pages"] = page_count(path)
            rows.append(r)
            if not a.keep and os.path.exists(out):
                os.remove(out)
        print("%d/%d %s" % (k + 1, len(inputs), path), file=sys.stderr)

    if a.tsv:
        with open(a.tsv, "w") as f:
            f.write("tool\tset\tfile\tok\tcpu_s\trss_kb\tin_bytes\tout_bytes\tpages\n")
            for r in rows:
                f.write("%s\t%s\t%s\t%d\t%.4f\t%d\t%d\t%d\t%d\n" % (r["tool"], r["set"], r["file"], r["ok"], r["cpu"],
                                                                   r["rss"], r["in"], r["out"], r["pages"]))

    groups = []
    for g, _, _ in inputs:
        if g not in groups:
            groups.append(g)
    print("| tool | set | files (failed) | CPU s | ms/page | pages/s | CPU s/MB | RSS median / max MB | out/in median "
          "| out/in total |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for g in groups:
        for tool, _ in tools:
            s = summarise(rows, tool, g)
            if s:
                print("| %s | %s | %d (%d) | %.3f | %.4f | %.1f | %.4f | %.1f / %.1f | %.3f | %.3f |" %
                      (tool, g, s["files"], s["failed"], s["cpu"], 1e3 / s["pages_s"] if s["pages_s"] else 0,
                       s["pages_s"], s["s_mb"], s["rss_med"], s["rss_max"], s["ratio_med"], s["ratio_tot"]))
    if a.peer:
        both = {}
        for r in rows:
            if r["ok"]:
                both.setdefault(r["file"], {})[r["tool"]] = r
        ratios = [b["peer"]["cpu"] / b["zyk"]["cpu"] for b in both.values()
                  if "peer" in b and "zyk" in b and b["zyk"]["cpu"] > 0]
        if ratios:
            print("\npeer CPU / our CPU over %d files both converted: median %.1fx, p10 %.1fx, p90 %.1fx" %
                  (len(ratios), statistics.median(ratios), pct(ratios, 0.1), pct(ratios, 0.9)))
        corpus = [b["peer"]["cpu"] / b["zyk"]["cpu"] for b in both.values()
                  if "peer" in b and "zyk" in b and b["zyk"]["cpu"] > 0 and b["zyk"]["set"] == "corpus"]
        if corpus:
            print("corpus files only (%d): median %.1fx, p10 %.1fx, p90 %.1fx" %
                  (len(corpus), statistics.median(corpus), pct(corpus, 0.1), pct(corpus, 0.9)))
            if a.peer_tsv:
                print("(the peer's rows come from %s)" % a.peer_tsv)
            else:
                print("(the peer ran on every %d-th corpus file and on generated documents up to %d pages)" %
                      (a.peer_every, a.peer_pages))


if __name__ == "__main__":
    main()
