"""Folder batches on a Dask cluster: `zyk-pdfa batch` beyond one machine.

    from distributed import Client
    from zyk_out_pdfa.distributed import convert_many
    summary = convert_many("in", "out", part=2, client=Client("tcp://sched:8786"))

or `python -m zyk_out_pdfa.distributed [--scheduler ADDRESS] INPUT_DIR OUTPUT_DIR`.

The folder is walked here, in the calling process, exactly as `zyk-pdfa
batch` walks it (names as bytes, sorted, links followed for reading only),
and every PDF becomes one task. A task does on its worker what the batch
program does around one conversion: checks the output path, creates the
mirrored folders, converts into a staging folder beside the output and
renames the finished file over the output. The log records are the
program's, byte for byte, because tools read both logs alike; the README
describes them. Inputs and outputs must be paths that every worker sees
under the same name (a shared file system).

Faults. A worker that dies mid-file leaves only its staging folder, whose
name is known from the run and the file (`.zyk-pdfa-RUN-N-1`, then `-2`).
The scheduler gives the task of a dead worker to another worker; the task
finds the first folder there, removes it and converts once more in the
second. Finding the second as well means the file killed two workers:
it is logged as failed and not tried again. A lost scheduler connection
stops the run; what finished is logged, the rest is logged as not done.

Every worker process loads the library once (the package's handle) and
takes the package's lock around each library call, so threads of one
worker never run two conversions at once: start workers with one thread
each and as many processes as the machine has cores.

This module needs Debian's python3-dask and python3-distributed; the rest
of the package does not.
"""

import argparse
import ctypes
import errno as _errno
import os
import stat
import sys
import time
import uuid
from typing import Any, Dict, List, Optional, Sequence, Tuple

from . import PathArg, __version__, _load, _lock

__all__ = ["convert_many", "main"]

PROG = "python -m zyk_out_pdfa.distributed"
EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_REFUSED, EXIT_INTERRUPTED = 0, 1, 2, 3, 130

# The largest input the library reads.
_MAX_INPUT = 0x7FFFFFFF
# How long a finished task's result may take to arrive before the
# scheduler counts as lost (results are a few dozen bytes).
_RESULT_TIMEOUT = 120

# The reason logged for a file whose conversion killed two workers.
DIED_TWICE = ("the conversion stopped: its worker died twice (killed, or out of memory), "
              "the second time on another worker")


# ---- texts shared with the batch program ------------------------------------
# Every message below is the batch program's own text: logs of both are
# read by the same tools, and users compare them.

def _strerror(e: int) -> bytes:
    return os.fsencode(os.strerror(e))


_KINDS = ((stat.S_ISDIR, b"a folder"), (stat.S_ISLNK, b"a symbolic link"), (stat.S_ISFIFO, b"a FIFO (named pipe)"),
          (stat.S_ISSOCK, b"a socket"), (stat.S_ISCHR, b"a character device"), (stat.S_ISBLK, b"a block device"),
          (stat.S_ISREG, b"a regular file"))


def _kind(mode: int) -> bytes:
    for test, words in _KINDS:
        if test(mode):
            return words
    return b"not a regular file"


def _utf8_length(s: bytes, i: int) -> int:
    """Length of the strict UTF-8 sequence at s[i] (shortest form, no
    surrogates, nothing above U+10FFFF), or 0."""
    c = s[i]
    lo, hi = 0x80, 0xBF
    if 0xC2 <= c <= 0xDF:
        n = 2
    elif 0xE0 <= c <= 0xEF:
        n = 3
        if c == 0xE0:
            lo = 0xA0
        if c == 0xED:
            hi = 0x9F
    elif 0xF0 <= c <= 0xF4:
        n = 4
        if c == 0xF0:
            lo = 0x90
        if c == 0xF4:
            hi = 0x8F
    else:
        return 0
    if i + n > len(s) or not lo <= s[i + 1] <= hi:
        return 0
    if any(not 0x80 <= s[i + k] <= 0xBF for k in range(2, n)):
        return 0
    return n


_SHORT_ESCAPES = {0x22: b'\\"', 0x5C: b"\\\\", 0x0A: b"\\n", 0x0D: b"\\r", 0x09: b"\\t"}


def json_escape(s: bytes) -> bytes:
    """A JSON string body for bytes: valid UTF-8 stays as it is, every other
    byte becomes \\udc80..\\udcff (Python's surrogateescape convention), so
    os.fsencode() of the parsed text gives back the exact bytes."""
    if s.isascii() and not any(c < 0x20 or c in (0x22, 0x5C, 0x7F) for c in s):
        return s
    out = bytearray()
    i = 0
    while i < len(s):
        c = s[i]
        if c >= 0x80:
            n = _utf8_length(s, i)
            if n:
                out += s[i:i + n]
                i += n
            else:
                out += b"\\udc%02x" % c
                i += 1
            continue
        if c in _SHORT_ESCAPES:
            out += _SHORT_ESCAPES[c]
        elif c < 0x20 or c == 0x7F:
            out += b"\\u%04x" % c
        else:
            out.append(c)
        i += 1
    return bytes(out)


