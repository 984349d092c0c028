"""Python interface to the zyk_out_pdfa library (ctypes, standard library only).

    import zyk_out_pdfa
    zyk_out_pdfa.convert("in.pdf", "out.pdf", part=2)
    zyk_out_pdfa.check("out.pdf")        # -> 2 (the part the file declares)
    zyk_out_pdfa.report("in.pdf")        # -> dict

Failures raise PdfaError or one of its subclasses (NotFoundError,
ReadError, NotPdfError, EncryptedError, WriteError); each carries the
library's message, the path it concerns and, where the operating system can
tell, the reason.

The shared library is looked for, in this order: the file named by the
environment variable ZYK_OUT_PDFA_LIBRARY (and only that one, when set);
next to this package, where a wheel built by `pip install ./python` puts
it; the library folder of the same installation when `cmake --install`
installed this package; the system's library path. The library is not reentrant: calls are
serialised with a lock, and parallel work belongs in separate processes.
"""

import ctypes
import ctypes.util
import errno as _errno
import json
import os
import stat
import threading
from typing import Any, Dict, Iterator, Optional, Union

__all__ = [
    "convert", "check", "report", "last_error", "library_path",
    "PdfaError", "NotFoundError", "ReadError", "NotPdfError", "EncryptedError", "WriteError",
]
__version__ = "1.0.0"

# A path as the functions accept it: text, bytes or an os.PathLike object.
PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_LIB_NAMES = ("libzyk_out_pdfa.so.1", "libzyk_out_pdfa.so")
_lock = threading.Lock()
_lib = None
_lib_path = None


class PdfaError(Exception):
    """A call into the library failed.

    `message` is the library's error text (or the package's refusal of a
    FIFO, a device or a link before the library is called), `path` the file
    it concerns (the
    input, or the output for a write failure, as the caller gave it), and
    `reason` what the operating system says about that file, or None.
    str() of the error is the message followed by the reason.
    """

    def __init__(self, message: str, path: Optional[PathArg] = None, reason: Optional[str] = None,
                 errno: Optional[int] = None) -> None:
        Exception.__init__(self, message)
        self.message = message
        self.path = path
        self.reason = reason
        if errno is not None:
            self.errno = errno
            self.strerror = reason
            self.filename = path

    def __str__(self) -> str:
        return "%s: %s" % (self.message, self.reason) if self.reason else self.message

    def __reduce__(self):  # keeps the fields across pickling (multiprocessing)
        return (type(self), (self.message, self.path, self.reason, getattr(self, "errno", None)))


class ReadError(PdfaError, OSError):
    """The input could not be read: no permission, a folder, not a regular
    file, 2 GiB or larger, or a read failure."""


class NotFoundError(ReadError, FileNotFoundError):
    """The input file does not exist."""


class NotPdfError(PdfaError):
    """The input holds no PDF objects (or is empty)."""


class EncryptedError(PdfaError):
    """The input is encrypted; encrypted PDFs are refused."""


class WriteError(PdfaError, OSError):
    """The output could not be written; an existing file there is untouched."""


# ---- finding and loading the library ---------------------------------------

def _candidates() -> Iterator[str]:
    env = os.environ.get("ZYK_OUT_PDFA_LIBRARY")
    if env:
        yield env
        return  # a named library is the one wanted; never fall back silently
    here = os.path.dirname(os.path.abspath(__file__))
    dirs = [here]
    try:
        # Only in a package installed by `cmake --install`: the library
        # folder of the same installation, relative to this package.
        from ._install import LIBDIR_FROM_PACKAGE  # type: ignore[import]
        dirs.append(os.path.normpath(os.path.join(here, LIBDIR_FROM_PACKAGE)))
    except ImportError:
        pass
    for d in dirs:
        for name in _LIB_NAMES:
            path = os.path.join(d, name)
            if os.path.exists(path):
                yield path
    for name in _LIB_NAMES:
        yield name
    found = ctypes.util.find_library("zyk_out_pdfa")
    if found:
        yield found


