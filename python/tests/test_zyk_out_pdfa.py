"""The Python interface over the real shared library.

Run with ZYK_OUT_PDFA_LIBRARY pointing at the built library and
ZYK_SAMPLE_PDF at a sample PDF (CTest sets both).
"""
import errno
import json
import os
import pickle
import socket
import subprocess
import sys
import threading

import pytest

PACKAGE_PARENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, PACKAGE_PARENT)
import zyk_out_pdfa  # noqa: E402

SAMPLE = os.environ.get("ZYK_SAMPLE_PDF", os.path.join(os.path.dirname(__file__), "..", "..", "samples", "hello.pdf"))
AS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0


def make_pdf(objects, trailer="/Root 1 0 R"):
    """A PDF text of numbered objects with a cross-reference table."""
    out = "%PDF-1.4\n"
    offsets = []
    for i, o in enumerate(objects):
        offsets.append(len(out))
        out += "%d 0 obj\n%s\nendobj\n" % (i + 1, o)
    xref = len(out)
    out += "xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += "".join("%010d 00000 n \n" % o for o in offsets)
    out += "trailer\n<< /Size %d %s >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, trailer, xref)
    return out.encode("latin-1")


PAGE_OBJECTS = ["<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>"]
ENCRYPTED = make_pdf(PAGE_OBJECTS + ["<< /Filter /Standard /V 1 >>"], "/Root 1 0 R /Encrypt 4 0 R")


class Pathish:
    """An os.PathLike that is neither str nor pathlib."""

    def __init__(self, p):
        self.p = p

    def __fspath__(self):
        return self.p


@pytest.mark.parametrize("part", [1, 2])
def test_convert_then_check(tmp_path, part):
    out = tmp_path / ("out-%d.pdf" % part)
    zyk_out_pdfa.convert(SAMPLE, out, part=part)
    assert out.read_bytes().startswith(b"%PDF-1.4")
    assert zyk_out_pdfa.check(out) == part
    assert zyk_out_pdfa.last_error() == ""


@pytest.mark.parametrize("wrap", [str, os.fsencode, Pathish, lambda p: Pathish(os.fsencode(p))],
                         ids=["str", "bytes", "pathlike-str", "pathlike-bytes"])
def test_every_function_takes_every_kind_of_path(tmp_path, wrap):
    out = tmp_path / "out.pdf"
    zyk_out_pdfa.convert(wrap(SAMPLE), wrap(str(out)))
    assert zyk_out_pdfa.check(wrap(str(out))) == 2
    assert zyk_out_pdfa.report(wrap(SAMPLE))["loaded"] is True


@pytest.mark.parametrize("bad", ["a\0b.pdf", b"a\0b.pdf", Pathish("a\0b.pdf")], ids=["str", "bytes", "pathlike"])
def test_nul_in_any_path_is_refused_before_the_library_sees_it(tmp_path, monkeypatch, bad):
    # The C interface would see only the part before the NUL: "a" here.
    (tmp_path / "a").write_bytes(b"not to be replaced")
    monkeypatch.chdir(tmp_path)
    calls = [lambda: zyk_out_pdfa.convert(bad, "out.pdf"), lambda: zyk_out_pdfa.convert(SAMPLE, bad),
             lambda: zyk_out_pdfa.check(bad), lambda: zyk_out_pdfa.report(bad)]
    for call in calls:
        with pytest.raises(ValueError, match="NUL"):
            call()
    assert (tmp_path / "a").read_bytes() == b"not to be replaced"
    assert not (tmp_path / "out.pdf").exists()


@pytest.mark.parametrize("bad", [None, 3, 2.0])
def test_non_paths_are_type_errors(bad):
    with pytest.raises(TypeError):
        zyk_out_pdfa.check(bad)


@pytest.mark.parametrize("bad", [0, 3, "2", True])
def test_convert_rejects_bad_part(tmp_path, bad):
    with pytest.raises(ValueError):
        zyk_out_pdfa.convert(SAMPLE, tmp_path / "x.pdf", part=bad)