def _record(inp: bytes, out: bytes, status: str, error: bytes, pages: int, seconds: float) -> bytes:
    return b'{"input": "%s", "output": "%s", "status": "%s", "error": "%s", "pages": %d, "seconds": %s}\n' % (
        json_escape(inp), json_escape(out), status.encode(), json_escape(error), pages, b"%.3f" % seconds)


def _utc_now() -> bytes:
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()).encode()


def _is_refusal(msg: bytes) -> bool:
    return msg.startswith((b"encrypted PDFs are not supported", b"no PDF objects found"))


def _shown(s: bytes) -> str:
    """A name for the terminal: control characters are shown as '?'."""
    return bytes(b if b >= 0x20 and b != 0x7F else 0x3F for b in s).decode("utf-8", "replace")


# ---- the walk (in the calling process) ---------------------------------------

class _Entry:
    __slots__ = ("input", "rel", "output", "status", "error")

    def __init__(self, inp: bytes, rel: bytes, output: bytes = b"", status: str = "", error: bytes = b""):
        self.input, self.rel, self.output, self.status, self.error = inp, rel, output, status, error


def _same_file(a: os.stat_result, b: os.stat_result) -> bool:
    return a.st_dev == b.st_dev and a.st_ino == b.st_ino


def _link_target(path: bytes) -> bytes:
    try:
        return os.readlink(path)
    except OSError:
        return b"?"


class _Walker:
    """Lists every entry under the input folder as the batch program does:
    names sorted as bytes, a link to a folder followed unless it loops or is
    the output folder, a link to a file converted under the link's name."""

    def __init__(self, out_root: bytes, out_st: os.stat_result):
        self.out_root, self.out_st = out_root, out_st
        self.entries: List[_Entry] = []
        self.ancestors: List[os.stat_result] = []

    def walk(self, d: bytes, rel: bytes, dir_st: os.stat_result) -> None:
        self.ancestors.append(dir_st)
        try:
            names = sorted(os.listdir(d))
        except OSError as e:
            self.entries.append(_Entry(d, rel, status="failed", error=b"cannot read folder: " + _strerror(e.errno)))
            self.ancestors.pop()
            return
        for name in names:
            self.visit(d + b"/" + name, rel + b"/" + name if rel else name, name)
        self.ancestors.pop()

    def visit(self, path: bytes, rel: bytes, name: bytes) -> None:
        add = self.entries.append
        try:
            st = os.lstat(path)
        except OSError as e:
            add(_Entry(path, rel, status="failed", error=b"cannot examine: " + _strerror(e.errno)))
            return
        if stat.S_ISLNK(st.st_mode):
            try:
                st = os.stat(path)
            except OSError as e:
                if e.errno == _errno.ELOOP:
                    add(_Entry(path, rel, status="skipped", error=b"symlink loop: " + _strerror(e.errno)))
                elif e.errno == _errno.ENOENT:
                    add(_Entry(path, rel, status="failed", error=b"broken symbolic link to " + _link_target(path)))
                else:
                    add(_Entry(path, rel, status="failed", error=b"cannot follow symbolic link to " +
                               _link_target(path) + b": " + _strerror(e.errno)))
                return
        if stat.S_ISDIR(st.st_mode):
            if _same_file(st, self.out_st):
                add(_Entry(path, rel, status="skipped", error=b"the output folder (left out of the walk)"))
                return
            if any(_same_file(a, st) for a in self.ancestors):
                add(_Entry(path, rel, status="skipped", error=b"symlink loop: links to a folder that contains it"))
                return
            self.walk(path, rel, st)
            return
        if not stat.S_ISREG(st.st_mode):
            add(_Entry(path, rel, status="ignored", error=b"not a regular file: it is " + _kind(st.st_mode)))
            return
        if len(name) < 5 or name[-4:].lower() != b".pdf":
            add(_Entry(path, rel, status="ignored", error=b"not a PDF by name"))
            return
        add(_Entry(path, rel, self.out_root + b"/" + rel))


# ---- one file (on a worker) ----------------------------------------------------

_lib_errno = None  # this process's handle on the library, with errno kept


def _library() -> ctypes.CDLL:
    """The library, loaded once per process. It is the package's library
    (same file, same state, same lock); this handle only adds errno, which
    names the cause of a failed write as the batch program does."""
    global _lib_errno
    if _lib_errno is None:
        _load()
        from . import library_path
        lib = ctypes.CDLL(library_path(), use_errno=True)
        for name in ("pdfa_convert_1b", "pdfa_convert_2b"):
            fn = getattr(lib, name)
            fn.restype = ctypes.c_int
            fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.pdfa_last_error.restype = ctypes.c_char_p
        lib.pdfa_last_error.argtypes = []
        lib.pdfa_report.restype = ctypes.c_char_p
        lib.pdfa_report.argtypes = [ctypes.c_char_p]
        _lib_errno = lib
    return _lib_errno


