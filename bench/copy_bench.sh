#!/usr/bin/env bash
# Copy throughput of `sorvane-cli copy` against `cp -a` of the same files.
#
#   bench/copy_bench.sh [FILES] [MIB] [RUNS]     default: 1000 files of 1 MiB, 3 runs
#
# Makes (once, in $BENCH_DIR, default /tmp/sorvane-copy-bench) a source tree of
# FILES versioned PE files of MIB MiB each at version 2, in 10 folders, and a
# pristine target tree of the same names at version 1, so that every file is
# a Newer Source row. Each run, for each contender in turn (the order rotates
# from run to run):
#   - the target is restored from the pristine tree, untimed;
#   - the source is read once, so it comes from a warm page cache for every
#     contender (the caches are never dropped: reading is not what is measured);
#   - sync, so no contender pays for the dirty pages of the one before;
#   - the copy is timed.
# Contenders:
#   copy          sorvane-cli copy -r --no-backup: temporary file, fsync, rename per file
#   copy+backup   sorvane-cli copy -r: the same after a backup of each target file
#   copy/nofsync  eatmydata sorvane-cli copy -r --no-backup: fsync made a no-op, to see
#                 what the flushes cost (skipped when eatmydata is not installed:
#                 Debian package eatmydata)
#   copy+backup/nofsync   the same for the run with backup
#   cp -a         cp -a SOURCE/. TARGET/: in place, into the page cache, no flush
#   cp -a+sync    cp -a, then sync: until the bytes are on the disk
# and once, the scan alone (sorvane-cli compare -r --list newer-source).
# MiB/s counts the source bytes brought to the target (FILES x MIB); the backup
# run writes twice that. The trees stay for the next run; other large trees
# written recently (an earlier target kept by hand) leave less page cache and
# slowed the backup run here from 3.5 s to 5-7 s.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build/cli/sorvane-cli
[ -x "$cli" ] || { echo "build first: cmake --build build --target sorvane-cli" >&2; exit 1; }
files=${1:-1000}
mib=${2:-1}
runs=${3:-3}
dir="${BENCH_DIR:-/tmp/sorvane-copy-bench}/${files}x${mib}"
src=$dir/source pristine=$dir/target.pristine tgt=$dir/target

if [ ! -d "$pristine" ]; then
  rm -rf "$dir"
  python3 - "$dir" "$files" "$mib" <<'EOF'
import os, random, sys
sys.path.insert(0, "bench")
from make_trees import pe_file, version_block
out, files, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(1)
size = mib << 20
for i in range(files):
    name = os.path.join("d%02d" % (i % 10), "file%05d.dll" % i)
    filler = rng.randbytes(size)  # no run of zeros a file system could skip
    for side, major in (("source", 2), ("target.pristine", 1)):
        block = version_block((major, 0, 0, i % 65536), 0x0409, "Component %d" % i, "(c) Bench")
        head = pe_file(block, 0x0409, 0)
        path = os.path.join(out, side, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(head + filler[len(head):])
EOF
fi

restore() {
  rm -rf "$tgt"
  cp -a "$pristine" "$tgt"
  find "$src" -type f -exec cat {} + >/dev/null
  sync
}

# Runs one contender and prints its wall time in seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  case $1 in
    copy) "$cli" copy -r --no-backup "$src" "$tgt" >/dev/null ;;
    copy+backup) "$cli" copy -r "$src" "$tgt" >/dev/null ;;
    copy/nofsync) eatmydata "$cli" copy -r --no-backup "$src" "$tgt" >/dev/null ;;
    copy+backup/nofsync) eatmydata "$cli" copy -r "$src" "$tgt" >/dev/null ;;
    "cp -a") cp -a "$src/." "$tgt/" ;;
    "cp -a+sync") cp -a "$src/." "$tgt/" && sync ;;
  esac
  end=$(date +%s.%N)
  awk "BEGIN{print $end - $start}"
}

contenders=("copy" "cp -a" "copy+backup" "cp -a+sync")
command -v eatmydata >/dev/null && contenders+=("copy/nofsync" "copy+backup/nofsync")
declare -A times
for ((run = 0; run < runs; run++)); do
  n=${#contenders[@]}
  for ((k = 0; k < n; k++)); do
    c=${contenders[$(((k + run) % n))]}
    restore
    t=$(timed "$c")
    # Each copy must have brought every file over.
    if [ "$("$cli" compare -r "$src" "$tgt" --list newer-source | wc -l)" != 0 ]; then
      echo "$c left files behind" >&2
      exit 1
    fi
    times[$c]="${times[$c]:-} $t"
  done
done

restore
start=$(date +%s.%N)
"$cli" compare -r "$src" "$tgt" --list newer-source >/dev/null || true
end=$(date +%s.%N)
scan=$(awk "BEGIN{print $end - $start}")

total=$((files * mib))
echo "$files files of $mib MiB ($total MiB), $runs runs each, order rotated, source in a warm page cache"
printf "%-20s %10s %10s %10s %10s\n" contender best median "MiB/s" "(median)"
for c in "${contenders[@]}"; do
  read -r -a list <<<"${times[$c]}"
  sorted=$(printf "%s\n" "${list[@]}" | sort -g)
  best=$(head -1 <<<"$sorted")
  median=$(sed -n "$(((${#list[@]} + 1) / 2))p" <<<"$sorted")
  printf "%-20s %9.2fs %9.2fs %10.0f %10.0f\n" "$c" "$best" "$median" \
    "$(awk "BEGIN{print $total / $best}")" "$(awk "BEGIN{print $total / $median}")"
done
printf "%-20s %9.2fs  (the scan of both trees alone, as copy makes it first)\n" "scan" "$scan"
rm -rf "$tgt"
