"""`python -m zyk_out_pdfa`: the convert, check and report commands.

They are written here in Python over the library, not by running the
`zyk-pdfa` program, so that they work wherever the package is installed
(a wheel carries the library but not the program). They take the program's
options and give its exit status: 0 all good, 1 some file failed, 2 usage
error, 3 refused (encrypted or not a PDF), 130 interrupted. Folder batches
are the program's job (`zyk-pdfa batch`).
"""

import argparse
import json
import sys
from typing import List, Optional, Sequence

from . import (EncryptedError, NotPdfError, PdfaError, __version__, _input_error, _load, _lock, _path,
               _refuse_special_input, check, convert)

EXIT_OK, EXIT_FAILED, EXIT_USAGE, EXIT_REFUSED, EXIT_INTERRUPTED = 0, 1, 2, 3, 130
PROG = "python -m zyk_out_pdfa"


def _status_of(err: PdfaError) -> int:
    return EXIT_REFUSED if isinstance(err, (EncryptedError, NotPdfError)) else EXIT_FAILED


def _worst(statuses: Sequence[int]) -> int:
    # A failure outranks a refusal: both mean "not done", but a failure
    # (unreadable, unwritable) is the one a user has to look into.
    if EXIT_FAILED in statuses:
        return EXIT_FAILED
    return EXIT_REFUSED if EXIT_REFUSED in statuses else EXIT_OK


def _shown(path: str) -> str:
    # Names that are not valid UTF-8 arrive as surrogate escapes; show them
    # with replacement characters rather than failing to print.
    return path.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


class _Parser(argparse.ArgumentParser):
    """Usage errors take one line and point at --help."""

    def error(self, message: str):  # type: ignore[override]
        self.exit(EXIT_USAGE, "%s: %s (see %s --help)\n" % (self.prog, message, self.prog))


def cmd_convert(a: argparse.Namespace, err) -> int:
    output = a.output if a.output is not None else (a.files[1] if len(a.files) == 2 else None)
    if a.output is not None and len(a.files) != 1 or a.output is None and len(a.files) != 2:
        err("convert takes INPUT and OUTPUT (or INPUT -o OUTPUT)")
    try:
        convert(a.files[0], output, part=a.part)
    except PdfaError as e:
        print("%s: %s" % (PROG, _shown(str(e))), file=sys.stderr)
        return _status_of(e)
    except ValueError as e:
        err(str(e))
    if a.verbose:
        print("%s: wrote %s (declares PDF/A-%d)" % (PROG, _shown(output), a.part), file=sys.stderr)
    return EXIT_OK


def cmd_check(a: argparse.Namespace, err) -> int:
    statuses: List[int] = []
    for f in a.files:
        part, message = 0, ""
        try:
            part = check(f)
        except PdfaError as e:
            message = str(e)
            statuses.append(_status_of(e))
        except ValueError as e:
            err(str(e))
        if a.json:
            # The records of `zyk-pdfa check --json`. Names that are not
            # UTF-8 keep their bytes as surrogate escapes (\udc80 to \udcff).
            word = "error" if message else "declared" if part else "not declared"
            print(json.dumps({"file": f, "status": word, "part": part, "error": message}))
        elif message:
            print("%s: error: %s" % (_shown(f), _shown(message)))
        else:
            print("%s: %s" % (_shown(f), "declares PDF/A-%d" % part if part else "not declared"))
        sys.stdout.flush()
    return _worst(statuses)


def _one_line(text: bytes) -> bytes:
    """The report on one line, as `zyk-pdfa report` prints it: line breaks
    and indentation go, a space stays between members."""
    out = bytearray()
    at_line_start = False
    for c in text:
        if c == 0x0A:
            at_line_start = True
            continue
        if at_line_start and c == 0x20:
            continue
        if at_line_start and out and out[-1] not in b"{[" and c not in b"}]":
            out += b" "
        at_line_start = False
        out.append(c)
    return bytes(out)


def cmd_report(a: argparse.Namespace, err) -> int:
    lib = _load()
    statuses: List[int] = []
    declared = False
    out = sys.stdout.buffer
    for f in a.files:
        try:
            p = _path(f, "input")
        except ValueError as e:
            err(str(e))
        try:
            _refuse_special_input(f)
        except PdfaError as e:
            statuses.append(EXIT_FAILED)
            print("%s: %s: %s" % (PROG, _shown(f), _shown(str(e))), file=sys.stderr)
            continue
        with _lock:
            text = lib.pdfa_report(p)
        rep = json.loads(text.decode("utf-8", "replace"))
        if rep.get("loaded") is False:
            e = _input_error(str(rep.get("error", "")), f)
            statuses.append(_status_of(e))
            print("%s: %s: %s" % (PROG, _shown(f), _shown(str(e))), file=sys.stderr)
        else:
            statuses.append(EXIT_OK)
            declared = declared or rep.get("is_pdfa") is True
        out.write(_one_line(text) + b"\n")
        out.flush()
    if declared and not a.quiet:
        print("%s: note: the verdict \"compliant\" means the file declares a PDF/A part; it was not validated"
              % PROG, file=sys.stderr)
    return _worst(statuses)


def _parser() -> argparse.ArgumentParser:
    p = _Parser(
        prog=PROG,
        description="Convert PDF files to PDF/A (part 1 or 2, level B), tell which part a file declares, "
                    "and report on files.",
        epilog="exit status: 0 all good, 1 some file failed, 2 usage error, 3 refused "
               "(encrypted or not a PDF), 130 interrupted. A declared part is what a file says of itself; "
               "only a validator tells whether it conforms.")
    p.add_argument("--version", action="version", version="zyk_out_pdfa %s" % __version__)
    sub = p.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)
    sub.required = True

    def common(sp):
        sp.add_argument("-q", "--quiet", action="store_true", help="print less")
        sp.add_argument("-v", "--verbose", action="store_true", help="print more")

    c = sub.add_parser("convert", help="convert one file", description="Convert INPUT to a PDF/A file OUTPUT; "
                       "on failure nothing is written and an existing OUTPUT is left as it was.")
    c.add_argument("--part", type=int, choices=(1, 2), default=2, help="PDF/A part (default 2)")
    c.add_argument("-o", "--output", help="the output file")
    c.add_argument("files", nargs="+", metavar="INPUT [OUTPUT]")
    common(c)
    c.set_defaults(parser=c, run=cmd_convert)

    k = sub.add_parser("check", help="print the PDF/A part files declare",
                       description="Print the PDF/A part each FILE declares (\"declares PDF/A-2\", "
                                   "\"not declared\"); a declaration is not a validation.")
    k.add_argument("--json", action="store_true", help="one JSON object per line")
    k.add_argument("files", nargs="+", metavar="FILE")
    common(k)
    k.set_defaults(parser=k, run=cmd_check)

    r = sub.add_parser("report", help="print the JSON report on files",
                       description="Print the library's JSON report on each FILE, one per line.")
    r.add_argument("files", nargs="+", metavar="FILE")
    common(r)
    r.set_defaults(parser=r, run=cmd_report)
    return p


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    try:
        _load()
    except OSError as e:  # no library: say so in one line, not a traceback
        print("%s: %s" % (PROG, e), file=sys.stderr)
        return EXIT_FAILED
    try:
        return args.run(args, args.parser.error)
    except KeyboardInterrupt:
        print("%s: interrupted" % PROG, file=sys.stderr)
        return EXIT_INTERRUPTED


if __name__ == "__main__":
    sys.exit(main())
