"""The Python interface over the real shared library.

Run with ZYK_OUT_PDFA_LIBRARY pointing at the built library and
ZYK_SAMPLE_PDF at a sample PDF (CTest sets both).
"""
import json
import os
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import zyk_out_pdfa  # noqa: E402

SAMPLE = os.environ.get("ZYK_SAMPLE_PDF", os.path.join(os.path.dirname(__file__), "..", "..", "samples", "hello.pdf"))


@pytest.mark.parametrize("part", [1, 2])
def test_convert_then_check(tmp_path, part):
    out = tmp_path / ("out-%d.pdf" % part)
    zyk_out_pdfa.convert(SAMPLE, out, part=part)
    assert out.read_bytes().startswith(b"%PDF-1.4")
    assert zyk_out_pdfa.check(out) == part
    assert zyk_out_pdfa.last_error() == ""


def test_convert_failure_raises_with_library_message(tmp_path):
    missing = tmp_path / "missing.pdf"
    out = tmp_path / "out.pdf"
    with pytest.raises(zyk_out_pdfa.PdfaError) as err:
        zyk_out_pdfa.convert(missing, out)
    assert str(err.value) == "cannot open %s" % missing
    assert not out.exists()


@pytest.mark.parametrize("bad", [0, 3, "2"])
def test_convert_rejects_bad_part(tmp_path, bad):
    with pytest.raises(ValueError):
        zyk_out_pdfa.convert(SAMPLE, tmp_path / "x.pdf", part=bad)


def test_check_plain_pdf_and_unreadable_file(tmp_path):
    assert zyk_out_pdfa.check(SAMPLE) == 0
    with pytest.raises(zyk_out_pdfa.PdfaError, match="cannot open"):
        zyk_out_pdfa.check(tmp_path / "nope.pdf")


def test_report_is_a_dict_even_for_failed_loads(tmp_path):
    r = zyk_out_pdfa.report(SAMPLE)
    assert r["loaded"] is True
    assert r["page_count"] == 2
    bad = zyk_out_pdfa.report(tmp_path / 'odd "name".pdf')
    assert bad["loaded"] is False
    assert bad["verdict"] == "unreadable"


def test_paths_may_be_str_bytes_or_pathlike(tmp_path):
    for p in (SAMPLE, os.fsencode(SAMPLE)):
        assert zyk_out_pdfa.report(p)["loaded"] is True
    with pytest.raises(TypeError):
        zyk_out_pdfa.check(None)


def test_library_found_through_environment():
    assert zyk_out_pdfa.library_path() == os.environ.get("ZYK_OUT_PDFA_LIBRARY", zyk_out_pdfa.library_path())
