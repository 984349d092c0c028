"""Folder batches on a Dask LocalCluster against `zyk-pdfa batch`.

CTest runs this file on its own (python.distributed) with
ZYK_OUT_PDFA_LIBRARY and ZYK_PDFA_PROGRAM set; it is skipped when Dask is
not importable. The two workers are real processes; the test kills them
with SIGKILL in the middle of chosen files, after the library has written
the staged output and before it is renamed, which is the moment a lost
output or a leftover would show.
"""
import contextlib
import json
import os
import re
import signal
import subprocess
import sys
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))

try:
    import distributed
    from distributed import Client, LocalCluster
    from distributed.diagnostics.plugin import WorkerPlugin
except ImportError as e:  # pragma: no cover - depends on the machine
    pytest.skip("needs Dask (python3-distributed): %s" % e, allow_module_level=True)

import zyk_out_pdfa  # noqa: E402
import zyk_out_pdfa.distributed as zd  # noqa: E402

PROGRAM = os.environ.get("ZYK_PDFA_PROGRAM", "")
RECORD_KEYS = ["input", "output", "status", "error", "pages", "seconds"]
START_KEYS = ["run", "time", "version", "arguments", "input_dir", "output_dir", "part", "jobs", "skip_existing"]
END_KEYS = ["run", "time", "seconds", "ok", "failed", "refused", "skipped", "ignored", "pages", "interrupted",
            "exit_status"]


def make_pdf(objects, trailer=b"/Root 1 0 R"):
    out = b"%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d %s >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, trailer, xref)
    return out


def text_pdf(label, pages):
    """A PDF of `pages` pages of Helvetica text naming the file and page."""
    objs = [b"<< /Type /Catalog /Pages 2 0 R >>", None, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    kids = []
    for p in range(pages):
        content = b"BT /F1 14 Tf 30 150 Td (%s, page %d) Tj ET" % (label, p + 1)
        objs.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
        objs.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Contents %d 0 R "
                    b"/Resources << /Font << /F1 3 0 R >> >> >>" % len(objs))
        kids.append(b"%d 0 R" % len(objs))
    objs[1] = b"<< /Type /Pages /Kids [" + b" ".join(kids) + b"] /Count %d >>" % pages
    return make_pdf(objs)


# The folder both drivers convert: nested folders, a name that is not
# UTF-8, one with a quote and a tab (log escaping), files the library
# refuses or fails on, a file that is no PDF by name, and the two files
# whose conversions kill their worker.
GOOD = {
    b"one.pdf": 1, b"sub/two.PDF": 2, b"sub/deeper/three.pdf": 3, b"sub/deeper/four.pdf": 1,
    b"caf\xe9-latin1.pdf": 2, b'quote"\ttab.pdf': 1, b"victim-once.pdf": 2, b"victim-always.pdf": 1,
    b"five.pdf": 4, b"six.pdf": 1, b"seven.pdf": 2,
}
BROKEN = {
    b"broken.pdf": b"this is not a PDF at all\n",                          # refused
    b"sub/empty.pdf": b"",                                                  # failed
    b"sub/no-pages.pdf": make_pdf([b"<< /Type /Catalog /Pages 2 0 R >>",   # broken page tree
                                   b"<< /Type /Pages /Kids [9 0 R] /Count 1 >>"]),
    b"notes.txt": b"not a PDF by name\n",
}


