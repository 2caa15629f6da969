#!/usr/bin/env bash
# Times `sorvane-cli info --json` against an independent reader of the same
# files (bench/pefile_info.py, built on pefile) and checks that both read the
# same texts.
#
#   bench/info_bench.sh [-r REPEATS] [FILE...]
#
# FILEs default to every *.dll of Wine's 64-bit libraries
# (/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/, package libwine). All files
# are read once before timing so that both readers find them in the page
# cache. Each reader then runs REPEATS times (default 3) over all files in one
# process; the best run counts, given as time per file, with the ratio.
# Afterwards the version, description and copyright of every file are
# compared; the script prints how many files differ and the first few. The
# language is compared too when the language list could be read (otherwise
# pefile_info.py gives "lang:<id>" and languages are left out).
#
# SORVANE_CLI names the program (default build/cli/sorvane-cli); PYTHON a
# Python with pefile (default: /usr/bin/python3, else python3).
# Exit status: 0 when both agree on every file, 1 when they differ, 2 when the
# benchmark cannot run (no program, no 'info --json' command, no pefile).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "info_bench: $*" >&2; exit 2; }

repeats=3
if [ "${1:-}" = "-r" ]; then
  [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || fail "-r needs a positive number"
  repeats=$2
  shift 2
fi
if [ $# -gt 0 ]; then
  files=("$@")
else
  files=(/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll)
  [ -e "${files[0]}" ] || fail "no files given and no Wine libraries installed (package libwine)"
fi

cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || fail "$cli does not exist; build it first (scripts/build)"

python=${PYTHON:-}
if [ -z "$python" ]; then
  for candidate in /usr/bin/python3 python3; do
    if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c "import pefile" 2>/dev/null; then
      python=$candidate
      break
    fi
  done
fi
[ -n "$python" ] || fail "no Python with pefile (apt-get install python3-pefile)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Does the program have the command at all? One file is enough to tell.
probe_status=0
"$cli" info --json "${files[0]}" >"$work/probe.json" 2>"$work/probe.err" || probe_status=$?
if [ $probe_status -ne 0 ]; then
  fail "'$cli info --json' does not work (exit status $probe_status): $(head -n1 "$work/probe.err")"
fi
if ! "$python" -c 'import json, sys; d = json.load(open(sys.argv[1])); assert isinstance(d, list)' \
    "$work/probe.json" 2>/dev/null; then
  fail "'$cli info --json' does not print a JSON array: $(head -c 200 "$work/probe.json")"
fi

cat -- "${files[@]}" >/dev/null

# Timed with the shell's own clock (EPOCHREALTIME, microseconds): starting
# `date` for each reading would add a process start to every timed run, which
# is a large part of one sorvane-cli run.

# time_runs NAME OUTPUT COMMAND...: runs COMMAND $repeats times, stores the best
# time in nanoseconds in best_ns.
time_runs() {
  local name=$1 output=$2
  shift 2
  best_ns=0
  local i start elapsed
  for ((i = 1; i <= repeats; i++)); do
    start=${EPOCHREALTIME/[.,]/}
    "$@" >"$output" 2>"$work/$name.err" || fail "$name failed: $(head -n1 "$work/$name.err")"
    elapsed=$(((${EPOCHREALTIME/[.,]/} - start) * 1000))
    if [ $best_ns -eq 0 ] || [ $elapsed -lt $best_ns ]; then best_ns=$elapsed; fi
  done
}

count=${#files[@]}
time_runs sorvane "$work/sorvane.json" "$cli" info --json "${files[@]}"
sorvane_ns=$best_ns
time_runs pefile "$work/pefile.json" "$python" bench/pefile_info.py "${files[@]}"
pefile_ns=$best_ns

echo "files: $count, best of $repeats runs each"
awk -v n="$count" -v s="$sorvane_ns" -v p="$pefile_ns" 'BEGIN {
  printf "sorvane-cli info --json  %9.1f ms in all  %8.1f us per file\n", s / 1e6, s / 1e3 / n
  printf "pefile_info.py           %9.1f ms in all  %8.1f us per file\n", p / 1e6, p / 1e3 / n
  printf "ratio pefile / sorvane   %9.2f\n", (s > 0 ? p / s : 0)
}'

"$python" - "$work/sorvane.json" "$work/pefile.json" <<'EOF'
import json
import os
import sys

def by_path(file_name):
    with open(file_name, encoding="utf-8") as f:
        return {os.path.realpath(str(entry.get("path", ""))): entry for entry in json.load(f)}

ours, theirs = by_path(sys.argv[1]), by_path(sys.argv[2])
fields = ["version", "description", "copyright"]
if not any(str(e.get("language", "")).startswith("lang:") for e in theirs.values()):
    fields.append("language")
differing = []
for path in sorted(set(ours) | set(theirs)):
    if path not in ours or path not in theirs:
        differing.append((path, "missing from " + ("sorvane-cli" if path not in ours else "pefile_info.py")))
        continue
    for field in fields:
        a, b = ours[path].get(field), theirs[path].get(field)
        if a != b:
            differing.append((path, "%s: sorvane-cli %r, pefile %r" % (field, a, b)))
files = len({p for p, _ in differing})
print("compared %s of %d files: %d differ" % ("/".join(fields), len(set(ours) | set(theirs)), files))
for path, what in differing[:8]:
    print("  %s: %s" % (path, what))
if len(differing) > 8:
    print("  ... and %d more differences" % (len(differing) - 8))
sys.exit(1 if differing else 0)
EOF
