#!/usr/bin/env bash
# Checks that two builds of sorvane-cli print the same bytes: after a change
# meant only to make the program faster, nothing it prints may change.
#
#   bench/same_output.sh OLD_CLI NEW_CLI [TREE...]
#
# A TREE is a folder holding source/ and target/ (as the bench scripts make
# them). For each: `compare -r` as a table, `--format json`, `--show all`
# (table and JSON), and `--threads 0`; then `info`, `info --all` and
# `info --json` over every file of its source tree, in batches. Then the same
# info runs over the test fixtures (build/tests/fixtures/files) and the
# hostile files of bench/make_attack_files.py (written to a temporary folder),
# and `compare -r` of those folders against copies of themselves and an
# empty folder.
# Prints one line per check and, for a difference, the first lines of the
# diff; exit status 1 when anything differs.
set -uo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { echo "usage: bench/same_output.sh OLD_CLI NEW_CLI [TREE...]" >&2; exit 2; }
old=$1 new=$2
shift 2
for cli in "$old" "$new"; do
  [ -x "$cli" ] || { echo "same_output: $cli is no program" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differ=0 checks=0

# check NAME ARGS...: runs both programs with ARGS and compares output and
# exit status.
check() {
  local name=$1
  shift
  local a b
  "$old" "$@" >"$work/old.out" 2>"$work/old.err"
  a=$?
  "$new" "$@" >"$work/new.out" 2>"$work/new.err"
  b=$?
  checks=$((checks + 1))
  if [ $a -ne $b ] || ! cmp -s "$work/old.out" "$work/new.out" ||
     ! cmp -s "$work/old.err" "$work/new.err"; then
    differ=$((differ + 1))
    echo "DIFFERS  $name (exit $a, $b)"
    diff "$work/old.out" "$work/new.out" | head -n 6
    diff "$work/old.err" "$work/new.err" | head -n 4
  else
    echo "same     $name ($(wc -c <"$work/new.out") bytes, exit $b)"
  fi
}

# info_over NAME FOLDER: the three info forms over every file below FOLDER,
# 2,000 files a run.
info_over() {
  local name=$1 folder=$2
  find "$folder" -type f | LC_ALL=C sort >"$work/files"
  split -l 2000 -d "$work/files" "$work/batch."
  for batch in "$work"/batch.*; do
    mapfile -t files <"$batch"
    check "info $name $(basename "$batch")" info "${files[@]}"
    check "info --all $name $(basename "$batch")" info --all "${files[@]}"
    check "info --json $name $(basename "$batch")" info --json "${files[@]}"
  done
  rm -f "$work"/batch.*
}

compare_over() {
  local name=$1 source=$2 target=$3
  check "compare $name" compare -r "$source" "$target"
  check "compare --format json $name" compare -r "$source" "$target" --format json
  check "compare --show all $name" compare -r "$source" "$target" --show all
  check "compare --show all --format json $name" compare -r "$source" "$target" --show all --format json
  check "compare --show all --format json --threads 0 $name" compare -r "$source" "$target" \
    --show all --format json --threads 0
}

for tree in "$@"; do
  compare_over "$tree" "$tree/source" "$tree/target"
  info_over "$tree" "$tree/source"
done

mkdir -p "$work/empty"
fixtures=build/tests/fixtures/files
if [ -n "$(ls -A "$fixtures" 2>/dev/null)" ]; then
  info_over fixtures "$fixtures"
  mkdir -p "$work/fixtures-copy"
  cp -a "$fixtures/." "$work/fixtures-copy/"
  compare_over fixtures "$fixtures" "$work/fixtures-copy"
  compare_over "fixtures against nothing" "$fixtures" "$work/empty"
else
  echo "no fixtures in $fixtures: cmake --build build --target tool_fixtures"
fi
python3 bench/make_attack_files.py "$work/attack" >/dev/null
info_over "attack files" "$work/attack"
compare_over "attack files against nothing" "$work/attack" "$work/empty"
mkdir -p "$work/attack-copy"
cp -a "$work/attack/." "$work/attack-copy/"
compare_over "attack files" "$work/attack" "$work/attack-copy"

echo "$checks checks, $differ differ"
[ $differ -eq 0 ]