def build_folder(root):
    for rel, pages in GOOD.items():
        p = os.path.join(os.fsencode(root), rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(text_pdf(os.path.basename(rel).replace(b'"', b"").replace(b"\t", b""), pages))
    for rel, data in BROKEN.items():
        p = os.path.join(os.fsencode(root), rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)


def read_log(path):
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").splitlines()
    return [json.loads(line) for line in lines], lines


def by_rel(records, in_root, out_root):
    """File records keyed by the input's path relative to `in_root`, with
    the output made relative to `out_root`, so that runs into different
    folders compare."""
    in_root, out_root = os.fsencode(str(in_root)), os.fsencode(str(out_root))
    found = {}
    for r in records:
        if "status" not in r:
            continue
        assert list(r) == RECORD_KEYS
        rel = os.fsencode(r["input"])[len(in_root) + 1:]
        assert rel not in found, "two records for %r" % rel
        r = dict(r)
        r.pop("seconds")
        if r["output"]:
            r["output"] = os.fsencode(r["output"])[len(out_root) + 1:]
            assert r["output"] == rel
        found[rel] = r
    return found


def files_under(root):
    found = {}
    for d, dirs, files in os.walk(os.fsencode(root)):
        for n in dirs + files:
            p = os.path.join(d, n)
            found[os.path.relpath(p, os.fsencode(root))] = p
    return found


class KillWorkers(WorkerPlugin):
    """Makes every worker process, also those started later to replace a
    dead one, kill itself with SIGKILL right after the library finished
    victim-always.pdf, and once (the first time, across all workers) after
    victim-once.pdf."""

    name = "kill-workers"

    def __init__(self, marker, stop_scheduler=False):
        self.marker = marker
        self.stop_scheduler = stop_scheduler

    def setup(self, worker):
        real = zd._run_library
        marker, stop = self.marker, self.stop_scheduler

        def run(inp, staged, part):
            result = real(inp, staged, part)
            name = os.path.basename(inp)
            assert not result[0] or os.path.getsize(staged) > 0
            if stop and name == b"stop.pdf":
                distributed.get_client().shutdown()
            elif name == b"victim-always.pdf" or name == b"victim-once.pdf" and _first_time(marker):
                os.kill(os.getpid(), signal.SIGKILL)
            return result

        zd._run_library = run


def _first_time(marker):
    try:
        os.close(os.open(marker, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        return True
    except FileExistsError:
        return False


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """The input folder and `zyk-pdfa batch --jobs 2`'s run over it."""
    if not PROGRAM or not os.access(PROGRAM, os.X_OK):
        pytest.skip("ZYK_PDFA_PROGRAM does not name the zyk-pdfa program")
    base = tmp_path_factory.mktemp("dist")
    inp, ref = base / "in", base / "ref"
    build_folder(inp)
    proc = subprocess.run([PROGRAM, "batch", "--jobs", "2", "-q", str(inp), str(ref)], capture_output=True)
    assert proc.returncode == 1, proc.stderr  # the broken files fail
    return base, inp, ref


@pytest.fixture(scope="module")
def cluster_env():
    # Worker processes import the package and this file (the plugin) by name.
    old = os.environ.get("PYTHONPATH")
    os.environ["PYTHONPATH"] = os.pathsep.join(filter(None, [os.path.join(HERE, ".."), HERE, old]))
    yield
    if old is None:
        del os.environ["PYTHONPATH"]
    else:
        os.environ["PYTHONPATH"] = old


@contextlib.contextmanager
def local_client(close_timeout=None):
    cluster = LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=":0")
    client = Client(cluster)
    try:
        yield client
    finally:
        client.close()
        try:
            cluster.close(timeout=close_timeout)
        except TimeoutError:
            pass  # the nannies of a closed scheduler wait for it in vain


@pytest.fixture(scope="module")
def killing_client(cluster_env, corpus):
    """Two worker processes that die on the victim files."""
    with local_client() as client:
        client.register_worker_plugin(KillWorkers(str(corpus[0] / "killed-once")))
        yield client


def test_batch_on_two_worker_processes_with_killed_workers(corpus, killing_client):
    base, inp, ref = corpus
    out = base / "dask"
    # An output from an earlier run, for a file whose conversion keeps
    # killing its worker: it must survive the run untouched.
    os.makedirs(out)
    (out / "victim-always.pdf").write_bytes(b"an earlier output\n")
    summary = zd.convert_many(str(inp), str(out), part=2, client=killing_client)

    ref_records, _ = read_log(ref / "zyk-pdfa-batch.jsonl")
    records, lines = read_log(out / "zyk-pdfa-batch.jsonl")

    # The header and closing records have the program's fields in its order.
    assert list(records[0])[:len(START_KEYS)] == START_KEYS and records[0]["run"] == "start"
    assert records[0]["jobs"] == 2 and records[0]["part"] == 2
    assert list(records[-1]) == END_KEYS and records[-1]["run"] == "end"
    assert len(lines) == len(records) == len(ref_records)

    # Every entry is accounted for, with the program's status and reason,
    # except the file that killed two workers.
    mine, theirs = by_rel(records, inp, out), by_rel(ref_records, inp, ref)
    assert set(mine) == set(theirs) == set(GOOD) | set(BROKEN)
    victim = mine.pop(b"victim-always.pdf")
    assert theirs.pop(b"victim-always.pdf")["status"] == "ok"
    assert victim["status"] == "failed" and victim["error"] == zd.DIED_TWICE and victim["pages"] == 0
    assert mine == theirs
    assert mine[b"victim-once.pdf"]["status"] == "ok"
    assert mine[b"broken.pdf"]["status"] == "refused"
    assert mine[b"sub/no-pages.pdf"]["status"] == "failed"

    end = records[-1]
    assert (end["ok"], end["failed"], end["refused"], end["ignored"]) == (len(GOOD) - 1, 3, 1, 1)
    assert end["exit_status"] == summary["exit_status"] == 1 and end["interrupted"] is False
    assert summary["pages"] == end["pages"] == sum(GOOD.values()) - GOOD[b"victim-always.pdf"]

    # Outputs are the program's, byte for byte; nothing else is left, no
    # staging folder, no partial file; the earlier output is unchanged.
    assert (out / "victim-always.pdf").read_bytes() == b"an earlier output\n"
    got, want = files_under(out), files_under(ref)
    assert set(got) == set(want)
    for rel, p in want.items():
        if os.path.isfile(p) and rel.endswith((b".pdf", b".PDF")) and rel != b"victim-always.pdf":
            with open(p, "rb") as a, open(got[rel], "rb") as b:
                assert a.read() == b.read(), rel


def test_skip_existing_resumes_a_batch(corpus, killing_client):
    base, inp, _ = corpus
    out = base / "dask"  # the previous test's outputs, all newer than their inputs
    before = {rel: os.stat(p).st_mtime_ns for rel, p in files_under(out).items() if rel.lower().endswith(b".pdf")}
    summary = zd.convert_many(str(inp), str(out), client=killing_client, skip_existing=True)
    records, _ = read_log(out / "zyk-pdfa-batch.jsonl")
    run = records[max(i for i, r in enumerate(records) if r.get("run") == "start"):]
    assert run[0]["skip_existing"] is True
    files = by_rel(run, inp, out)
    skipped = {rel for rel, r in files.items() if r["status"] == "skipped"}
    # The earlier output of the file that kills workers is newer too: it
    # is left, and no worker dies for it.
    assert skipped == set(GOOD) and summary["skipped"] == len(GOOD) and summary["ok"] == 0
    assert all(files[rel]["error"] == "output is newer than the input (--skip-existing)" for rel in skipped)
    assert {rel: os.stat(p).st_mtime_ns for rel, p in files_under(out).items() if rel in before} == before


def test_lost_scheduler_stops_with_what_was_done_logged(corpus, cluster_env):
    base, _, ref = corpus
    inp, out = base / "in-stop", base / "out-stop"
    os.makedirs(inp)
    names = [b"a%02d.pdf" % i for i in range(8)] + [b"stop.pdf"] + [b"z%02d.pdf" % i for i in range(8)]
    for n in names:
        with open(os.path.join(os.fsencode(str(inp)), n), "wb") as f:
            f.write(text_pdf(n, 1))
    with local_client(close_timeout=3) as client:
        client.register_worker_plugin(KillWorkers(str(base / "unused"), stop_scheduler=True))
        t0 = time.monotonic()
        summary = zd.convert_many(str(inp), str(out), client=client)
        # It stops at once, not after the client's reconnection timeout.
        assert time.monotonic() - t0 < 20
    records, _ = read_log(out / "zyk-pdfa-batch.jsonl")
    files = by_rel(records, inp, out)
    assert set(files) == set(names)
    assert summary["scheduler_lost"] and summary["exit_status"] == 1 and records[-1]["interrupted"] is True
    statuses = {r["status"] for r in files.values()}
    assert statuses <= {"ok", "failed", "skipped"} and "failed" in statuses
    for rel, r in files.items():
        p = os.path.join(os.fsencode(str(out)), rel)
        if r["status"] == "ok":
            assert os.path.exists(p)
        if r["status"] == "failed":
            assert r["error"] == "the scheduler connection was lost before its result came back"
        elif r["status"] == "skipped":
            assert r["error"] == "interrupted before it started"
        # Whatever a worker finished after the loss is a whole output.
        if os.path.exists(p):
            assert zyk_out_pdfa.check(p) == 2
    assert [n for n in os.listdir(str(out)) if n.startswith(b".zyk-pdfa-".decode())] == []


@pytest.mark.parametrize("name, escaped", [
    (b"plain.pdf", b"plain.pdf"),
    (b'q"b\\s\n\r\t.pdf', b'q\\"b\\\\s\\n\\r\\t.pdf'),
    (b"\x01\x1f\x7f", b"\\u0001\\u001f\\u007f"),
    (b"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x84", b"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x84"),
    (b"caf\xe9", b"caf\\udce9"),                          # Latin-1
    (b"\xe2\x82", b"\\udce2\\udc82"),                     # cut short
    (b"\xc0\xaf", b"\\udcc0\\udcaf"),                     # overlong
    (b"\xed\xa0\x80", b"\\udced\\udca0\\udc80"),          # an encoded surrogate
    (b"\xf4\x90\x80\x80", b"\\udcf4\\udc90\\udc80\\udc80"),  # above U+10FFFF
])
def test_log_escapes_names_like_the_program(name, escaped):
    assert zd.json_escape(name) == escaped
    assert os.fsencode(json.loads(b'"' + escaped + b'"')) == name


def run_entry(*args):
    return subprocess.run([sys.executable, "-m", "zyk_out_pdfa.distributed"] + [str(a) for a in args],
                          capture_output=True, cwd=os.path.join(HERE, ".."))


def test_entry_point_on_a_running_scheduler_and_bad_folders(corpus, killing_client, tmp_path):
    base, _, ref = corpus
    inp = tmp_path / "in"
    os.makedirs(inp / "sub")
    (inp / "sub" / "one.pdf").write_bytes(text_pdf(b"one.pdf", 1))  # the same bytes as the corpus's one.pdf
    (inp / "broken.pdf").write_bytes(BROKEN[b"broken.pdf"])
    out = tmp_path / "out"
    proc = run_entry("--scheduler", killing_client.scheduler.address, "--part", "2", "-q", inp, out)
    assert proc.returncode == 3, proc.stderr  # a refusal and nothing failed: the program's status
    # -q lists what was not converted and nothing else, like the program
    # (Dask's own warnings aside).
    ours = "".join(line for line in proc.stderr.decode().splitlines(True)
                   if not re.match(r"\d{4}-\d\d-\d\d [\d:,]+ - distributed\.", line))
    assert ours == ("1 file not converted:\n  broken.pdf: no PDF objects found \u2014 not a PDF: %s\n"
                                    % os.path.join(str(inp), "broken.pdf"))
    assert (out / "sub" / "one.pdf").read_bytes() == (ref / "one.pdf").read_bytes()
    records, _ = read_log(out / "zyk-pdfa-batch.jsonl")
    # "jobs" counts the worker threads there are at the start (a killed one may still be restarting).
    assert records[0]["arguments"][1:3] == ["-m", "zyk_out_pdfa.distributed"] and records[0]["jobs"] in (1, 2)
    assert records[0]["scheduler"] == killing_client.scheduler.address
    assert [r["status"] for r in records[1:-1]] in (["refused", "ok"], ["ok", "refused"])

    # Usage errors: one line, exit status 2, nothing started or written.
    for args, words in [((inp, inp), b"are the same folder"),
                        ((inp, inp / "nested"), b"OUTPUT_DIR is inside INPUT_DIR"),
                        ((out / "sub", out), b"INPUT_DIR is inside OUTPUT_DIR"),
                        (("--scheduler", "tcp://127.0.0.1:1", "--workers", "2", inp, out), b"--workers is for"),
                        (("--workers", "0", inp, out), b"--workers takes")]:
        proc = run_entry(*args)
        assert proc.returncode == 2 and words in proc.stderr and proc.stderr.count(b"\n") == 1, (args, proc.stderr)
    assert not os.path.exists(inp / "nested")
    proc = run_entry(tmp_path / "missing", out)
    assert proc.returncode == 1 and b"cannot read folder " in proc.stderr
