#!/usr/bin/env bash
# Copy time of `sorvane-cli copy` against `cp -a` of the same files.
#
#   bench/copy_bench.sh [WORKLOAD...]
#
# A WORKLOAD is COUNTxSIZE, or several joined by "+", SIZE in bytes or with k,
# m or g (KiB, MiB, GiB): 1000x1m, 20000x2k, 2000x4k+100x1m (the default is
# 1000x1m). "sparse" is one file of 1 GiB that holds 8 KiB of data, the rest
# holes. Environment:
#   RUNS=N        timed runs of each contender (default 3)
#   CLI=PATH      the sorvane-cli timed (default build/cli/sorvane-cli)
#   OLD_CLI=PATH  another sorvane-cli (an older build) timed in the same runs,
#                 as "old copy" and "old copy+backup"
#   STRACE=1      after the timed runs, one copy and one copy with backup of
#                 each binary under `strace -c -f`: per 1,000 files, the calls
#                 that flush (fsync, fdatasync, syncfs), the opens that failed,
#                 links and renames
#   BENCH_DIR     where the trees are made and kept (default /tmp/sorvane-copy-bench)
#
# Each workload makes (once) a source tree of versioned PE files at version 2,
# in 10 folders, and a pristine target tree of the same names at version 1,
# so that every file is a Newer Source row; the bytes past the version header
# are random (no run of zeros a file system could skip). Each run, for each
# contender in turn (the order rotates from run to run):
#   - the target is restored from the pristine tree, untimed;
#   - the source is read once, so it comes from a warm page cache for every
#     contender (the caches are never dropped: reading is not what is measured);
#   - sync, so no contender pays for the dirty pages of the one before;
#   - the copy is timed, and then checked: no Newer Source row may be left.
# Contenders:
#   copy          sorvane-cli copy -r --no-backup: every file on the disk before
#                 it takes its name
#   copy+backup   sorvane-cli copy -r: the same, the old target saved under _Backup
#   cp -a         cp -a SOURCE/. TARGET/: in place, into the page cache, no flush
#   cp -a+sync    cp -a, then sync: until the bytes are on the disk
#   cp -a+sync, old kept
#                 the target tree moved aside whole, then cp -a+sync into a new
#                 one: the disk's work when the old files stay, as a backup by
#                 link keeps them ("copy+backup" is compared with this one)
# and once, the scan alone (sorvane-cli compare -r --list newer-source), which
# every copy makes first. "ratio" is the median over that of cp -a+sync.
# Other large trees written recently leave less page cache and slow the runs
# that write the most.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${CLI:-$PWD/build/cli/sorvane-cli}
old=${OLD_CLI:-}
runs=${RUNS:-3}
root=${BENCH_DIR:-/tmp/sorvane-copy-bench}
[ -x "$cli" ] || { echo "build first: cmake --build build --target sorvane-cli" >&2; exit 1; }
[ -z "$old" ] || [ -x "$old" ] || { echo "OLD_CLI $old is not a program" >&2; exit 1; }
[ "${STRACE:-0}" = 0 ] || command -v strace >/dev/null ||
  { echo "STRACE=1 needs strace (Debian package strace)" >&2; exit 1; }
workloads=("$@")
[ ${#workloads[@]} -gt 0 ] || workloads=(1000x1m)

# Makes DIR/source and DIR/target.pristine for a workload.
make_trees() {
  python3 - "$1" "$2" <<'EOF'
import os, random, re, sys
sys.path.insert(0, "bench")
from make_trees import pe_file, version_block
out, spec = sys.argv[1], sys.argv[2]
rng = random.Random(1)
units = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}
def head(major, i):
    block = version_block((major, 0, 0, i % 65536), 0x0409, "Component %d" % i, "(c) Bench")
    return pe_file(block, 0x0409, 0)
def path(side, i):
    p = os.path.join(out, side, "d%02d" % (i % 10), "file%05d.dll" % i)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    return p
if spec == "sparse":
    data = rng.randbytes(8 << 10)
    for side, major in (("source", 2), ("target.pristine", 1)):
        with open(path(side, 0), "wb") as f:
            f.write(head(major, 0) + data[len(head(major, 0)):4096])
            f.seek((1 << 30) - 4096)
            f.write(data[4096:])
    sys.exit(0)
i = 0
for part in spec.split("+"):
    m = re.fullmatch(r"(\d+)x(\d+)([kmg]?)", part)
    if not m:
        sys.exit("not a workload: " + part)
    count, size = int(m[1]), int(m[2]) * units[m[3]]
    for _ in range(count):
        filler = rng.randbytes(size)
        for side, major in (("source", 2), ("target.pristine", 1)):
            h = head(major, i)
            with open(path(side, i), "wb") as f:
                f.write(h + filler[len(h):])
        i += 1
EOF
}

restore() {
  rm -rf "$tgt"
  rm -rf "$dir/kept"
  cp -a "$pristine" "$tgt"
  find "$src" -type f -exec cat {} + >/dev/null
  sync
}

# Runs one contender.
run() {
  case $1 in
    copy) "$cli" copy -r --no-backup "$src" "$tgt" >/dev/null ;;
    copy+backup) "$cli" copy -r "$src" "$tgt" >/dev/null ;;
    "old copy") "$old" copy -r --no-backup "$src" "$tgt" >/dev/null ;;
    "old copy+backup") "$old" copy -r "$src" "$tgt" >/dev/null ;;
    "cp -a") cp -a "$src/." "$tgt/" ;;
    "cp -a+sync") cp -a "$src/." "$tgt/" && sync ;;
    # What a backup by link leaves the disk to do: the old files stay, so the
    # new bytes go to blocks no file had (which costs more than rewriting
    # freed ones on some disks, thin-provisioned ones among them).
    "cp -a+sync, old kept") mv "$tgt" "$dir/kept" && cp -a "$src" "$tgt" && sync ;;
  esac
}

