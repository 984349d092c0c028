"""Build backend for the zyk_out_pdfa Python package (standard library only).

pip runs a package's build backend in an isolated environment filled with
the backend's requirements. This backend has none, so `pip install ./python`
works in a fresh virtual environment without network access.

The wheel carries the shared library next to the package, so the installed
package needs no environment variable to find it. The library is taken from
a folder holding `libzyk_out_pdfa.so*`, in this order:

1. the config setting `build-dir` (`pip install -C build-dir=DIR ./python`);
2. the environment variable ZYK_OUT_PDFA_BUILD_DIR;
3. the first of `build-release` and `build` beside this folder in the
   source tree that holds the library (`make build` writes `build-release`).

The folder may be a CMake build folder or an installed library folder
(`/usr/local/lib`). A named folder without the library is an error, and so
is finding none at all: a package that cannot load its library would only
fail later, at import.
"""

import base64
import hashlib
import io
import os
import re
import sysconfig
import tarfile
import time
import zipfile

NAME = "zyk_out_pdfa"
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)          # the python/ folder
SOURCE_TREE = os.path.dirname(ROOT)   # the project's source tree
DEFAULT_BUILD_DIRS = ("build-release", "build")
LIBRARY = "libzyk_out_pdfa.so.1"      # the library's soname, as the package loads it


def _version():
    """The package's __version__, read without importing the package."""
    with open(os.path.join(ROOT, NAME, "__init__.py"), encoding="utf-8") as f:
        m = re.search(r'^__version__\s*=\s*"([^"]*)"', f.read(), re.M)
    if not m:
        raise RuntimeError("no __version__ in %s/__init__.py" % NAME)
    return m.group(1)


def _project():
    """Name, version and the few metadata fields, read from pyproject.toml
    and (the version) from the package's __version__."""
    with open(os.path.join(ROOT, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    project = text.split("[project]", 1)[1].split("\n[", 1)[0]

    def field(key):
        m = re.search(r'^%s\s*=\s*"([^"]*)"' % key, project, re.M)
        return m.group(1) if m else None

    return {
        "name": field("name"),
        "version": _version(),
        "summary": field("description"),
        "requires_python": field("requires-python"),
    }


def _metadata():
    p = _project()
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        readme = f.read()
    lines = [
        "Metadata-Version: 2.1",
        "Name: %s" % p["name"],
        "Version: %s" % p["version"],
        "Summary: %s" % p["summary"],
        "Requires-Python: %s" % p["requires_python"],
        "Description-Content-Type: text/markdown",
        "",
        readme,
    ]
    return "\n".join(lines)


def _find_library(config_settings):
    """The path of the shared library file to carry in the wheel."""
    named = (config_settings or {}).get("build-dir") or os.environ.get("ZYK_OUT_PDFA_BUILD_DIR")
    if named:
        dirs, explicit = [os.path.abspath(named)], True
    else:
        dirs, explicit = [os.path.join(SOURCE_TREE, d) for d in DEFAULT_BUILD_DIRS], False
    for d in dirs:
        for name in (LIBRARY, "libzyk_out_pdfa.so"):
            path = os.path.join(d, name)
            if os.path.isfile(path):
                return os.path.realpath(path)
    if explicit:
        raise RuntimeError("zyk_out_pdfa: no %s in %s (ZYK_OUT_PDFA_BUILD_DIR or -C build-dir names the "
                           "CMake build folder or the installed library folder)" % (LIBRARY, dirs[0]))
    raise RuntimeError("zyk_out_pdfa: no built library found in %s; build it first (make build) or set "
                       "ZYK_OUT_PDFA_BUILD_DIR to the CMake build folder or the installed library folder"
                       % " or ".join(dirs))


def _platform_tag():
    return re.sub(r"[^A-Za-z0-9]", "_", sysconfig.get_platform())


def _wheel_name():
    p = _project()
    return "%s-%s-py3-none-%s.whl" % (p["name"], p["version"], _platform_tag())


def _record_line(arcname, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")
    return "%s,sha256=%s,%d" % (arcname, digest, len(data))


def _write_wheel(wheel_directory, files):
    """Writes a wheel of `files` (archive name -> bytes) and its dist-info."""
    p = _project()
    info = "%s-%s.dist-info" % (p["name"], p["version"])
    files = dict(files)
    files[info + "/METADATA"] = _metadata().encode("utf-8")
    files[info + "/WHEEL"] = ("Wheel-Version: 1.0\nGenerator: zyk_build\nRoot-Is-Purelib: false\n"
                              "Tag: py3-none-%s\n" % _platform_tag()).encode("ascii")
    files[info + "/top_level.txt"] = (NAME + "\n").encode("ascii")
    record = [_record_line(n, d) for n, d in files.items()] + [info + "/RECORD,,"]
    files[info + "/RECORD"] = ("\n".join(record) + "\n").encode("utf-8")
    name = _wheel_name()
    # A fixed timestamp keeps the wheel's bytes the same for the same inputs.
    stamp = (2026, 1, 1, 0, 0, 0)
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as z:
        for arcname, data in files.items():
            zi = zipfile.ZipInfo(arcname, stamp)
            zi.external_attr = 0o644 << 16
            zi.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(zi, data)
    return name


def _package_names():
    """The package's own files: its modules and py.typed, not byte code or a
    stray library copy (the wheel's library comes from the build)."""
    names = os.listdir(os.path.join(ROOT, NAME))
    return sorted(n for n in names if n.endswith(".py") or n == "py.typed")


def _package_files():
    files = {}
    for name in _package_names():
        with open(os.path.join(ROOT, NAME, name), "rb") as f:
            files["%s/%s" % (NAME, name)] = f.read()
    return files


# ---- PEP 517 hooks -------------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    files = _package_files()
    with open(_find_library(config_settings), "rb") as f:
        files["%s/%s" % (NAME, LIBRARY)] = f.read()
    return _write_wheel(wheel_directory, files)


def build_sdist(sdist_directory, config_settings=None):
    """A source archive of the python/ folder. Building a wheel from it needs
    ZYK_OUT_PDFA_BUILD_DIR, since the library's build is not beside it."""
    p = _project()
    base = "%s-%s" % (p["name"], p["version"])
    name = base + ".tar.gz"
    members = ["pyproject.toml", "README.md", "_build/zyk_build.py"]
    members += ["%s/%s" % (NAME, n) for n in _package_names()]
    with tarfile.open(os.path.join(sdist_directory, name), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        def add(arcname, data):
            ti = tarfile.TarInfo("%s/%s" % (base, arcname))
            ti.size, ti.mode, ti.mtime = len(data), 0o644, int(time.mktime((2026, 1, 1, 0, 0, 0, 0, 0, -1)))
            tar.addfile(ti, io.BytesIO(data))
        for m in members:
            with open(os.path.join(ROOT, m), "rb") as f:
                add(m, f.read())
        add("PKG-INFO", _metadata().encode("utf-8"))
    return name