def _write_reason(e: int) -> bytes:
    if e == _errno.EFBIG:
        try:
            import resource
            cur = resource.getrlimit(resource.RLIMIT_FSIZE)[0]
            if cur != resource.RLIM_INFINITY:
                return _strerror(e) + b" (the file size limit is %d bytes, see ulimit -f)" % cur
        except (ImportError, OSError, ValueError):
            pass
    return _strerror(e) if e else b""


def _run_library(inp: bytes, staged: bytes, part: int) -> Tuple[bool, int, bytes]:
    """Converts `inp` into `staged`: (True, pages, b"") or (False, 0, the
    library's message with the write failure's cause)."""
    lib = _library()
    fn = lib.pdfa_convert_1b if part == 1 else lib.pdfa_convert_2b
    with _lock:
        ctypes.set_errno(0)
        ok = fn(inp, staged)
        e = ctypes.get_errno()
        if ok == 1:
            report = lib.pdfa_report(staged) or b""
            k = report.find(b'"page_count": ')
            digits = b""
            if k >= 0:
                rest = report[k + 14:]
                n = 0
                while n < len(rest) and (rest[n:n + 1].isdigit() or (n == 0 and rest[:1] in b"+-")):
                    n += 1
                digits = rest[:n]
            try:
                pages = int(digits)
            except ValueError:
                pages = 0
            return True, pages, b""
        msg = lib.pdfa_last_error() or b""
    if msg.startswith((b"short write to ", b"close error on ", b"cannot write ")):
        why = _write_reason(e)
        if why:
            msg += b": " + why
    return False, 0, msg


def _explain_input_failure(msg: bytes, inp: bytes) -> bytes:
    if not msg.startswith((b"cannot open ", b"read error on ", b"empty input file")):
        return msg
    try:
        st = os.stat(inp)
    except OSError as e:
        return msg + b": " + _strerror(e.errno)
    if stat.S_ISDIR(st.st_mode):
        return msg + b": it is a folder, not a file"
    if not stat.S_ISREG(st.st_mode):
        return msg + b": it is " + _kind(st.st_mode)
    if st.st_size > _MAX_INPUT:
        return msg + b": it has %d bytes; files of 2 GiB or more are not supported" % st.st_size
    if st.st_size == 0:
        return msg
    try:
        os.close(os.open(inp, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK))
    except OSError as e:
        return msg + b": " + _strerror(e.errno)
    return msg


_libc = None


def _access_errno(path: bytes, mode: int) -> int:
    """access(2)'s errno (EACCES, EROFS, ...), or 0 when access is granted;
    os.access() tells only yes or no."""
    global _libc
    if _libc is None:
        _libc = ctypes.CDLL(None, use_errno=True)
        _libc.access.argtypes = [ctypes.c_char_p, ctypes.c_int]
        _libc.access.restype = ctypes.c_int
    ctypes.set_errno(0)
    if _libc.access(path, mode) == 0:
        return 0
    return ctypes.get_errno() or _errno.EACCES


def _parent_of(path: bytes) -> bytes:
    slash = path.rfind(b"/")
    return b"." if slash < 0 else b"/" if slash == 0 else path[:slash]


def _check_output_path(out: bytes, inp: Optional[os.stat_result], replace_input: bool) -> bytes:
    """b"" when `out` may be replaced (nothing there, or a regular file that
    is not the input), else the refusal."""
    try:
        st = os.lstat(out)
    except OSError as e:
        if e.errno != _errno.ENOENT:
            return b"cannot write " + out + b": " + _strerror(e.errno)
    else:
        if stat.S_ISDIR(st.st_mode):
            return b"cannot write " + out + b": it is a folder"
        if not stat.S_ISREG(st.st_mode):
            return b"refusing to replace " + out + b": it is " + _kind(st.st_mode) + b", not a regular file"
        if inp is not None and _same_file(st, inp) and not replace_input:
            return (b"refusing to replace " + out +
                    b": it is the input file itself (use --replace-input to allow it)")
        return b""
    d = _parent_of(out)
    try:
        ds = os.stat(d)
    except OSError as e:
        return b"cannot write " + out + b": " + (b"folder " + d + b" does not exist" if e.errno == _errno.ENOENT
                                                 else _strerror(e.errno))
    if not stat.S_ISDIR(ds.st_mode):
        return b"cannot write " + out + b": " + d + b" is not a folder"
    e = _access_errno(d, os.W_OK | os.X_OK)
    if e:
        return b"cannot write " + out + b": " + _strerror(e) + b" (folder " + d + b")"
    return b""


def _make_mirrored_folders(root: bytes, rel_dir: bytes, out: bytes) -> bytes:
    """Creates the folders of `rel_dir` under `root` one at a time, never
    following a symbolic link; b"" or the failure."""
    path = root
    for part in rel_dir.split(b"/"):
        path += b"/" + part
        try:
            st = os.lstat(path)
        except OSError as e:
            if e.errno != _errno.ENOENT:
                return b"cannot write " + out + b": cannot create folder " + path + b": " + _strerror(e.errno)
            try:
                os.mkdir(path)
            except FileExistsError:
                pass
            except OSError as e2:
                return b"cannot write " + out + b": cannot create folder " + path + b": " + _strerror(e2.errno)
            try:
                st = os.lstat(path)
            except OSError as e3:
                return b"cannot write " + out + b": cannot create folder " + path + b": " + _strerror(e3.errno)
        if stat.S_ISLNK(st.st_mode):
            return (b"refusing to write " + out + b": " + path +
                    b" is a symbolic link (links inside the output folder are not followed)")
        if not stat.S_ISDIR(st.st_mode):
            return b"cannot write " + out + b": " + path + b" is " + _kind(st.st_mode) + b", not a folder"
    return b""