# What each input failure raises: the class, the library's message prefix,
# and the reason the package adds (None: the library's message says it all).
INPUT_CASES = [
    ("missing", None, zyk_out_pdfa.NotFoundError, "cannot open ", os.strerror(errno.ENOENT)),
    ("folder", "dir", zyk_out_pdfa.ReadError, None, "is a folder"),
    ("empty", b"", zyk_out_pdfa.NotPdfError, "empty input file: ", "the file is empty"),
    ("text", b"hello, not a PDF at all\n", zyk_out_pdfa.NotPdfError, "no PDF objects found", None),
    ("encrypted", ENCRYPTED, zyk_out_pdfa.EncryptedError, "encrypted PDFs are not supported: ", None),
]


@pytest.mark.parametrize("name,content,cls,prefix,reason", INPUT_CASES, ids=[c[0] for c in INPUT_CASES])
@pytest.mark.parametrize("call", ["convert", "check"])
def test_input_failures_raise_typed_errors_carrying_the_path(tmp_path, name, content, cls, prefix, reason, call):
    path = tmp_path / (name + ".pdf")
    if content == "dir":
        path.mkdir()
    elif content is not None:
        path.write_bytes(content)
    out = tmp_path / "out.pdf"
    out.write_bytes(b"previous good output")
    with pytest.raises(cls) as err:
        if call == "convert":
            zyk_out_pdfa.convert(path, out)
        else:
            zyk_out_pdfa.check(path)
    e = err.value
    assert isinstance(e, zyk_out_pdfa.PdfaError)
    assert e.path is path  # the caller's own object
    if prefix is not None:
        assert e.message.startswith(prefix) and e.message.endswith(str(path))
    assert e.reason == reason
    assert str(e) == (e.message + ": " + reason if reason else e.message)
    assert out.read_bytes() == b"previous good output"


def test_not_found_is_also_a_file_not_found_error(tmp_path):
    missing = tmp_path / "missing.pdf"
    with pytest.raises(FileNotFoundError) as err:
        zyk_out_pdfa.convert(missing, tmp_path / "out.pdf")
    assert err.value.errno == errno.ENOENT and err.value.filename is missing
    assert err.value.message == "cannot open %s" % missing


@pytest.mark.skipif(AS_ROOT, reason="root reads files without permission")
def test_unreadable_input_gives_the_permission_reason(tmp_path):
    path = tmp_path / "secret.pdf"
    path.write_bytes(open(SAMPLE, "rb").read())
    path.chmod(0)
    with pytest.raises(zyk_out_pdfa.ReadError) as err:
        zyk_out_pdfa.check(path)
    assert err.value.errno == errno.EACCES and not isinstance(err.value, FileNotFoundError)


def test_write_failures_name_the_cause(tmp_path):
    cases = [
        (tmp_path / "no-such-folder" / "out.pdf", errno.ENOENT, "folder %s does not exist" % (tmp_path / "no-such-folder")),
        (tmp_path / "plain-file" / "out.pdf", errno.ENOTDIR, "%s is not a folder" % (tmp_path / "plain-file")),
        (tmp_path / "a-folder", errno.EISDIR, "is a folder"),
        (tmp_path / ("n" * 300 + ".pdf"), errno.ENAMETOOLONG, "file name longer than 255 bytes"),
    ]
    (tmp_path / "plain-file").write_bytes(b"x")
    (tmp_path / "a-folder").mkdir()
    for out, code, reason in cases:
        with pytest.raises(zyk_out_pdfa.WriteError) as err:
            zyk_out_pdfa.convert(SAMPLE, out)
        e = err.value
        assert isinstance(e, OSError) and e.errno == code, out
        assert e.path is out and e.reason == reason
        assert str(e) == "cannot write %s: %s" % (out, reason)
    assert (tmp_path / "a-folder").is_dir() and sorted(p.name for p in tmp_path.iterdir()) == ["a-folder", "plain-file"]


def make_special(path, kind):
    if kind == "fifo":
        os.mkfifo(str(path))
        # Should the library ever open the FIFO, this writer lets its read end
        # at once, so the test fails instead of hanging.
        threading.Thread(target=lambda: open(str(path), "wb").close(), daemon=True).start()
        return "a FIFO (named pipe)"
    if kind == "socket":
        sock = socket.socket(socket.AF_UNIX)
        sock.bind(str(path))
        return "a socket"
    target = path.parent / "link-target.pdf"
    target.write_bytes(b"the link's target")
    path.symlink_to(target)
    return "a symbolic link"


