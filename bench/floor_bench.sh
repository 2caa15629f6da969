#!/usr/bin/env bash
# Times `sorvane-cli compare` against the floor: bench/floor_versions.c, one
# thread that walks the source tree and reads of each file, and of its target
# when it has a version, exactly what a version reader must (headers, section
# table, the resource directory's path to the version resource and the
# version block; a font's table directory and name table).
#
#   bench/floor_bench.sh [--synthetic] [--cold] [FILES] [RUNS]
#                                          e.g. bench/floor_bench.sh 20000 7
#
# The trees, FILES a side (default 20000), are made once and then reused:
#   default      Wine's PE files and fonts, by bench/make_wine_trees.py, in
#                $BENCH_DIR/wine-FILES (default /tmp/sorvane-bench)
#   --synthetic  the small generated PE files of bench/make_trees.py, in
#                $BENCH_DIR/FILES
# Warm (the default): the trees are read once by the floor and by compare
# before the rounds, so every run finds what it reads in the page cache.
# --cold: the page cache, dentries and inodes are dropped before every run
# (`echo 3 > /proc/sys/vm/drop_caches`: root only).
#
# Then RUNS rounds (default 7, at least 5) each run, one after the other:
#   floor      build/bench/floor_versions SOURCE TARGET (compiled when missing)
#   read4k     build/bench/floor_scan SOURCE TARGET: both trees walked, 4 KiB of
#              every file read, nothing parsed (for scale)
#   compare    sorvane-cli compare -r SOURCE TARGET --show all --format json
#   threads0   the same with --threads 0 (every file read on the scanning thread)
#   before     the same compare with $BEFORE_CLI, when that is set (an older
#              build, to measure a change in the same run)
# and prints the median wall time, processor time (user + system) and minor
# page faults of each, the ratios with the goals, and the load (uptime) before
# and after, and the median of each round's ratios (steadier where the
# machine's speed jumps between runs). On a busy machine only the ratios of
# one run mean much, and the processor times more than the wall times. It
# also checks that all compares print the same JSON.
#
# On a machine that others keep busy, running it as root under a real-time
# policy (`chrt -f 10 bench/floor_bench.sh`) keeps the other processes off the
# cores for the few seconds it takes and gives steady times; the real-time
# scheduler is not the normal one, so say which way the figures were taken.
#
# Each run is timed by bench/timed_run.py, from the run's own resource use.
# SORVANE_CLI names the program (default build/cli/sorvane-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
trees=wine cold=0
while [ $# -gt 0 ]; do
  case $1 in
    --synthetic) trees=synthetic; shift ;;
    --cold) cold=1; shift ;;
    -*) echo "floor_bench: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
