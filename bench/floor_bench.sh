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
# and prints the median wall and processor time (user + system) of each, the
# ratios, and the load (uptime) before and after. On a busy machine only the
# ratios of one run mean much, and the processor times more than the wall
# times. It also checks that all compares print the same JSON.
#
# On a machine that others keep busy, running it as root under a real-time
# policy (`chrt -f 10 bench/floor_bench.sh`) keeps the other processes off the
# cores for the few seconds it takes and gives steady times; the real-time
# scheduler is not the normal one, so say which way the figures were taken.
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
# Wall, user and system seconds of each run, by the shell's own clock.
TIMEFORMAT='%3R %3U %3S'
for ((i = 1; i <= runs; i++)); do
  for name in "${names[@]}"; do
    declare -n cmd="cmd_$name"
    # compare exits 1 when it lists rows: that is no failure here. Anything
    # else (2, a crash, a floor that found nothing) ends the bench.
    status=0
    { time "${cmd[@]}" >"$work/$name.out" 2>"$work/$name.err"; } 2>>"$work/$name.times" || status=$?
    if [ "$status" -gt 1 ] || { [ "$name" = floor ] && [ "$status" -ne 0 ]; }; then
      echo "floor_bench: $name exited $status:" >&2
      cat "$work/$name.err" >&2
      exit 1
    fi
    unset -n cmd
  done
done
echo "load after:  $(uptime)"

# median NAME FIELD: FIELD 1 is the wall time, 2 the processor time (user + system).
median() {
  awk -v f="$2" '{print (f == 1 ? $1 : $2 + $3)}' "$work/$1.times" | sort -n |
    awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
echo "files a side: $n ($(grep -c . <(find "$src" -type f)) source, $(grep -c . <(find "$tgt" -type f)) target), $runs rounds, medians:"
printf "  %-9s %8s %8s   %s\n" "" wall cpu "(every wall time)"
for name in "${names[@]}"; do
  printf "  %-9s %7.3fs %7.3fs   (%s)\n" "$name" "$(median "$name" 1)" "$(median "$name" 2)" \
    "$(awk '{printf "%s ", $1}' "$work/$name.times")"
done
f=$(median floor 1) c=$(median compare 1) t=$(median threads0 1)
fc=$(median floor 2) cc=$(median compare 2) tc=$(median threads0 2)
awk -v f="$f" -v c="$c" -v t="$t" -v fc="$fc" -v cc="$cc" -v tc="$tc" 'BEGIN {
  printf "compare / floor, wall     %5.2f   (goal: at most 1.20)\n", c / f
  printf "threads0 / compare, wall  %5.2f   (goal: at least 1.40)\n", t / c
  printf "compare / floor, cpu      %5.2f   (the work done; on 2 cores the wall goal needs about 2.4 or less)\n", cc / fc
  printf "compare / threads0, cpu   %5.2f   (the cost of reading in parallel)\n", cc / tc
}'
if [ -n "${BEFORE_CLI:-}" ]; then
  b=$(median before 1) bc=$(median before 2)
  awk -v b="$b" -v c="$c" -v f="$f" -v bc="$bc" -v cc="$cc" -v fc="$fc" 'BEGIN {
    printf "before / floor, wall      %5.2f\n", b / f
    printf "before / compare, wall    %5.2f\n", b / c
    printf "before / floor, cpu       %5.2f\n", bc / fc
  }'
fi
status=0
[ -s "$work/compare.out" ] || { echo "compare printed nothing" >&2; status=1; }
for name in "${names[@]}"; do
  [ "$name" = floor ] && continue
  cmp -s "$work/compare.out" "$work/$name.out" || { echo "JSON of $name differs from compare" >&2; status=1; }
done
[ $status -eq 0 ] && echo "every compare printed the same JSON ($(wc -c <"$work/compare.out") bytes)"
exit $status