def _remove_staging(d: bytes, keep_folder: bool = False) -> None:
    try:
        names = os.listdir(d)
    except OSError:
        names = []
    for name in names:
        try:
            os.unlink(d + b"/" + name)
        except OSError:
            pass
    if keep_folder:
        return
    try:
        os.rmdir(d)
    except OSError:
        pass


def staging_folders(output: bytes, tag: str) -> Tuple[bytes, bytes]:
    """The two staging folders of a file: first try, retry."""
    base = _parent_of(output) + b"/.zyk-pdfa-" + tag.encode()
    return base + b"-1", base + b"-2"


def convert_one(inp: bytes, rel: bytes, output: bytes, out_root: bytes, part: int, skip_existing: bool,
                replace_input: bool, tag: str) -> Tuple[str, bytes, int, float]:
    """One file, on a worker: (status, error, pages, seconds) as the batch
    program logs them. Only the final rename touches `output`."""
    try:
        st: Optional[os.stat_result] = os.stat(inp)
    except OSError:
        st = None  # gone since the walk: the library says so below
    if st is not None and st.st_size > _MAX_INPUT:
        return ("failed", b"cannot open " + inp + b": it has %d bytes; files of 2 GiB or more are not supported"
                % st.st_size, 0, 0.0)
    if skip_existing and st is not None:
        try:
            ost = os.lstat(output)
            if stat.S_ISREG(ost.st_mode) and ost.st_mtime_ns > st.st_mtime_ns:
                return "skipped", b"output is newer than the input (--skip-existing)", 0, 0.0
        except OSError:
            pass
    slash = rel.rfind(b"/")
    err = _make_mirrored_folders(out_root, rel[:slash], output) if slash >= 0 else b""
    if not err:
        err = _check_output_path(output, st, replace_input)
    if err:
        return "failed", err, 0, 0.0

    # The first folder left behind means a worker died converting this
    # file: it stays (emptied) as the mark of that attempt while the second
    # is tried. The second one there means a second worker died on it: it
    # stays, empty, as the verdict for any later run of the same task (the
    # scheduler computes a task again when the worker holding its result
    # dies), and the caller removes it at the end of the run.
    first, second = staging_folders(output, tag)
    if os.path.lexists(second):
        _remove_staging(second, keep_folder=True)
        _remove_staging(first)
        return "failed", DIED_TWICE.encode(), 0, 0.0
    try:
        os.mkdir(first, 0o700)
        staging, marks = first, []
    except FileExistsError:
        _remove_staging(first, keep_folder=True)
        try:
            os.mkdir(second, 0o700)
            staging, marks = second, [first]
        except FileExistsError:
            _remove_staging(first)
            return "failed", DIED_TWICE.encode(), 0, 0.0
        except OSError as e:
            _remove_staging(first)
            return "failed", b"cannot write " + output + b": " + _strerror(e.errno), 0, 0.0
    except OSError as e:
        return "failed", b"cannot write " + output + b": " + _strerror(e.errno), 0, 0.0

    staged = staging + b"/out.pdf"
    t0 = time.monotonic()
    try:
        ok, pages, msg = _run_library(inp, staged, part)
        seconds = time.monotonic() - t0
        if ok:
            err = _check_output_path(output, st, replace_input)
            if not err:
                try:
                    os.rename(staged, output)
                    return "ok", b"", pages, seconds
                except OSError as e:
                    err = b"cannot write " + output + b": " + _strerror(e.errno)
            return "failed", err, 0, seconds
        msg = _explain_input_failure(msg, inp).replace(staged, output)
        return ("refused" if _is_refusal(msg) else "failed"), msg, 0, seconds
    finally:
        for d in [staging] + marks:
            _remove_staging(d)


# ---- the run (in the calling process) --------------------------------------------