n=${1:-20000}
runs=${2:-7}
[ "$runs" -ge 5 ] || { echo "floor_bench: at least 5 runs" >&2; exit 2; }
cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || { echo "floor_bench: build $cli first" >&2; exit 2; }
if [ $cold = 1 ] && ! { : >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  echo "floor_bench: --cold needs root, to write /proc/sys/vm/drop_caches" >&2
  exit 2
fi
mkdir -p build/bench
for program in floor_versions floor_scan; do
  if [ ! -x "build/bench/$program" ] || [ "bench/$program.c" -nt "build/bench/$program" ]; then
    cc -O2 -o "build/bench/$program" "bench/$program.c"
  fi
done
bench_dir=${BENCH_DIR:-/tmp/sorvane-bench}
if [ $trees = wine ]; then
  dir=$bench_dir/wine-$n
  [ -d "$dir/source" ] || python3 bench/make_wine_trees.py "$dir" --files "$n" >/dev/null
else
  dir=$bench_dir/$n
  [ -d "$dir/source" ] || python3 bench/make_trees.py "$dir" --files "$n" >/dev/null
fi
src="$dir/source" tgt="$dir/target"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
names=(floor read4k compare threads0)
cmd_floor=(build/bench/floor_versions "$src" "$tgt")
cmd_read4k=(build/bench/floor_scan "$src" "$tgt")
cmd_compare=("$cli" compare -r "$src" "$tgt" --show all --format json)
cmd_threads0=("${cmd_compare[@]}" --threads 0)
if [ -n "${BEFORE_CLI:-}" ]; then
  names+=(before)
  cmd_before=("$BEFORE_CLI" compare -r "$src" "$tgt" --show all --format json)
fi
# Warm: what each program reads, never the holes of the sparse Wine trees.
if [ $cold = 0 ]; then
  "${cmd_floor[@]}" >/dev/null
  "${cmd_read4k[@]}" >/dev/null
  "${cmd_compare[@]}" >/dev/null || true
fi

echo "load before: $(uptime)"
for ((i = 1; i <= runs; i++)); do
  for name in "${names[@]}"; do
    declare -n cmd="cmd_$name"
    if [ $cold = 1 ]; then
      sync
      echo 3 >/proc/sys/vm/drop_caches
    fi
    # compare exits 1 when it lists rows: that is no failure here. Anything
    # else (2, a crash, a floor that found nothing) ends the bench.
    status=0
    python3 bench/timed_run.py "$work/$name.times" "$work/$name.out" "$work/$name.err" \
      "${cmd[@]}" || status=$?
    if [ "$status" -gt 1 ] || { [ "$name" != compare ] && [ "$name" != threads0 ] &&
         [ "$name" != before ] && [ "$status" -ne 0 ]; }; then
      echo "floor_bench: $name exited $status:" >&2
      cat "$work/$name.err" >&2
      exit 1
    fi
    unset -n cmd
  done
done
echo "load after:  $(uptime)"

# median NAME FIELD: 1 the wall time, 2 the processor time (user + system),
# 3 user, 4 system, 5 minor and 6 major page faults.
median() {
  awk -v f="$2" '{print (f == 1 ? $1 : f == 2 ? $2 + $3 : f == 3 ? $2 : f == 4 ? $3 : f == 5 ? $4 : $5)}' \
    "$work/$1.times" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
echo "$trees trees, $([ $cold = 1 ] && echo cold || echo warm), $n files a side" \
  "($(find "$src" -type f | wc -l) source, $(find "$tgt" -type f | wc -l) target), $runs rounds, medians:"
printf "  %-9s %8s %8s %8s %8s %8s %7s   %s\n" "" wall cpu user sys faults major "(every wall time)"
for name in "${names[@]}"; do
  printf "  %-9s %7.3fs %7.3fs %7.3fs %7.3fs %8d %7d   (%s)\n" "$name" "$(median "$name" 1)" \
    "$(median "$name" 2)" "$(median "$name" 3)" "$(median "$name" 4)" "$(median "$name" 5)" \
    "$(median "$name" 6)" "$(awk '{printf "%.3f ", $1}' "$work/$name.times")"
done
echo "  floor: $(cat "$work/floor.out")"
f=$(median floor 1) c=$(median compare 1) t=$(median threads0 1)
fc=$(median floor 2) cc=$(median compare 2) tc=$(median threads0 2)
awk -v f="$f" -v c="$c" -v t="$t" -v fc="$fc" -v cc="$cc" -v tc="$tc" -v cold="$cold" 'BEGIN {
  printf "compare / floor, cpu      %5.2f   (goal: at most 1.20)\n", cc / fc
  printf "compare / floor, wall     %5.2f   (goal: at most %s)\n", c / f, cold ? "0.70" : "1.00"
  printf "threads0 / floor, cpu     %5.2f\n", tc / fc
  printf "threads0 / compare, wall  %5.2f   (what the reading threads gain)\n", t / c
  printf "compare / threads0, cpu   %5.2f   (the cost of reading in parallel)\n", cc / tc
}'
# The runs of a round follow one another, so a round's ratio is taken at one
# speed of the machine; their median stays put where the machine's speed
# jumps between runs and the medians above may not.
paired() { # A B FIELD (1 wall, 2 processor time)
  paste "$work/$1.times" "$work/$2.times" | awk -v f="$3" '{
    a = f == 1 ? $1 : $2 + $3; b = f == 1 ? $6 : $7 + $8; print a / b }' |
    sort -n | awk '{r[NR]=$1} END {printf "%5.2f", r[int((NR+1)/2)]}'
}
echo "median of the rounds' ratios: compare / floor cpu $(paired compare floor 2)," \
  "wall $(paired compare floor 1); threads0 / floor cpu $(paired threads0 floor 2)"
if [ -n "${BEFORE_CLI:-}" ]; then
  b=$(median before 1) bc=$(median before 2)
  awk -v b="$b" -v c="$c" -v f="$f" -v bc="$bc" -v cc="$cc" -v fc="$fc" 'BEGIN {
    printf "before / floor, cpu       %5.2f\n", bc / fc
    printf "before / floor, wall      %5.2f\n", b / f
    printf "before / compare, wall    %5.2f\n", b / c
  }'
fi
status=0
[ -s "$work/compare.out" ] || { echo "compare printed nothing" >&2; status=1; }
for name in "${names[@]}"; do
  case $name in floor | read4k) continue ;; esac
  cmp -s "$work/compare.out" "$work/$name.out" || { echo "JSON of $name differs from compare" >&2; status=1; }
done
[ $status -eq 0 ] && echo "every compare printed the same JSON ($(wc -c <"$work/compare.out") bytes)"
exit $status
