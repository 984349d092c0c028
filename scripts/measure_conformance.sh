#!/usr/bin/env bash
# Converts a list of PDFs with a given build for both PDF/A parts and checks
# every output: pdfa-lint --part N over all outputs of part N, and the PDF/A-1
# validator over all part-1 outputs, one call each (the validator is a JVM:
# starting it once per file would cost more than the whole conversion run).
#
# Prints, per part, how many files were written, how many of them pass every
# checker and how many conversions refused, then every refusal with its
# message and every failing output with the rules it broke.
#
# usage: scripts/measure_conformance.sh CLI WORKDIR LIST [JOBS]
#   CLI      the zyk-pdfa program of the build to measure
#   WORKDIR  fresh directory for outputs and logs (created)
#   LIST     file with one input path per line
#   JOBS     conversions run at once (default 2)
# SHARED (default /work/shared) is where the measuring tools live.
set -euo pipefail

if [ $# -lt 3 ]; then
  sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
cli=$(readlink -f "$1")
work=$2
list=$3
jobs=${4:-2}
shared=${SHARED:-/work/shared}
tools=$shared/tools
list_dir=$(cd "$(dirname "$list")" && pwd)

mkdir -p "$work/out"
: >"$work/convert.tsv"

# One line per input: index, path. A relative path in the list is taken
# from the current directory, or else from the list's own directory.
n=0
while IFS= read -r f; do
  [ -n "$f" ] || continue
  n=$((n + 1))
  case $f in
    /*) ;;
    *) if [ -e "$f" ]; then f=$(readlink -f "$f"); else f=$list_dir/$f; fi ;;
  esac
  printf '%d\t%s\n' "$n" "$f"
done <"$list" >"$work/inputs.tsv"

convert_one() {
  local idx=$1 in=$2 part=$3 out err rc
  out=$work/out/$idx-p$part.pdf
  err=$(nice "$cli" convert --part "$part" "$in" "$out" 2>&1 >/dev/null) && rc=0 || rc=$?
  err=${err//$'\n'/ }
  printf '%s\t%s\t%s\t%s\t%s\n' "$idx" "$part" "$rc" "$in" "$err" >>"$work/convert.tsv"
}
export -f convert_one
export cli work

while IFS=$'\t' read -r idx in; do
  for part in 1 2; do printf '%s\t%s\t%s\n' "$idx" "$in" "$part"; done
done <"$work/inputs.tsv" | xargs -d '\n' -P "$jobs" -n 1 bash -c 'IFS=$'"'"'\t'"'"' read -r a b c <<<"$0"; convert_one "$a" "$b" "$c"'

sort -n -k1,1 -k2,2 "$work/convert.tsv" -o "$work/convert.tsv"

for part in 1 2; do
  awk -F'\t' -v p="$part" -v w="$work" '$2 == p && $3 == 0 { print w "/out/" $1 "-p" p ".pdf" }' \
    "$work/convert.tsv" >"$work/written-p$part.txt"
  if [ -s "$work/written-p$part.txt" ]; then
    xargs -d '\n' nice "$tools/pdfa-lint" --part "$part" --max-issues 20 <"$work/written-p$part.txt" \
      >"$work/lint-p$part.txt" 2>&1 || true
  else
    : >"$work/lint-p$part.txt"
  fi
done
if [ -s "$work/written-p1.txt" ]; then
  xargs -d '\n' nice "$tools/pdfa-validate" --max-errors 20 <"$work/written-p1.txt" >"$work/validate-p1.txt" 2>&1 || true
else
  : >"$work/validate-p1.txt"
fi

python3 - "$work" <<'EOF'
import os, re, sys
work = sys.argv[1]
inputs = {}
for line in open(os.path.join(work, "inputs.tsv")):
    i, p = line.rstrip("\n").split("\t", 1)
    inputs[i] = p
conv = {}
for line in open(os.path.join(work, "convert.tsv")):
    idx, part, rc, path, err = (line.rstrip("\n").split("\t") + [""])[:5]
    conv[(idx, int(part))] = (int(rc), err)

def verdicts(path):
    out = {}
    if not os.path.exists(path):
        return out
    for line in open(path, errors="replace"):
        m = re.match(r"(PASS|FAIL|ERROR) (\S+?)(:| |$)(.*)", line.rstrip("\n"))
        if m:
            out[m.group(2)] = (m.group(1), m.group(4).strip())
    return out

lint = {1: verdicts(os.path.join(work, "lint-p1.txt")), 2: verdicts(os.path.join(work, "lint-p2.txt"))}
val = verdicts(os.path.join(work, "validate-p1.txt"))
details = []
for part in (1, 2):
    written = passing = refused = crashed = 0
    for idx in sorted(inputs, key=int):
        rc, err = conv.get((idx, part), (-1, "not run"))
        name = inputs[idx]
        if rc != 0:
            if rc == 1:
                refused += 1
                details.append(f"p{part} REFUSED {name}: {err}")
            else:
                crashed += 1
                details.append(f"p{part} STATUS {rc} {name}: {err}")
            continue
        written += 1
        out = os.path.join(work, "out", f"{idx}-p{part}.pdf")
        faults = []
        lv = lint[part].get(out, ("MISSING", "no pdfa-lint verdict"))
        if lv[0] != "PASS":
            faults.append(f"lint {lv[0]} {lv[1]}")
        if part == 1:
            vv = val.get(out, ("MISSING", "no validator verdict"))
            if vv[0] != "PASS":
                faults.append(f"validate {vv[0]} {vv[1]}")
        if faults:
            details.append(f"p{part} FAIL {name} ({out}): " + " | ".join(faults))
        else:
            passing += 1
    print(f"part {part}: inputs {len(inputs)} written {written} passing {passing} refused {refused} other {crashed}")
print()
for d in details:
    print(d)
EOF