class _Progress:
    """The batch program's progress: a bar on a terminal, a line for each
    problem (or each file with `verbose`) otherwise."""

    def __init__(self, total: int, quiet: bool, verbose: bool, silent: bool = False):
        self.total, self.quiet, self.verbose, self.silent = total, quiet, verbose, silent
        self.tty = sys.stderr.isatty()
        self.start = time.monotonic()
        self.drawn = False

    def _percent(self, done: int) -> int:
        return 100 * done // self.total if self.total else 100

    def _clear(self) -> None:
        if self.drawn:
            sys.stderr.write("\r\033[K")

    def say(self, msg: str) -> None:
        if self.silent:
            return
        self._clear()
        self.drawn = False
        sys.stderr.write("%s: %s\n" % (PROG, msg))
        sys.stderr.flush()

    def update(self, e: _Entry, done: int, failed: int) -> None:
        if self.quiet:
            return
        bad = e.status in ("failed", "refused")
        if not self.tty or self.verbose or bad:
            self._clear()
            self.drawn = False
            word = {"ok": "ok     ", "skipped": "skipped", "failed": "FAILED ", "refused": "REFUSED"}.get(e.status, "       ")
            tail = "" if e.status == "ok" else ": " + _shown(e.error)
            sys.stderr.write("[%3d%% %d/%d] %s %s%s\n" % (self._percent(done), done, self.total, word,
                                                         _shown(e.rel), tail))
        if self.tty:
            width = 24
            filled = width * done // self.total if self.total else width
            elapsed = time.monotonic() - self.start
            rate = done / elapsed if elapsed > 0 else 0.0
            eta = ""
            if rate > 0 and done < self.total:
                t = int((self.total - done) / rate + 0.5)
                eta = "ETA %d:%02d:%02d" % (t // 3600, t // 60 % 60, t % 60) if t >= 3600 else \
                    "ETA %d:%02d" % (t // 60, t % 60)
            sys.stderr.write("\r\033[K[%s%s] %3d%% %d/%d files, %d failed, %.1f files/s %s" % (
                "#" * filled, "." * (width - filled), self._percent(done), done, self.total, failed, rate, eta))
            self.drawn = True
        sys.stderr.flush()

    def finish(self) -> None:
        if self.drawn:
            sys.stderr.write("\n")
            sys.stderr.flush()
        self.drawn = False


def _inside(a: str, b: str) -> bool:
    """a is b or below it (both absolute and normalised)."""
    pa, pb = [x for x in a.split(os.sep) if x], [x for x in b.split(os.sep) if x]
    return pa[:len(pb)] == pb


def _open_log(path: bytes):
    try:
        st = os.lstat(path)
        if not stat.S_ISREG(st.st_mode):
            raise OSError(_errno.EINVAL, "cannot write log %s: it is %s, not a regular file" % (
                os.fsdecode(path), _kind(st.st_mode).decode()))
    except FileNotFoundError:
        pass
    try:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC,
                     0o666)
    except OSError as e:
        raise OSError(e.errno, "cannot write log %s: %s" % (os.fsdecode(path), os.strerror(e.errno))) from None
    return os.fdopen(fd, "ab", buffering=0)


class UsageError(ValueError):
    """convert_many was given folders it must not work on (the same folder,
    one inside the other); the batch program's usage errors."""


def _prepare_folders(in_dir: bytes, out_dir: bytes, allow_nested: bool) -> Tuple[os.stat_result, os.stat_result]:
    try:
        in_st = os.stat(in_dir)
    except OSError as e:
        raise OSError(e.errno, "cannot read folder %s: %s" % (os.fsdecode(in_dir), os.strerror(e.errno))) from None
    if not stat.S_ISDIR(in_st.st_mode):
        raise NotADirectoryError(_errno.ENOTDIR, "not a folder: %s (it is %s)" % (
            os.fsdecode(in_dir), _kind(in_st.st_mode).decode()))
    cin = os.path.realpath(os.fsdecode(in_dir))
    cout = os.path.realpath(os.path.abspath(os.fsdecode(out_dir)))
    if _inside(cin, cout) and _inside(cout, cin):
        raise UsageError("INPUT_DIR and OUTPUT_DIR are the same folder: every input would be replaced")
    if _inside(cin, cout):
        raise UsageError("INPUT_DIR is inside OUTPUT_DIR: outputs could replace inputs; choose another OUTPUT_DIR")
    if _inside(cout, cin) and not allow_nested:
        raise UsageError("OUTPUT_DIR is inside INPUT_DIR; --allow-nested converts with it left out of the walk")
    try:
        os.makedirs(out_dir, exist_ok=True)
        out_st = os.stat(out_dir)
        if not stat.S_ISDIR(out_st.st_mode):
            raise NotADirectoryError(_errno.ENOTDIR, _kind(out_st.st_mode).decode())
    except OSError as e:
        raise OSError(e.errno, "cannot create folder %s: %s" % (os.fsdecode(out_dir), e.strerror)) from None
    if _same_file(in_st, out_st):
        raise UsageError("INPUT_DIR and OUTPUT_DIR are the same folder: every input would be replaced")
    return in_st, out_st


def _strip_slashes(p: bytes) -> bytes:
    while len(p) > 1 and p.endswith(b"/"):
        p = p[:-1]
    return p


def convert_many(inputs: PathArg, output_dir: PathArg, part: int = 2, client: Any = None,
                 skip_existing: bool = False, log: Optional[PathArg] = None, *, allow_nested: bool = False,
                 replace_input: bool = False, quiet: Optional[bool] = None, verbose: bool = False,
                 n_workers: Optional[int] = None, arguments: Optional[Sequence[str]] = None) -> Dict[str, Any]:
    """Converts every PDF under the folder `inputs` into the same relative
    path under `output_dir`, one Dask task per file, and appends the batch
    log (default OUTPUT_DIR/zyk-pdfa-batch.jsonl).

    `client` is a distributed.Client; without one a LocalCluster of
    `n_workers` single-threaded worker processes (default: one per core)
    is started and closed again. Nothing is printed unless `quiet` is
    given: False shows the batch program's progress and summary on
    standard error, True only its list of files not converted.
    The other options are those of `zyk-pdfa batch`. Returns the summary:
    the counts by status, pages, seconds, interrupted, exit_status (the
    batch program's: 0, 1 failed, 3 refused, 130 interrupted) and log.
    Raises UsageError for overlapping folders and OSError when a folder or
    the log cannot be used; nothing is converted then.
    """
    if part not in (1, 2) or isinstance(part, bool):
        raise ValueError("part must be 1 or 2")
    in_dir = _strip_slashes(os.fsencode(inputs))
    out_dir = _strip_slashes(os.fsencode(output_dir))
    if not in_dir or not out_dir:
        raise ValueError("the folders must not be empty paths")
    in_st, out_st = _prepare_folders(in_dir, out_dir, allow_nested)
    log_path = os.fsencode(log) if log is not None else out_dir + b"/zyk-pdfa-batch.jsonl"
    logf = _open_log(log_path)
    own_cluster = None
    try:
        if client is None:
            from distributed import Client, LocalCluster
            own_cluster = LocalCluster(n_workers=n_workers or os.cpu_count() or 1, threads_per_worker=1,
                                       processes=True, dashboard_address=":0")
            client = Client(own_cluster)
        return _Run(client, logf, log_path, in_dir, out_dir, in_st, out_st, part, skip_existing, replace_input,
                    quiet, verbose, list(sys.argv if arguments is None else arguments)).run()
    finally:
        logf.close()
        if own_cluster is not None:
            client.close()
            own_cluster.close()


class _Run:
    def __init__(self, client, logf, log_path: bytes, in_dir: bytes, out_dir: bytes, in_st, out_st, part: int,
                 skip_existing: bool, replace_input: bool, quiet: bool, verbose: bool, arguments: List[str]):
        self.client, self.logf, self.log_path = client, logf, log_path
        self.in_dir, self.out_dir, self.in_st, self.out_st = in_dir, out_dir, in_st, out_st
        self.part, self.skip_existing, self.replace_input = part, skip_existing, replace_input
        self.quiet, self.verbose, self.arguments = quiet, verbose, arguments
        self.counts = {"ok": 0, "failed": 0, "refused": 0, "skipped": 0, "ignored": 0}
        self.pages = 0
        self.done = 0
        self.not_started = 0
        self.problems: List[_Entry] = []
        self.progress: Optional[_Progress] = None

    def finish(self, e: _Entry, pages: int = 0, seconds: float = 0.0, counted: bool = True) -> None:
        self.logf.write(_record(e.input, e.output, e.status, e.error, pages, seconds))
        self.counts[e.status if e.status in self.counts else "ignored"] += 1
        if e.status == "ok":
            self.pages += pages
        if e.status in ("failed", "refused"):
            self.problems.append(e)
        if counted:
            self.done += 1
            if self.progress:
                self.progress.update(e, self.done, self.counts["failed"] + self.counts["refused"])
        elif e.status == "failed" and self.quiet is False:
            sys.stderr.write("%s: %s: %s\n" % (PROG, _shown(e.rel or e.input), _shown(e.error)))

    def run(self) -> Dict[str, Any]:
        from distributed import as_completed
        from distributed.scheduler import KilledWorker

        client = self.client
        threads = sum(client.nthreads().values())
        address = getattr(client.scheduler, "address", "") or ""
        args = b", ".join(b'"%s"' % json_escape(os.fsencode(a)) for a in self.arguments)
        self.logf.write(b'{"run": "start", "time": "%s", "version": "%s", "arguments": [%s], "input_dir": "%s", '
                        b'"output_dir": "%s", "part": %d, "jobs": %d, "skip_existing": %s, "scheduler": "%s"}\n' % (
                            _utc_now(), __version__.encode(), args, json_escape(self.in_dir),
                            json_escape(self.out_dir), self.part, threads,
                            b"true" if self.skip_existing else b"false", json_escape(os.fsencode(address))))
        t0 = time.monotonic()
        walker = _Walker(self.out_dir, self.out_st)
        walker.walk(self.in_dir, b"", self.in_st)
        queue = []
        for e in walker.entries:
            if e.status:
                self.finish(e, counted=False)
            else:
                queue.append(e)
        self.progress = _Progress(len(queue), self.quiet is not False, self.verbose, silent=self.quiet is None)

        run_id = uuid.uuid4().hex[:12]
        # A bounded number of tasks in flight keeps the scheduler's memory
        # and the cost of a stop small, whatever the size of the folder.
        window = max(64, 4 * threads)
        pending: Dict[Any, Tuple[_Entry, str]] = {}
        ac = as_completed()
        nxt = 0
        interrupts = 0
        lost = False
        died: List[Tuple[_Entry, str]] = []

        def submit_more() -> None:
            # One call for all the tasks a finished batch made room for:
            # each call is a round trip to the scheduler.
            nonlocal nxt
            end = min(len(queue), nxt + window - len(pending))
            if end <= nxt:
                return
            tags = ["%s-%d" % (run_id, k) for k in range(nxt, end)]
            entries = queue[nxt:end]
            futs = client.map(convert_one, [e.input for e in entries], [e.rel for e in entries],
                              [e.output for e in entries], [self.out_dir] * len(entries),
                              [self.part] * len(entries), [self.skip_existing] * len(entries),
                              [self.replace_input] * len(entries), tags,
                              key=["zyk-pdfa-" + t for t in tags], pure=False)
            for fut, e, tag in zip(futs, entries, tags):
                pending[fut] = (e, tag)
            ac.update(futs)
            nxt = end

        def take(fut, result) -> bool:
            """Logs one completed task; False when the scheduler is lost."""
            e, tag = pending[fut]
            if result is None and fut.status == "finished":
                try:
                    result = fut.result(timeout=_RESULT_TIMEOUT)
                except Exception:  # its worker died before the result was fetched, or the scheduler is gone
                    result = None
            if result is None and fut.status in ("pending", "lost", "processing", "waiting"):
                # The result died with its worker; the scheduler computes
                # it again (the output is the same file).
                ac.add(fut)
                return True
            if fut.status == "cancelled" or (fut.status == "finished" and result is None):
                # Nothing here cancels a task before a second Ctrl-C: the
                # client cancels them all when it loses the scheduler.
                return False
            del pending[fut]
            if result is not None:
                e.status, e.error, pages, seconds = result
                if e.error == DIED_TWICE.encode():
                    died.append((e, tag))
                self.finish(e, pages, seconds)
                return True
            exc = fut.exception()
            if isinstance(exc, KilledWorker):
                e.error = (b"the conversion stopped: its worker died (killed, or out of memory) and the "
                           b"scheduler gave up on it")
            else:
                e.error = b"the conversion stopped: " + os.fsencode("%s: %s" % (type(exc).__name__, exc))
            e.status = "failed"
            died.append((e, tag))
            self.finish(e)
            return True

        try:
            submit_more()
            while pending and not lost:
                try:
                    batch = ac.next_batch(block=True)
                except KeyboardInterrupt:
                    interrupts += 1
                    if interrupts >= 2:
                        break
                    self.progress.say("interrupt: starting no more conversions; waiting for the %d submitted "
                                      "(Ctrl-C again stops waiting)" % len(pending))
                    continue
                # The results of a batch come in one gather; should that
                # fail, take() fetches them one at a time and finds out why.
                finished = [f for f in batch if f.status == "finished"]
                results: Dict[Any, Any] = {}
                if finished:
                    try:
                        results = dict(zip(finished, client.gather(finished)))
                    except Exception:
                        results = {}
                for fut in batch:
                    if fut in pending and not take(fut, results.get(fut)):
                        lost = True
                if not interrupts and not lost:
                    submit_more()
        except KeyboardInterrupt:
            interrupts = max(interrupts, 2)
        # What dead workers left: staging folders whose names are known.
        # Workers that lost the scheduler stop too.
        for e, tag in died + (list(pending.values()) if lost else []):
            for d in staging_folders(e.output, tag):
                _remove_staging(d)
        if lost:
            self.progress.say("the scheduler connection was lost: stopping; %d conversion%s had not reported "
                              "back" % (len(pending), "" if len(pending) == 1 else "s"))
        elif interrupts >= 2 and pending:
            try:
                client.cancel(list(pending))
            except Exception:  # the connection may be gone too; the log below is what counts
                pass
        for fut, (e, tag) in pending.items():
            e.status = "failed" if lost else "skipped"
            e.error = (b"the scheduler connection was lost before its result came back" if lost else
                       b"interrupted while converting: cancelled; a worker already converting it may still "
                       b"write the complete output")
            self.finish(e)
        for k in range(nxt, len(queue)):
            e = queue[k]
            e.status = "skipped"
            e.error = b"interrupted before it started"
            self.not_started += 1
            self.finish(e, counted=False)
        self.progress.finish()
        interrupted = bool(interrupts) or lost
        c = self.counts
        if lost:
            status = EXIT_FAILED
        elif interrupts:
            status = EXIT_INTERRUPTED
        else:
            status = EXIT_FAILED if c["failed"] else EXIT_REFUSED if c["refused"] else EXIT_OK
        elapsed = time.monotonic() - t0
        self.logf.write(b'{"run": "end", "time": "%s", "seconds": %s, "ok": %d, "failed": %d, "refused": %d, '
                        b'"skipped": %d, "ignored": %d, "pages": %d, "interrupted": %s, "exit_status": %d}\n' % (
                            _utc_now(), b"%.3f" % elapsed, c["ok"], c["failed"], c["refused"], c["skipped"],
                            c["ignored"], self.pages, b"true" if interrupted else b"false", status))
        if self.quiet is not None:
            self.summary(elapsed, interrupted, status)
        summary: Dict[str, Any] = dict(c)
        summary.update(pages=self.pages, seconds=elapsed, interrupted=interrupted, exit_status=status,
                       log=os.fsdecode(self.log_path), scheduler_lost=lost)
        return summary

    def summary(self, elapsed: float, interrupted: bool, status: int) -> None:
        w = sys.stderr.write
        if self.problems:
            w("%d file%s not converted:\n" % (len(self.problems), "" if len(self.problems) == 1 else "s"))
            for n, e in enumerate(self.problems):
                if n == 50:
                    w("  ... and %d more (see the log)\n" % (len(self.problems) - 50))
                    break
                w("  %s: %s\n" % (_shown(e.rel or e.input), _shown(e.error)))
        if self.quiet:  # failures are listed all the same, as the program does
            sys.stderr.flush()
            return
        c = self.counts
        ns = " (%d not started)" % self.not_started if self.not_started else ""
        w("%s%d converted, %d failed, %d refused, %d skipped%s, %d ignored; %d pages in %.1f s (%.1f pages/s); "
          "log: %s\n" % ("interrupted: " if interrupted else "", c["ok"], c["failed"], c["refused"], c["skipped"], ns,
                         c["ignored"], self.pages, elapsed, self.pages / elapsed if elapsed > 0 else 0.0,
                         _shown(self.log_path)))
        sys.stderr.flush()


# ---- python -m zyk_out_pdfa.distributed ---------------------------------------------

class _Parser(argparse.ArgumentParser):
    def error(self, message: str):  # type: ignore[override]
        self.exit(EXIT_USAGE, "%s: %s (see %s --help)\n" % (self.prog, message, self.prog))


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    p = _Parser(prog=PROG, description=(
        "Converts every PDF under INPUT_DIR into the same relative path under OUTPUT_DIR on a Dask cluster, "
        "one task per file, and appends the JSON Lines log of zyk-pdfa batch (default "
        "OUTPUT_DIR/zyk-pdfa-batch.jsonl). Both folders must be seen by every worker under the same path."),
        epilog="exit status: 0 every PDF converted (or skipped), 1 some file failed or the scheduler was lost, "
               "2 usage error, 3 some input refused and nothing else failed, 130 interrupted")
    p.add_argument("input_dir", metavar="INPUT_DIR")
    p.add_argument("output_dir", metavar="OUTPUT_DIR")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="the running scheduler to use (tcp://HOST:8786); without it a local cluster is started")
    p.add_argument("--workers", type=int, metavar="N",
                   help="worker processes of the local cluster (default: processors)")
    p.add_argument("--part", type=int, choices=(1, 2), default=2, help="the PDF/A part to declare (default 2)")
    p.add_argument("--log", metavar="FILE", help="the log file (appended)")
    p.add_argument("--skip-existing", action="store_true",
                   help="leave outputs that exist and are newer than their input (resume an interrupted batch)")
    p.add_argument("--allow-nested", action="store_true",
                   help="allow OUTPUT_DIR inside INPUT_DIR (it is left out of the walk)")
    p.add_argument("--replace-input", action="store_true",
                   help="allow an output that is its input itself (a hard link)")
    p.add_argument("-q", "--quiet", action="store_true", help="no progress and no summary; failures are still listed")
    p.add_argument("-v", "--verbose", action="store_true", help="a line for every file, also on a terminal")
    a = p.parse_args(argv)
    if a.scheduler and a.workers is not None:
        p.error("--workers is for the local cluster; a running scheduler has its own workers")
    if a.workers is not None and not 1 <= a.workers <= 256:
        p.error("--workers takes a number from 1 to 256")
    if a.log == "":
        p.error("--log takes a file name")
    # Dask's own messages at level INFO (workers starting, stale folders
    # purged) would bury the batch's lines; its warnings and errors stay.
    # The variable reaches the worker processes of a local cluster.
    if "DASK_LOGGING__DISTRIBUTED" not in os.environ:
        os.environ["DASK_LOGGING__DISTRIBUTED"] = "warning"
    client = None
    try:
        if a.scheduler:
            from distributed import Client
            client = Client(a.scheduler)
        summary = convert_many(os.fsencode(a.input_dir), os.fsencode(a.output_dir), a.part, client,
                               a.skip_existing, os.fsencode(a.log) if a.log else None, allow_nested=a.allow_nested,
                               replace_input=a.replace_input, quiet=a.quiet, verbose=a.verbose and not a.quiet,
                               n_workers=a.workers,
                               arguments=[sys.executable, "-m", "zyk_out_pdfa.distributed"] + argv)
        return summary["exit_status"]
    except ImportError as e:
        sys.stderr.write("%s: needs Dask (Debian: apt install python3-distributed): %s\n" % (PROG, e))
        return EXIT_FAILED
    except UsageError as e:
        sys.stderr.write("%s: %s (see %s --help)\n" % (PROG, e, PROG))
        return EXIT_USAGE
    except OSError as e:
        sys.stderr.write("%s: %s\n" % (PROG, e.strerror or e))
        return EXIT_FAILED
    finally:
        if client is not None:
            client.close()


if __name__ == "__main__":
    # Run as the imported module, not as __main__: tasks name their
    # function by module, and workers import zyk_out_pdfa.distributed.
    from zyk_out_pdfa.distributed import main as _main
    sys.exit(_main())
