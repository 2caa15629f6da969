#!/usr/bin/env bash
# How `sorvane-cli compare` grows with the number of files: time and peak
# memory on trees of hard links from 100,000 to 1,000,000 files a side.
#
#   bench/scale_bench.sh [FILES...] [-r RUNS]   default: 100000 300000 1000000, 3 runs
#
# The trees are made once by bench/make_link_trees.py from the 20,000-file
# trees of bench/make_trees.py, in $BENCH_DIR/links-FILES (default
# /tmp/sorvane-bench; the time it takes is printed) and kept for the next
# run; `rm -rf $BENCH_DIR/links-*` removes them. Each size is read once to
# fill the page cache; then the sizes are run in turn, RUNS rounds, each two
# full compares (sub-folders, all rows, JSON to a temporary file whose rows are
# counted) with the default threads:
#   streamed   the rows in the order they are found, written as they come
#   held       --sort name: every row is kept until the scan ends, sorted,
#              then written (what the window holds, and its memory per row)
# For each size and way it prints the median wall and processor time, the
# time per file, its ratio to the smallest size (1.00 is linear growth; "cpu
# gr." is the same for the processor time, which a busy machine disturbs
# less), the peak memory (max RSS), the rows listed and the bytes of peak
# memory per row. The load (uptime) is printed before and after.
#
# SORVANE_CLI names the program (default build/cli/sorvane-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=() runs=3
while [ $# -gt 0 ]; do
  case $1 in
    -r) runs=$2; shift 2 ;;
    *) sizes+=("$1"); shift ;;
  esac
done
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 300000 1000000)
cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || { echo "scale_bench: build $cli first" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "scale_bench: needs /usr/bin/time (apt-get install time)" >&2; exit 2; }
bench_dir=${BENCH_DIR:-/tmp/sorvane-bench}
base=$bench_dir/20000
[ -d "$base/source" ] || python3 bench/make_trees.py "$base" --files 20000 >/dev/null
for n in "${sizes[@]}"; do
  dir=$bench_dir/links-$n
  if [ ! -d "$dir/source" ]; then
    rm -rf "$dir"
    python3 bench/make_link_trees.py "$base" "$dir" --files "$n"
  fi
done
# Hard links share their data, so reading the base warms every tree; the
# walk of each tree is warmed by listing it.
find "$base" -type f -exec cat {} + >/dev/null
for n in "${sizes[@]}"; do find "$bench_dir/links-$n" >/dev/null; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load before: $(uptime)"
ways=(streamed held)
args_streamed=()
args_held=(--sort name)
for ((i = 1; i <= runs; i++)); do
  for n in "${sizes[@]}"; do
    dir=$bench_dir/links-$n
    for way in "${ways[@]}"; do
      declare -n extra="args_$way"
      # compare exits 1 when it lists rows: that is no failure here; 2 or a
      # crash ends the bench.
      status=0
      /usr/bin/time -o "$work/time" -f "%e %U %S %M" "$cli" compare -r "$dir/source" "$dir/target" \
        --show all --format json "${extra[@]}" >"$work/out-$way-$n.json" 2>"$work/err" || status=$?
      if [ "$status" -gt 1 ]; then
        echo "scale_bench: compare of $n files ($way) exited $status:" >&2
        cat "$work/err" >&2
        exit 1
      fi
      unset -n extra
      tail -1 "$work/time" >>"$work/$way-$n.times"
    done
  done
done
echo "load after:  $(uptime)"

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
for way in "${ways[@]}"; do
echo "$way:"
printf "%9s %9s %8s %8s %9s %7s %7s %9s %10s\n" files rows wall cpu "us/file" growth "cpu gr." "peak MB" bytes/row
first="" first_cpu=""
for n in "${sizes[@]}"; do
  times=$work/$way-$n.times
  wall=$(awk '{print $1}' "$times" | median)
  cpu=$(awk '{print $2 + $3}' "$times" | median)
  kb=$(awk '{print $4}' "$times" | sort -n | tail -1)
  rows=$(grep -c '"mark":' "$work/out-$way-$n.json" || true)
  per=$(awk -v w="$wall" -v n="$n" 'BEGIN {print w / n * 1e6}')
  per_cpu=$(awk -v c="$cpu" -v n="$n" 'BEGIN {print c / n * 1e6}')
  [ -n "$first" ] || first=$per first_cpu=$per_cpu
  printf "%9d %9d %7.2fs %7.2fs %9.2f %7.2f %7.2f %9.1f %10.0f\n" "$n" "$rows" "$wall" "$cpu" "$per" \
    "$(awk -v p="$per" -v f="$first" 'BEGIN {print p / f}')" \
    "$(awk -v p="$per_cpu" -v f="$first_cpu" 'BEGIN {print p / f}')" "$(awk -v k="$kb" 'BEGIN {print k / 1024}')" \
    "$(awk -v k="$kb" -v r="$rows" 'BEGIN {print (r > 0 ? k * 1024 / r : 0)}')"
done
done
