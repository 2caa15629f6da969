#!/usr/bin/env bash
# Times `sorvane-cli compare` against the floor: bench/floor_scan.c, which only
# walks both trees and opens, fstats, reads 4 KiB of and closes every file, on
# one thread.
#
#   bench/floor_bench.sh [FILES] [RUNS]      e.g. bench/floor_bench.sh 20000 7
#
# FILES a side (default 20000) are made by bench/make_trees.py in
# $BENCH_DIR/FILES (default /tmp/sorvane-bench), reused when present, and read
# once so that every run finds them in the page cache. Then RUNS rounds
# (default 7, at least 5) each run, one after the other:
#   floor      build/bench/floor_scan SOURCE TARGET (compiled here when missing)
#   compare    sorvane-cli compare -r SOURCE TARGET --show all --format json
#   threads0   the same with --threads 0 (every file read on the scanning thread)
#   before     the same compare with $BEFORE_CLI, when that is set (an older
#              build, to measure a change in the same run)
# and prints the median wall time of each, the ratios, and the load (uptime)
# before and after. The machine is shared, so only the ratios of one run
# mean much. It also checks that all compares print the same JSON.
#
# SORVANE_CLI names the program (default build/cli/sorvane-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-20000}
runs=${2:-7}
[ "$runs" -ge 5 ] || { echo "floor_bench: at least 5 runs" >&2; exit 2; }
cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || { echo "floor_bench: build $cli first" >&2; exit 2; }
floor=build/bench/floor_scan
if [ ! -x "$floor" ] || [ bench/floor_scan.c -nt "$floor" ]; then
  mkdir -p build/bench
  cc -O2 -o "$floor" bench/floor_scan.c
fi
dir="${BENCH_DIR:-/tmp/sorvane-bench}/$n"
[ -d "$dir/source" ] || python3 bench/make_trees.py "$dir" --files "$n" >/dev/null
src="$dir/source" tgt="$dir/target"
find "$src" "$tgt" -type f -exec cat {} + >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
names=(floor compare threads0)
cmd_floor=("$floor" "$src" "$tgt")
cmd_compare=("$cli" compare -r "$src" "$tgt" --show all --format json)
cmd_threads0=("${cmd_compare[@]}" --threads 0)
if [ -n "${BEFORE_CLI:-}" ]; then
  names+=(before)
  cmd_before=("$BEFORE_CLI" compare -r "$src" "$tgt" --show all --format json)
fi

echo "load before: $(uptime)"
for ((i = 1; i <= runs; i++)); do
  for name in "${names[@]}"; do
    declare -n cmd="cmd_$name"
    start=$(date +%s%N)
    # compare exits 1 when it lists rows: that is no failure here.
    "${cmd[@]}" >"$work/$name.out" 2>/dev/null || true
    echo $(($(date +%s%N) - start)) >>"$work/$name.times"
    unset -n cmd
  done
done
echo "load after:  $(uptime)"

median() { sort -n "$work/$1.times" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)] / 1e9}'; }
echo "files a side: $n ($(grep -c . <(find "$src" -type f)) source, $(grep -c . <(find "$tgt" -type f)) target), $runs rounds, median seconds:"
for name in "${names[@]}"; do
  printf "  %-9s %7.3f s   (all: %s)\n" "$name" "$(median "$name")" \
    "$(awk '{printf "%.3f ", $1/1e9}' "$work/$name.times")"
done
f=$(median floor) c=$(median compare) t=$(median threads0)
awk -v f="$f" -v c="$c" -v t="$t" 'BEGIN {
  printf "compare / floor           %5.2f   (goal: at most 1.20)\n", c / f
  printf "threads0 / compare        %5.2f   (goal: at least 1.40)\n", t / c
}'
if [ -n "${BEFORE_CLI:-}" ]; then
  awk -v b="$(median before)" -v c="$c" -v f="$f" 'BEGIN {
    printf "before / floor            %5.2f\n", b / f
    printf "before / compare          %5.2f\n", b / c
  }'
fi
status=0
for name in "${names[@]}"; do
  [ "$name" = floor ] && continue
  cmp -s "$work/compare.out" "$work/$name.out" || { echo "JSON of $name differs from compare" >&2; status=1; }
done
[ $status -eq 0 ] && echo "every compare printed the same JSON ($(wc -c <"$work/compare.out") bytes)"
exit $status