# Prints the wall time of one contender in seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  run "$1"
  end=$(date +%s.%N)
  awk "BEGIN{print $end - $start}"
}

median() {
  printf "%s\n" "$@" | sort -g | sed -n "$((($# + 1) / 2))p"
}

# One contender under strace -c -f: "flushes failed-opens links renames" per 1,000 files.
counts() {
  local log
  log=$(mktemp)
  restore
  local program=$cli backup=--no-backup
  case $1 in old*) program=$old ;; esac
  case $1 in *backup) backup=--backup ;; esac
  strace -c -f -o "$log" "$program" copy -r "$backup" "$src" "$tgt" >/dev/null
  awk -v files="$files" '
    $NF ~ /^(fsync|fdatasync|syncfs)$/ { flush += $4 }
    $NF ~ /^(open|openat|openat2)$/ && NF == 6 { failed += $5 }
    $NF ~ /^(link|linkat)$/ { link += $4 }
    $NF ~ /^(rename|renameat|renameat2)$/ { rename += $4 }
    END { k = 1000 / files; printf "%8.0f %8.0f %8.0f %8.0f\n", flush * k, failed * k, link * k, rename * k }
  ' "$log"
  rm -f "$log"
}

contenders=("copy" "copy+backup" "cp -a" "cp -a+sync" "cp -a+sync, old kept")
[ -z "$old" ] || contenders+=("old copy" "old copy+backup")

for workload in "${workloads[@]}"; do
  dir="$root/$workload"
  src=$dir/source pristine=$dir/target.pristine tgt=$dir/target
  if [ ! -d "$pristine" ]; then
    rm -rf "$dir"
    make_trees "$dir" "$workload"
  fi
  files=$(find "$src" -type f | wc -l)
  mib=$(du -sb --apparent-size "$src" | awk '{printf "%.1f", $1 / 1048576}')

  declare -A times=()
  for ((r = 0; r < runs; r++)); do
    n=${#contenders[@]}
    for ((k = 0; k < n; k++)); do
      c=${contenders[$(((k + r) % n))]}
      restore
      t=$(timed "$c")
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

  # shellcheck disable=SC2086
  base=$(median ${times["cp -a+sync"]})
  echo "$workload: $files files, $mib MiB; $runs runs each, order rotated, source in a warm page cache"
  printf "%-22s %9s %9s %9s %8s\n" contender best median "MiB/s" ratio
  for c in "${contenders[@]}"; do
    # shellcheck disable=SC2086
    best=$(printf "%s\n" ${times[$c]} | sort -g | head -1)
    # shellcheck disable=SC2086
    med=$(median ${times[$c]})
    printf "%-22s %8.3fs %8.3fs %9.0f %8.2f\n" "$c" "$best" "$med" \
      "$(awk "BEGIN{print $mib / $med}")" "$(awk "BEGIN{print $med / $base}")"
  done
  # shellcheck disable=SC2086
  printf "backup costs: %.2f x copy, %.2f x (cp -a+sync, old kept) / (cp -a+sync)\n" \
    "$(awk "BEGIN{print $(median ${times["copy+backup"]}) / $(median ${times[copy]})}")" \
    "$(awk "BEGIN{print $(median ${times["cp -a+sync, old kept"]}) / $base}")"
  printf "%-22s %8.3fs  (the scan of both trees alone, as copy makes it first)\n" "scan" "$scan"

  if [ "${STRACE:-0}" != 0 ]; then
    printf "%-16s %8s %8s %8s %8s   (strace -c -f, per 1,000 files)\n" "" flushes "failed" links renames
    printf "%-16s %8s %8s %8s %8s\n" "" "" opens "" ""
    for c in "${contenders[@]}"; do
      case $c in cp*) continue ;; esac
      printf "%-16s %s\n" "$c" "$(counts "$c")"
    done
  fi
  rm -rf "$tgt"
  echo
done
