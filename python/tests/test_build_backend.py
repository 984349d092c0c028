"""The package's build backend, called the way pip calls it."""
import base64
import hashlib
import os
import re
import sys
import tarfile
import zipfile

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "_build"))
import zyk_build  # noqa: E402

LIBRARY = os.environ.get("ZYK_OUT_PDFA_LIBRARY")
needs_library = pytest.mark.skipif(not LIBRARY, reason="ZYK_OUT_PDFA_LIBRARY names no built library")



def _cmake_version():
    """The version stated by project() in the top-level CMakeLists.txt, which
    the library, the program and the man page take theirs from."""
    with open(os.path.join(ROOT, "..", "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"^project\(\s*zyk_out_pdfa\s+VERSION\s+([0-9.]+)", f.read(), re.M)
    assert m, "no project(zyk_out_pdfa VERSION ...) in CMakeLists.txt"
    return m.group(1)


VERSION = _cmake_version()


@pytest.fixture
def build_dir(monkeypatch):
    monkeypatch.setenv("ZYK_OUT_PDFA_BUILD_DIR", os.path.dirname(LIBRARY or ""))


def test_no_build_requirements():
    # pip fills the isolated build environment with these: anything here
    # needs a package index.
    assert zyk_build.get_requires_for_build_wheel() == [] == zyk_build.get_requires_for_build_sdist()


@needs_library
def test_wheel_holds_every_module_and_the_library_with_a_true_record(tmp_path, build_dir):
    name = zyk_build.build_wheel(str(tmp_path))
    assert name == "zyk_out_pdfa-%s-py3-none-%s.whl" % (VERSION, zyk_build._platform_tag())
    with zipfile.ZipFile(str(tmp_path / name)) as z:
        names = set(z.namelist())
        modules = {"zyk_out_pdfa/" + n for n in os.listdir(os.path.join(ROOT, "zyk_out_pdfa"))
                   if n.endswith(".py") or n == "py.typed"}
        assert {"zyk_out_pdfa/__init__.py", "zyk_out_pdfa/__main__.py", "zyk_out_pdfa/py.typed"} <= modules
        assert modules | {"zyk_out_pdfa/libzyk_out_pdfa.so.1"} <= names
        assert not [n for n in names if n.endswith(".pyc")]
        with open(os.path.realpath(LIBRARY), "rb") as f:
            assert z.read("zyk_out_pdfa/libzyk_out_pdfa.so.1") == f.read()
        info = "zyk_out_pdfa-%s.dist-info/" % VERSION
        assert b"Root-Is-Purelib: false" in z.read(info + "WHEEL")
        rows = [r.split(",") for r in z.read(info + "RECORD").decode().splitlines()]
        assert {r[0] for r in rows} == names
        for path, digest, size in rows:
            if path == info + "RECORD":
                assert digest == size == ""
                continue
            data = z.read(path)
            want = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            assert (digest, int(size)) == ("sha256=" + want, len(data)), path
    # The same inputs give the same wheel, byte for byte.
    again = tmp_path / "again"
    again.mkdir()
    zyk_build.build_wheel(str(again))
    assert (again / name).read_bytes() == (tmp_path / name).read_bytes()


@pytest.mark.parametrize("how", ["environment", "config"])
def test_a_named_folder_without_the_library_is_refused(tmp_path, monkeypatch, how):
    empty = tmp_path / "empty"
    empty.mkdir()
    settings = None
    if how == "environment":
        monkeypatch.setenv("ZYK_OUT_PDFA_BUILD_DIR", str(empty))
    else:
        monkeypatch.delenv("ZYK_OUT_PDFA_BUILD_DIR", raising=False)
        settings = {"build-dir": str(empty)}
    with pytest.raises(RuntimeError, match="no libzyk_out_pdfa.so.1 in %s" % empty):
        zyk_build.build_wheel(str(tmp_path), settings)
    assert os.listdir(str(tmp_path)) == ["empty"]


def test_sdist_holds_the_backend_and_the_package(tmp_path):
    name = zyk_build.build_sdist(str(tmp_path))
    base = "zyk_out_pdfa-%s/" % VERSION
    with tarfile.open(str(tmp_path / name)) as t:
        names = set(t.getnames())
        pkg_info = t.extractfile(base + "PKG-INFO").read().decode()
    assert {base + n for n in ("pyproject.toml", "PKG-INFO", "_build/zyk_build.py", "zyk_out_pdfa/__init__.py",
                               "zyk_out_pdfa/__main__.py", "zyk_out_pdfa/py.typed")} <= names
    assert "\nVersion: %s\n" % VERSION in pkg_info


def test_the_package_version_is_the_cmake_projects():
    # __version__ is where the backend reads the version for the wheel and
    # the sdist; the package and the library must not tell different ones.
    sys.path.insert(0, ROOT)
    try:
        import zyk_out_pdfa
    finally:
        sys.path.remove(ROOT)
    assert zyk_out_pdfa.__version__ == VERSION
