#!/usr/bin/env bash
# Times a full walk of an installer of many files, reading every member's
# version from its cabinet with the engine's readers (build/bench/msi_walk).
#
#   bench/msi_bench.sh [FILES]        default 5000
#
# The installer is built with wixl from copies of the test libraries of
# tests/fixtures (each copy under a name of its own, 100 to a folder, one
# embedded cabinet); its File table is then given each file's version as the
# fixture's resource script declares it (FILEVERSION), so the table and the
# files must agree. It is kept in $BENCH_DIR (default /tmp/sorvane-bench) and
# reused when present. The walk runs three times; the script prints the best
# wall time, files per second and the peak memory (max RSS, /usr/bin/time),
# and the walk's own count of versions that agree with the File table.
# Exit status: 0 when every member's version agrees, 1 when not, 2 when the
# benchmark cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "msi_bench: $*" >&2; exit 2; }

count=${1:-5000}
[[ $count =~ ^[1-9][0-9]*$ ]] || fail "FILES must be a positive number"
walker=build/bench/msi_walk
fixtures=build/tests/fixtures/files
[ -x "$walker" ] || fail "build first: cmake --build build --target msi_walk tool_fixtures"
for tool in wixl msiinfo msibuild python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (packages wixl, msitools, python3)"
done
[ -x /usr/bin/time ] || fail "/usr/bin/time is missing (package time)"

# The fixtures with one version resource, and the version each declares.
sources=(english.dll german.dll neutral.dll no_translation.dll unmatched_table.dll)
declare -A versions
for dll in "${sources[@]}"; do
  [ -f "$fixtures/$dll" ] || fail "no $fixtures/$dll: build the target tool_fixtures"
  rc="tests/fixtures/${dll%.dll}.rc"
  version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' "$rc" | head -n 1)
  [ -n "$version" ] || fail "no FILEVERSION in $rc"
  versions[$dll]=$version
done

bench_dir="${BENCH_DIR:-/tmp/sorvane-bench}"
work="$bench_dir/msi-$count"
msi="$work/bench.msi"
if [ ! -f "$msi" ]; then
  rm -rf "$work"
  mkdir -p "$work/files"
  echo "msi_bench: building $msi ($count files)..." >&2
  list="$work/files.txt"   # File key, file name, fixture, version
  : >"$list"
  for ((i = 0; i < count; i++)); do
    dll=${sources[i % ${#sources[@]}]}
    name=$(printf 'f%05d_%s' "$i" "$dll")
    cp "$fixtures/$dll" "$work/files/$name"
    printf 'F%05d\t%s\t%s\t%s\n' "$i" "$name" "$dll" "${versions[$dll]}" >>"$list"
  done
  python3 - "$list" "$work/bench.wxs" <<'PY'
import sys
from xml.sax.saxutils import quoteattr
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1])]
out = ['<?xml version="1.0" encoding="utf-8"?>',
       '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
       '<Product Id="*" Name="Bench" Language="1033" Version="1.0.0" Manufacturer="Bench"'
       ' UpgradeCode="12345678-1234-1234-1234-123456789012">',
       '<Package InstallerVersion="200" Compressed="yes"/>',
       '<Media Id="1" Cabinet="bench.cab" EmbedCab="yes"/>',
       '<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">',
       '<Directory Id="INSTALLDIR" Name="Bench Product">']
refs = []
for start in range(0, len(rows), 100):
    out.append('<Directory Id="D%05d" Name="folder%03d">' % (start, start // 100))
    for key, name, _, _ in rows[start:start + 100]:
        n = int(key[1:])
        out.append('<Component Id="C%s" Guid="11111111-2222-3333-4444-%012d">'
                   '<File Id=%s Name=%s Source=%s/></Component>'
                   % (key, n, quoteattr(key), quoteattr(name), quoteattr("files/" + name)))
        refs.append('<ComponentRef Id="C%s"/>' % key)
    out.append('</Directory>')
out.append('</Directory></Directory></Directory>')
out.append('<Feature Id="All" Level="1">' + "".join(refs) + '</Feature>')
out.append('</Product></Wix>')
open(sys.argv[2], "w").write("\n".join(out) + "\n")
PY
  (cd "$work" && wixl -o bench.msi.tmp bench.wxs 2>"$work/wixl.log") ||
    fail "wixl failed: see $work/wixl.log"
  # The File table with each file's declared version, imported back.
  (cd "$work" && msiinfo export bench.msi.tmp File >File.idt)
  python3 - "$list" "$work/File.idt" <<'PY'
import sys
version = {}
for line in open(sys.argv[1]):
    key, _, _, v = line.rstrip("\n").split("\t")
    version[key] = v
lines = open(sys.argv[2], newline="").read().split("\r\n")
for i in range(3, len(lines)):
    if not lines[i]:
        continue
    cells = lines[i].split("\t")
    cells[4] = version[cells[0]]
    cells[5] = "1033"
    lines[i] = "\t".join(cells)
open(sys.argv[2], "w", newline="").write("\r\n".join(lines))
PY
  (cd "$work" && msibuild bench.msi.tmp -i File.idt) || fail "msibuild could not import File.idt"
  mv "$work/bench.msi.tmp" "$msi"
  rm -rf "$work/files"
fi

ls -l "$msi" >&2
cat "$msi" >/dev/null # in the page cache before timing
best="" rss="" summary="" status=0
for _ in 1 2 3; do
  timing=$(mktemp)
  set +e
  /usr/bin/time -o "$timing" -f "%e %M" "$walker" "$msi" >"$timing.out"
  status=$?
  set -e
  # time adds a line of its own before its figures when the walk fails.
  read -r seconds kb < <(tail -n 1 "$timing")
  summary=$(cat "$timing.out")
  rm -f "$timing" "$timing.out"
  if [ -z "$best" ] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
    best=$seconds
  fi
  if [ -z "$rss" ] || [ "$kb" -gt "$rss" ]; then
    rss=$kb
  fi
done
echo "$summary"
awk -v n="$count" -v s="$best" -v kb="$rss" 'BEGIN {
  printf "walk of %d members, every version read: best of 3 %.2f s (%.0f files/s), peak memory %.1f MiB\n",
         n, s, (s > 0 ? n / s : 0), kb / 1024 }'
if [ "$status" -ne 0 ]; then
  echo "msi_bench: some versions disagree with the File table, or members were not read" >&2
  exit 1
fi