def _load() -> ctypes.CDLL:
    global _lib, _lib_path
    if _lib is not None:
        return _lib
    errors = []
    for cand in _candidates():
        try:
            lib = ctypes.CDLL(cand)
        except OSError as e:
            errors.append(str(e))
            continue
        lib.pdfa_init.restype = ctypes.c_int
        lib.pdfa_init.argtypes = []
        lib.pdfa_cleanup.restype = None
        lib.pdfa_cleanup.argtypes = []
        lib.pdfa_last_error.restype = ctypes.c_char_p
        lib.pdfa_last_error.argtypes = []
        for name in ("pdfa_convert_1b", "pdfa_convert_2b"):
            fn = getattr(lib, name)
            fn.restype = ctypes.c_int
            fn.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        lib.pdfa_check.restype = ctypes.c_int
        lib.pdfa_check.argtypes = [ctypes.c_char_p]
        lib.pdfa_report.restype = ctypes.c_char_p
        lib.pdfa_report.argtypes = [ctypes.c_char_p]
        lib.pdfa_init()
        _lib, _lib_path = lib, cand
        return lib
    raise OSError("cannot load the zyk_out_pdfa library (install the package with pip, or set "
                  "ZYK_OUT_PDFA_LIBRARY to the library file): " + "; ".join(errors))


def library_path() -> str:
    """The path or name the shared library was loaded from."""
    _load()
    assert _lib_path is not None
    return _lib_path


# ---- paths and errors -------------------------------------------------------

def _path(p: PathArg, what: str) -> bytes:
    if p is None:
        raise TypeError("%s path must not be None" % what)
    b = os.fsencode(p)  # TypeError for anything that is not a path
    if b"\0" in b:
        raise ValueError("%s path contains a NUL byte: %r" % (what, p))
    if not b:
        raise ValueError("%s path is empty" % what)
    return b


def _error_text(lib: ctypes.CDLL) -> str:
    return lib.pdfa_last_error().decode("utf-8", "replace")


def _os_reason(e: OSError) -> str:
    return e.strerror or str(e)


def _input_error(message: str, path: PathArg) -> PdfaError:
    """The typed exception for a failure to load `path`, with the reason the
    operating system gives where the library's message has none."""
    if message.startswith("encrypted PDFs are not supported"):
        return EncryptedError(message, path)
    if message.startswith("no PDF objects found"):
        return NotPdfError(message, path)
    if message.startswith(("cannot open ", "empty input file", "read error on ")):
        try:
            st = os.stat(path)
        except OSError as e:
            cls = NotFoundError if e.errno == _errno.ENOENT else ReadError
            return cls(message, path, _os_reason(e), e.errno)
        if stat.S_ISDIR(st.st_mode):
            return ReadError(message, path, "is a folder", _errno.EISDIR)
        if not stat.S_ISREG(st.st_mode):
            return ReadError(message, path, "not a regular file", _errno.EINVAL)
        if st.st_size == 0:
            return NotPdfError(message, path, "the file is empty")
        if st.st_size > 0x7FFFFFFF:
            return ReadError(message, path, "files of 2 GiB or more are refused", _errno.EFBIG)
        try:
            with open(path, "rb"):
                pass
        except OSError as e:
            return ReadError(message, path, _os_reason(e), e.errno)
        return ReadError(message, path)
    return PdfaError(message, path)


def _write_error(message: str, path: PathArg) -> WriteError:
    """The write failure with the cause found by looking at the output path
    and its folder (the library does not say which step failed)."""
    b = os.fsencode(path)
    parent = os.path.dirname(b) or b"."
    if not os.path.exists(parent):
        return WriteError(message, path, "folder %s does not exist" % os.fsdecode(parent), _errno.ENOENT)
    if not os.path.isdir(parent):
        return WriteError(message, path, "%s is not a folder" % os.fsdecode(parent), _errno.ENOTDIR)
    if os.path.isdir(b):
        return WriteError(message, path, "is a folder", _errno.EISDIR)
    if not os.access(parent, os.W_OK | os.X_OK):
        return WriteError(message, path, "no permission to write in %s" % os.fsdecode(parent), _errno.EACCES)
    try:
        name_max = os.pathconf(parent, "PC_NAME_MAX")
    except (OSError, ValueError):
        name_max = 255
    if len(os.path.basename(b)) > name_max:
        return WriteError(message, path, "file name longer than %d bytes" % name_max, _errno.ENAMETOOLONG)
    return WriteError(message, path)


