"""Python interface to the zyk_out_pdfa library (ctypes, standard library only).

    import zyk_out_pdfa
    zyk_out_pdfa.convert("in.pdf", "out.pdf", part=2)
    zyk_out_pdfa.check("out.pdf")        # -> 2
    zyk_out_pdfa.report("in.pdf")        # -> dict

The shared library is looked for, in this order: the path in the environment
variable ZYK_OUT_PDFA_LIBRARY; next to this package; the system's library path.
The library is not reentrant: calls are serialised with a lock, and parallel
work belongs in separate processes.
"""

import ctypes
import ctypes.util
import json
import os
import threading

__all__ = ["convert", "check", "report", "last_error", "PdfaError", "library_path"]
__version__ = "1.0.0"

_LIB_NAMES = ("libzyk_out_pdfa.so.1", "libzyk_out_pdfa.so", "libzyk_out_pdfa.dylib", "zyk_out_pdfa.dll")
_lock = threading.Lock()
_lib = None
_lib_path = None


class PdfaError(Exception):
    """A call into the library failed; the message is the library's error text."""


def _candidates():
    env = os.environ.get("ZYK_OUT_PDFA_LIBRARY")
    if env:
        yield env
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _LIB_NAMES:
        yield os.path.join(here, name)
    for name in _LIB_NAMES:
        yield name
    found = ctypes.util.find_library("zyk_out_pdfa")
    if found:
        yield found


def _load():
    global _lib, _lib_path
    if _lib is not None:
        return _lib
    errors = []
    for cand in _candidates():
        if os.sep in cand and not os.path.exists(cand):
            continue
        try:
            lib = ctypes.CDLL(cand)
        except OSError as e:
            errors.append("%s: %s" % (cand, e))
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
    raise OSError("cannot load the zyk_out_pdfa library (set ZYK_OUT_PDFA_LIBRARY): " + "; ".join(errors))


def library_path():
    """The path or name the shared library was loaded from."""
    _load()
    return _lib_path


def _path(p):
    if p is None:
        raise TypeError("path must not be None")
    return os.fsencode(p)


def _error_text(lib):
    return lib.pdfa_last_error().decode("utf-8", "replace")


def last_error():
    """The library's last error text ("" when there is none)."""
    lib = _load()
    with _lock:
        return _error_text(lib)


def convert(input, output, part=2):
    """Convert `input` into a PDF/A file at `output` (part 1 or 2, level B).

    Raises PdfaError with the library's message when the conversion fails;
    nothing is written then.
    """
    if part not in (1, 2):
        raise ValueError("part must be 1 or 2")
    lib = _load()
    fn = lib.pdfa_convert_1b if part == 1 else lib.pdfa_convert_2b
    with _lock:
        if fn(_path(input), _path(output)) != 1:
            raise PdfaError(_error_text(lib))


def check(path):
    """The PDF/A part (1, 2 or 3) the file declares, or 0.

    Raises PdfaError when the file cannot be read at all.
    """
    lib = _load()
    with _lock:
        lib.pdfa_cleanup()
        part = lib.pdfa_check(_path(path))
        if part == 0 and lib.pdfa_last_error():
            raise PdfaError(_error_text(lib))
        return part


def report(path):
    """The library's JSON report on the file, as a dict.

    A file that cannot be loaded still gives a report ("loaded": false, with
    the reason in "error").
    """
    lib = _load()
    with _lock:
        text = lib.pdfa_report(_path(path)).decode("utf-8", "replace")
    return json.loads(text)