@pytest.mark.parametrize("kind", ["fifo", "socket"])
@pytest.mark.parametrize("call", ["convert", "check", "report"])
def test_special_files_as_input_are_refused_without_reading_them(tmp_path, kind, call):
    path = tmp_path / "in.pdf"
    words = make_special(path, kind)
    with pytest.raises(zyk_out_pdfa.ReadError) as err:
        if call == "convert":
            zyk_out_pdfa.convert(path, tmp_path / "out.pdf")
        elif call == "check":
            zyk_out_pdfa.check(path)
        else:
            zyk_out_pdfa.report(path)
    assert str(err.value) == "cannot open %s: it is %s, not a regular file" % (path, words)
    assert err.value.path is path and not (tmp_path / "out.pdf").exists()


@pytest.mark.parametrize("kind", ["fifo", "socket", "symlink"])
def test_only_a_regular_file_at_the_output_is_replaced(tmp_path, kind):
    out = tmp_path / "out.pdf"
    words = make_special(out, kind)
    before = os.lstat(str(out))
    with pytest.raises(zyk_out_pdfa.WriteError) as err:
        zyk_out_pdfa.convert(SAMPLE, out)
    assert str(err.value) == "refusing to replace %s: it is %s, not a regular file" % (out, words)
    after = os.lstat(str(out))
    assert (after.st_ino, after.st_mode) == (before.st_ino, before.st_mode)
    if kind == "symlink":
        assert (tmp_path / "link-target.pdf").read_bytes() == b"the link's target"
    assert [p for p in os.listdir(str(tmp_path)) if p.startswith(".")] == []


def test_errors_survive_pickling_for_worker_processes(tmp_path):
    with pytest.raises(zyk_out_pdfa.NotFoundError) as err:
        zyk_out_pdfa.check(tmp_path / "missing.pdf")
    back = pickle.loads(pickle.dumps(err.value))
    assert type(back) is zyk_out_pdfa.NotFoundError
    assert (back.message, back.path, back.reason, back.errno) == (err.value.message, err.value.path,
                                                                  err.value.reason, errno.ENOENT)


def test_check_plain_pdf_is_zero_even_after_an_earlier_error(tmp_path):
    with pytest.raises(zyk_out_pdfa.NotFoundError):
        zyk_out_pdfa.check(tmp_path / "nope.pdf")
    assert zyk_out_pdfa.check(SAMPLE) == 0


def test_report_is_a_dict_even_for_failed_loads(tmp_path):
    r = zyk_out_pdfa.report(SAMPLE)
    assert r["loaded"] is True
    assert r["page_count"] == 2
    bad = zyk_out_pdfa.report(tmp_path / 'odd "name".pdf')
    assert bad["loaded"] is False
    assert bad["verdict"] == "unreadable"


def test_library_found_through_environment():
    assert zyk_out_pdfa.library_path() == os.environ.get("ZYK_OUT_PDFA_LIBRARY", zyk_out_pdfa.library_path())


def test_package_is_typed():
    assert os.path.isfile(os.path.join(os.path.dirname(zyk_out_pdfa.__file__), "py.typed"))


# ---- python -m zyk_out_pdfa -------------------------------------------------