_KINDS = ((stat.S_ISLNK, "a symbolic link"), (stat.S_ISFIFO, "a FIFO (named pipe)"), (stat.S_ISSOCK, "a socket"),
          (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device"))


def _kind(mode: int) -> str:
    for test, words in _KINDS:
        if test(mode):
            return words
    return "not a regular file"


def _refuse_special_input(path: PathArg) -> None:
    """The library reads its input whole with stdio: on a FIFO or a device
    it would block or read without end, so those are refused here. What
    cannot be looked at is left to the library to report."""
    try:
        st = os.stat(path)
    except (OSError, ValueError):
        return
    if not stat.S_ISREG(st.st_mode) and not stat.S_ISDIR(st.st_mode):
        raise ReadError("cannot open %s" % os.fsdecode(path), path,
                        "it is %s, not a regular file" % _kind(st.st_mode), _errno.EINVAL)


def _refuse_special_output(path: PathArg) -> None:
    """The library renames its finished file over the output path, which
    would replace a symbolic link, a FIFO or a device node with a regular
    file: only a regular file (or nothing) there is replaced. These are the
    words of `zyk-pdfa convert`."""
    try:
        st = os.lstat(path)
    except (OSError, ValueError):
        return
    if not stat.S_ISREG(st.st_mode) and not stat.S_ISDIR(st.st_mode):
        name = os.fsdecode(path)
        raise WriteError("refusing to replace %s: it is %s, not a regular file" % (name, _kind(st.st_mode)), path)


# ---- the library's functions ------------------------------------------------

def last_error() -> str:
    """The library's last error text ("" when there is none)."""
    lib = _load()
    with _lock:
        return _error_text(lib)


def convert(input: PathArg, output: PathArg, part: int = 2) -> None:
    """Convert `input` into a PDF/A file at `output` (part 1 or 2, level B).

    Paths may be str, bytes or path-like; a path with a NUL byte raises
    ValueError. A failure raises a PdfaError subclass and writes nothing: an
    existing file at `output` is left as it was, and anything there that is
    not a regular file (a symbolic link, a FIFO, a device) is refused with
    WriteError. A FIFO or device as input raises ReadError.
    """
    if part not in (1, 2) or isinstance(part, bool):
        raise ValueError("part must be 1 or 2")
    src, dst = _path(input, "input"), _path(output, "output")
    _refuse_special_input(input)
    _refuse_special_output(output)
    lib = _load()
    fn = lib.pdfa_convert_1b if part == 1 else lib.pdfa_convert_2b
    with _lock:
        if fn(src, dst) == 1:
            return
        message = _error_text(lib)
    if message.startswith(("cannot write ", "short write to ", "close error on ")):
        raise _write_error(message, output)
    raise _input_error(message, input)


def check(path: PathArg) -> int:
    """The PDF/A part (1, 2 or 3) the file declares, or 0 if it declares none.

    A declaration is what the file says of itself, not a validation. Raises
    a PdfaError subclass when the file cannot be read at all.
    """
    p = _path(path, "input")
    _refuse_special_input(path)
    lib = _load()
    with _lock:
        lib.pdfa_cleanup()
        part = lib.pdfa_check(p)
        message = _error_text(lib) if part == 0 else ""
    if message:
        raise _input_error(message, path)
    return part


def report(path: PathArg) -> Dict[str, Any]:
    """The library's JSON report on the file, as a dict.

    A file that cannot be loaded still gives a report ("loaded": false, with
    the reason in "error"); a FIFO, socket or device raises ReadError, since
    reading one could block for ever.
    """
    p = _path(path, "input")
    _refuse_special_input(path)
    lib = _load()
    with _lock:
        text = lib.pdfa_report(p).decode("utf-8", "replace")
    return json.loads(text)
