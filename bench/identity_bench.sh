#!/usr/bin/env bash
# Times what reading the identity of .NET assemblies (name, AssemblyVersion,
# culture, public key token from the metadata) adds to `sorvane-cli info`.
#
#   bench/identity_bench.sh [RUNS] [FOLDER]          e.g. bench/identity_bench.sh 7
#
# FOLDER holds the assemblies (default $BENCH_DIR/mono, BENCH_DIR defaulting
# to /tmp/sorvane-bench). When it does not exist it is made from Debian's
# Mono packages without installing them: every libmono-*-cil package and
# mono-devel (whose reference assemblies are most of the files) and
# libmono-cil-dev are fetched with `apt-get download` and unpacked with
# `dpkg -x` into it. Every *.dll and *.exe below it is read (links left out).
#
# Each round runs, one after the other and both over all the files in one
# process:
#   identity    sorvane-cli info --json FILE...
#   without     the same with SORVANE_BENCH_NO_ASSEMBLY=1, a switch kept for
#               this bench that leaves the metadata unread
# Warm: every file is read whole once, and both run once, before the rounds.
# Prints the medians of wall and processor time, the median of each round's
# ratio (goal: identity at most 1.10 x without), the number of files and of
# assemblies whose identity was read.
# SORVANE_CLI names the program (default build/cli/sorvane-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
bench_dir=${BENCH_DIR:-/tmp/sorvane-bench}
folder=${2:-$bench_dir/mono}
cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || { echo "identity_bench: build $cli first" >&2; exit 2; }
[ "$runs" -ge 3 ] || { echo "identity_bench: at least 3 runs" >&2; exit 2; }
if [ ! -d "$folder" ]; then
  debs=$(mktemp -d)
  (cd "$debs" && apt-get download mono-devel libmono-cil-dev \
    $(apt-cache search --names-only '^libmono-.*-cil$' | cut -d' ' -f1)) >/dev/null
  mkdir -p "$folder"
  for deb in "$debs"/*.deb; do dpkg -x "$deb" "$folder"; done
  rm -rf "$debs"
fi
mapfile -t files < <(find "$folder" -type f \( -name '*.dll' -o -name '*.exe' \) | sort)
[ ${#files[@]} -gt 0 ] || { echo "identity_bench: no assemblies in $folder" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run() { # NAME: one timed run
  local status=0
  if [ "$1" = without ]; then
    SORVANE_BENCH_NO_ASSEMBLY=1 python3 bench/timed_run.py "$work/$1.times" "$work/$1.out" \
      "$work/$1.err" "$cli" info --json "${files[@]}" || status=$?
  else
    python3 bench/timed_run.py "$work/$1.times" "$work/$1.out" "$work/$1.err" \
      "$cli" info --json "${files[@]}" || status=$?
  fi
  # 2: a file that could not be read (each has an "error" field); anything
  # else is a failure of the bench.
  [ $status -le 2 ] || { echo "identity_bench: $1 exited $status" >&2; cat "$work/$1.err" >&2; exit 1; }
}
# Warm: every byte of every file in the page cache (they are small, and
# whole), then both once.
cat "${files[@]}" >/dev/null
run identity && run without
rm -f "$work"/*.times
echo "load before: $(uptime)"
for ((i = 1; i <= runs; i++)); do
  run identity
  run without
done
echo "load after:  $(uptime)"
median() {
  awk -v f="$2" '{print (f == 1 ? $1 : $2 + $3)}' "$work/$1.times" | sort -n |
    awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
read_ids=$(grep -c '"assemblyName"' "$work/identity.out" || true)
[ "$(grep -c '"assemblyName"' "$work/without.out" || true)" = 0 ] ||
  { echo "identity_bench: the switch did not leave the metadata unread" >&2; exit 1; }
echo "${#files[@]} files under $folder, $read_ids with an assembly identity read; $runs rounds, medians:"
for name in identity without; do
  printf "  %-9s wall %7.3fs  cpu %7.3fs   (%s)\n" "$name" "$(median $name 1)" "$(median $name 2)" \
    "$(awk '{printf "%.3f ", $1}' "$work/$name.times")"
done
# Each round runs both one after the other, so the ratio of a round's two
# runs is taken at the same speed of the machine; the median of those is
# the figure. (A machine whose speed jumps between runs can put the two
# medians above on different speeds.)
paired() {
  paste "$work/identity.times" "$work/without.times" |
    awk -v f="$1" -v n="$(awk 'END {print NF}' "$work/identity.times")" '{
      a = f == 1 ? $1 : $2 + $3; b = f == 1 ? $(n + 1) : $(n + 2) + $(n + 3)
      print a / b }' | sort -n | awk '{r[NR]=$1} END {printf "%.3f", r[int((NR+1)/2)]}'
}
echo "identity / without, wall  $(paired 1)   (median of the rounds' ratios; goal: at most 1.10)"
echo "identity / without, cpu   $(paired 2)"