def run_module(*args, cwd=None, **env_changes):
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT, **env_changes)
    return subprocess.run([sys.executable, "-m", "zyk_out_pdfa"] + [str(a) for a in args], cwd=cwd, env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def test_module_convert_check_report(tmp_path):
    out = tmp_path / "out.pdf"
    r = run_module("convert", "--part", "1", SAMPLE, out)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    r = run_module("convert", SAMPLE, "-o", tmp_path / "out2.pdf")
    assert r.returncode == 0 and zyk_out_pdfa.check(tmp_path / "out2.pdf") == 2
    r = run_module("check", out, SAMPLE)
    assert r.returncode == 0
    assert r.stdout.decode().splitlines() == ["%s: declares PDF/A-1" % out, "%s: not declared" % SAMPLE]
    r = run_module("check", "--json", out, SAMPLE, tmp_path / "missing.pdf")
    lines = [json.loads(l) for l in r.stdout.decode().splitlines()]
    assert r.returncode == 1
    assert lines[:2] == [{"file": str(out), "status": "declared", "part": 1, "error": ""},
                         {"file": SAMPLE, "status": "not declared", "part": 0, "error": ""}]
    assert lines[2]["status"] == "error" and lines[2]["part"] == 0
    assert lines[2]["error"] == "cannot open %s: %s" % (tmp_path / "missing.pdf", os.strerror(errno.ENOENT))
    r = run_module("report", SAMPLE, out)
    assert r.returncode == 0
    # One line per file, each the library's report with only line breaks
    # and indentation taken out.
    lines = r.stdout.split(b"\n")
    assert len(lines) == 3 and lines[2] == b""
    assert [json.loads(l) for l in lines[:2]] == [zyk_out_pdfa.report(SAMPLE), zyk_out_pdfa.report(out)]
    assert lines[0].startswith(b'{"file": ') and b'"features": {"has_output_intent": ' in lines[0]
    assert r.stderr.decode().endswith("it was not validated\n")  # out declares part 1
    assert run_module("report", "-q", out).stderr == b""


def test_module_check_json_keeps_names_that_are_not_utf8(tmp_path):
    name = os.fsdecode(b"caf\xe9.pdf")  # Latin-1, not UTF-8
    with open(os.path.join(os.fsencode(str(tmp_path)), b"caf\xe9.pdf"), "wb") as f:
        f.write(open(SAMPLE, "rb").read())
    r = run_module("check", "--json", name, cwd=tmp_path)
    assert r.returncode == 0
    assert b"\\udce9" in r.stdout
    assert os.fsencode(json.loads(r.stdout)["file"]) == b"caf\xe9.pdf"


@pytest.mark.parametrize("args,status,stderr_start", [
    (["convert", "{missing}", "{out}"], 1, "python -m zyk_out_pdfa: cannot open "),
    (["convert", "{encrypted}", "{out}"], 3, "python -m zyk_out_pdfa: encrypted PDFs are not supported: "),
    (["convert", "{text}", "{out}"], 3, "python -m zyk_out_pdfa: no PDF objects found"),
    (["check", "{encrypted}"], 3, ""),
    (["check", "{encrypted}", "{missing}"], 1, ""),
    (["report", "{missing}"], 1, "python -m zyk_out_pdfa: {missing}: cannot open "),
    (["report", "{fifo}"], 1, "python -m zyk_out_pdfa: {fifo}: cannot open {fifo}: it is a FIFO"),
    (["report", "{encrypted}"], 3, "python -m zyk_out_pdfa: {encrypted}: encrypted PDFs are not supported"),
    (["convert", "{sample}"], 2, "python -m zyk_out_pdfa convert: convert takes INPUT and OUTPUT"),
    (["convert", "--part", "3", "{sample}", "{out}"], 2, "python -m zyk_out_pdfa convert: argument --part"),
    (["check"], 2, "python -m zyk_out_pdfa check: "),
    (["frobnicate"], 2, "python -m zyk_out_pdfa: "),
])
def test_module_exit_status(tmp_path, args, status, stderr_start):
    (tmp_path / "enc.pdf").write_bytes(ENCRYPTED)
    (tmp_path / "text.pdf").write_bytes(b"plain words\n")
    make_special(tmp_path / "fifo.pdf", "fifo")
    names = {"fifo": tmp_path / "fifo.pdf", "missing": tmp_path / "missing.pdf", "encrypted": tmp_path / "enc.pdf", "text": tmp_path / "text.pdf",
             "out": tmp_path / "out.pdf", "sample": SAMPLE}
    r = run_module(*[a.format(**names) for a in args])
    assert r.returncode == status, r.stderr
    assert r.stderr.decode().startswith(stderr_start.format(**names))
    if status == 2:  # a usage error is one line pointing at --help
        assert r.stderr.count(b"\n") == 1 and b"--help" in r.stderr
    assert not (tmp_path / "out.pdf").exists()


def test_module_double_dash_ends_options(tmp_path):
    odd = tmp_path / "-v.pdf"
    odd.write_bytes(open(SAMPLE, "rb").read())
    r = run_module("convert", "--", "-v.pdf", "-o.pdf", cwd=tmp_path)
    assert r.returncode == 0, r.stderr
    assert zyk_out_pdfa.check(tmp_path / "-o.pdf") == 2


def test_module_without_its_library_says_so_in_one_line(tmp_path):
    r = run_module("check", SAMPLE, ZYK_OUT_PDFA_LIBRARY=str(tmp_path / "nowhere.so"))
    assert r.returncode == 1 and r.stdout == b""
    assert r.stderr.startswith(b"python -m zyk_out_pdfa: cannot load the zyk_out_pdfa library") and r.stderr.count(b"\n") == 1
