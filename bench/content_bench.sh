#!/usr/bin/env bash
# Times `sorvane-cli compare --content` against what reading the versions and
# hashing every byte costs on its own:
#
#   bench/content_bench.sh [FILES] [RUNS] [GIB]     e.g. bench/content_bench.sh 20000 5 1
#
# 1. Trees: FILES equal pairs (default 20000), Wine's PE files and fonts of at
#    most 256 KiB each written whole (bench/make_wine_trees.py --equal --whole
#    --max-bytes 262144), in $BENCH_DIR/content-FILES (default
#    /tmp/sorvane-bench). Every pair has the same version and size, so
#    --content reads every byte of both trees. Warm: everything is read once
#    before the rounds. Each round runs, one after the other:
#      floor     build/bench/floor_versions SOURCE TARGET (bench/floor_bench.sh)
#      xxhsum    xxhsum -H2 over every file of both trees (one process per
#                few thousand files, by xargs)
#      content   sorvane-cli compare -r SOURCE TARGET --content --show all --format json
#      plain     the same compare without --content (for scale)
#    Goal: content at most 1.3 x (floor + xxhsum), medians of wall times.
# 2. Large files: SOURCE/big.dll, a versioned PE file followed by GIB GiB
#    (default 1) of random bytes, and an equal copy as TARGET/big.dll. Each
#    round runs `xxhsum -H2` over both files and the compare with --content;
#    the throughput of each is the bytes hashed (both files) over its wall
#    time. Goal: compare at least 0.8 x xxhsum's throughput.
#
# Prints the medians (wall, processor time, page faults), the ratios, and the
# load before and after; on a machine others keep busy the ratios of one run
# mean more than the times. SORVANE_CLI names the program (default
# build/cli/sorvane-cli).
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-20000}
runs=${2:-5}
gib=${3:-1}
[ "$runs" -ge 3 ] || { echo "content_bench: at least 3 runs" >&2; exit 2; }
cli=${SORVANE_CLI:-build/cli/sorvane-cli}
[ -x "$cli" ] || { echo "content_bench: build $cli first" >&2; exit 2; }
command -v xxhsum >/dev/null || { echo "content_bench: no xxhsum (package xxhash)" >&2; exit 2; }
mkdir -p build/bench
if [ ! -x build/bench/floor_versions ] || [ bench/floor_versions.c -nt build/bench/floor_versions ]; then
  cc -O2 -o build/bench/floor_versions bench/floor_versions.c
fi
bench_dir=${BENCH_DIR:-/tmp/sorvane-bench}
dir=$bench_dir/content-$n
[ -d "$dir/source" ] ||
  python3 bench/make_wine_trees.py "$dir" --files "$n" --equal --whole --max-bytes 262144 >/dev/null
src=$dir/source tgt=$dir/target
big=$bench_dir/content-big-$gib
if [ ! -f "$big/target/big.dll" ]; then
  mkdir -p "$big/source" "$big/target"
  # The first library of the tree with a version, so the pair gets a row.
  first=
  while IFS= read -r candidate; do
    if "$cli" info --json "$candidate" | grep -q '"version": "[0-9]'; then
      first=$candidate
      break
    fi
  done < <(find "$src" -name '*.dll' -type f)
  [ -n "$first" ] || { echo "content_bench: no versioned library in $src" >&2; exit 2; }
  { cat "$first"; head -c "${gib}G" /dev/urandom; } >"$big/source/big.dll"
  cp "$big/source/big.dll" "$big/target/big.dll"
fi
big_bytes=$(($(stat -c %s "$big/source/big.dll") * 2))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hash_trees() { find "$src" "$tgt" -type f -print0 | xargs -0 xxhsum -H2; }
export -f hash_trees
export src tgt
names=(floor xxhsum content plain bigxxh bigcontent)
cmd_floor=(build/bench/floor_versions "$src" "$tgt")
cmd_xxhsum=(bash -c hash_trees)
cmd_content=("$cli" compare -r "$src" "$tgt" --content --show all --format json)
cmd_plain=("$cli" compare -r "$src" "$tgt" --show all --format json)
cmd_bigxxh=(xxhsum -H2 "$big/source/big.dll" "$big/target/big.dll")
cmd_bigcontent=("$cli" compare "$big/source" "$big/target" --content --show all --format json)
# Warm: every byte of both trees and of the large files, once.
for name in "${names[@]}"; do
  declare -n cmd="cmd_$name"
  "${cmd[@]}" >/dev/null 2>&1 || true
  unset -n cmd
done

echo "load before: $(uptime)"
for ((i = 1; i <= runs; i++)); do
  for name in "${names[@]}"; do
    declare -n cmd="cmd_$name"
    status=0
    python3 bench/timed_run.py "$work/$name.times" "$work/$name.out" "$work/$name.err" \
      "${cmd[@]}" || status=$?
    # compare exits 1 when it lists rows; anything above is a failure.
    if [ "$status" -gt 1 ] || { [ "$status" -ne 0 ] && [[ $name != *content && $name != plain ]]; }; then
      echo "content_bench: $name exited $status:" >&2
      cat "$work/$name.err" >&2
      exit 1
    fi
    unset -n cmd
  done
done
echo "load after:  $(uptime)"

median() {
  awk -v f="$2" '{print (f == 1 ? $1 : f == 2 ? $2 + $3 : $4)}' "$work/$1.times" | sort -n |
    awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
echo "$n equal pairs a side ($(du -sh --apparent-size "$src" | cut -f1) a tree), warm, $runs rounds, medians:"
printf "  %-11s %8s %8s %8s   %s\n" "" wall cpu faults "(every wall time)"
for name in "${names[@]}"; do
  printf "  %-11s %7.3fs %7.3fs %8d   (%s)\n" "$name" "$(median "$name" 1)" "$(median "$name" 2)" \
    "$(median "$name" 3)" "$(awk '{printf "%.3f ", $1}' "$work/$name.times")"
done
f=$(median floor 1) x=$(median xxhsum 1) c=$(median content 1) p=$(median plain 1)
bx=$(median bigxxh 1) bc=$(median bigcontent 1)
awk -v f="$f" -v x="$x" -v c="$c" -v p="$p" -v bx="$bx" -v bc="$bc" -v bytes="$big_bytes" 'BEGIN {
  printf "content / (floor + xxhsum), wall   %5.2f   (goal: at most 1.30)\n", c / (f + x)
  printf "content / plain compare, wall      %5.2f\n", c / p
  printf "large files (2 x %.2f GiB): xxhsum %.0f MiB/s, compare --content %.0f MiB/s\n", bytes / 2 / 1073741824, bytes / bx / 1048576, bytes / bc / 1048576
  printf "compare / xxhsum throughput        %5.2f   (goal: at least 0.80)\n", bx / bc
}'
# The compare found every pair equal, and the large pair too.
grep -q '"differentSize": 0' "$work/content.out" || { echo "content: a pair was not equal" >&2; exit 1; }
grep -q '"mark": "="' "$work/bigcontent.out" || { echo "bigcontent: the pair was not equal" >&2; exit 1; }
