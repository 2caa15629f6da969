#!/usr/bin/env bash
# Times `sorvane-cli compare` on generated trees.
#
#   bench/compare_bench.sh [FILES...]      e.g. bench/compare_bench.sh 20000 100000
#
# For each size (default 20000) it makes two trees with bench/make_trees.py
# (kept in $BENCH_DIR, default /tmp/sorvane-bench, and reused when present),
# reads them once so they are in the page cache, then runs a full compare
# (sub-folders, all rows, JSON to /dev/null) sequentially (--threads 0) and in
# parallel (--threads 4), three times each, and prints the best wall time,
# files per second, the parallel speed-up and the peak memory (max RSS).
# For the first size it also times bench/pefile_info.py reading the same
# files of both trees (an independent reader built on pefile) and prints the
# ratio; PEFILE=0 leaves that out.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/cli/sorvane-cli
[ -x "$cli" ] || { echo "build first: scripts/build" >&2; exit 1; }
bench_dir="${BENCH_DIR:-/tmp/sorvane-bench}"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(20000)

best_run() { # threads -> "seconds maxrss_kb"
  local threads=$1 best="" rss=""
  for _ in 1 2 3; do
    local out timing
    timing=$(mktemp)
    # compare exits 1 when it lists rows: that is no failure here.
    /usr/bin/time -o "$timing" -f "%e %M" "$cli" compare -r "$src" "$tgt" --show all \
      --format json --threads "$threads" >/dev/null 2>/dev/null || true
    out=$(tail -1 "$timing")
    rm -f "$timing"
    local secs=${out% *} kb=${out#* }
    if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
    if [ -z "$rss" ] || [ "$kb" -gt "$rss" ]; then rss=$kb; fi
  done
  echo "$best $rss"
}

printf "%8s %8s %10s %10s %10s %9s %10s\n" files threads seconds files/s speed-up "peak MB" rows
for n in "${sizes[@]}"; do
  dir="$bench_dir/$n"
  if [ ! -d "$dir/source" ]; then
    python3 bench/make_trees.py "$dir" --files "$n" >/dev/null
  fi
  src="$dir/source" tgt="$dir/target"
  find "$src" "$tgt" -type f -exec cat {} + >/dev/null   # warm the page cache
  rows=$("$cli" compare -r "$src" "$tgt" --show all --format csv 2>/dev/null | tail -n +2 | wc -l || true)
  read -r seq_s seq_kb < <(best_run 0)
  read -r par_s par_kb < <(best_run 4)
  [ -n "${par_first:-}" ] || par_first=$par_s
  if [ "${PEFILE:-1}" = 1 ] && [ "$n" = "${sizes[0]}" ]; then
    python=/usr/bin/python3; [ -x $python ] || python=python3
    start=$(date +%s.%N)
    find "$src" "$tgt" -type f -print0 | xargs -0 -n 2000 "$python" bench/pefile_info.py >/dev/null 2>&1
    end=$(date +%s.%N)
    pefile_s=$(awk "BEGIN{print $end - $start}")
  fi
  for row in "0 $seq_s $seq_kb" "4 $par_s $par_kb"; do
    read -r t s kb <<<"$row"
    printf "%8d %8d %10.2f %10.0f %10.2f %9.1f %10d\n" "$n" "$t" "$s" \
      "$(awk "BEGIN{print $n/($s>0?$s:0.001)}")" "$(awk "BEGIN{print $seq_s/($s>0?$s:0.001)}")" \
      "$(awk "BEGIN{print $kb/1024}")" "$rows"
  done
done
if [ -n "${pefile_s:-}" ]; then
  printf "pefile_info.py over the same files of both trees (%s a side): %.1f s; " "${sizes[0]}" "$pefile_s"
  printf "ratio pefile / sorvane-cli compare (parallel): %.1f\n" "$(awk "BEGIN{print $pefile_s/$par_first}")"
fi
