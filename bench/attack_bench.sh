#!/usr/bin/env bash
# Runs sorvane-cli over hostile files (bench/make_attack_files.py) and reports,
# per file, the worst wall time, the worst processor time (user and system)
# and the peak resident memory of `sorvane-cli info FILE` and
# `sorvane-cli info --all --json FILE`, and how many bytes each printed.
#
#   bench/attack_bench.sh [-r REPEATS] [-t SECONDS] [CLI...]
#
# CLI defaults to build/cli/sorvane-cli; give two (an older build first) to
# compare them side by side. Each run is measured with /usr/bin/time -v
# (package time) for the memory and the processor time; the wall time is
# taken around it, in milliseconds. On a machine busy with other work the
# wall time varies more than the processor time. REPEATS (default 3) runs per file and mode, the worst counts.
# A run is stopped after SECONDS (default 120) and shown as "timeout".
# ATTACK_DIR names a folder to make the files in and keep (default: a
# temporary folder). Exit status: 0 when the last CLI read every file within
# 100 ms and 50 MB (51,200 KB) in every mode, 1 otherwise, 2 when the
# benchmark cannot run.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "attack_bench: $*" >&2; exit 2; }

repeats=3
limit_s=120
while getopts "r:t:" option; do
  case $option in
    r) repeats=$OPTARG ;;
    t) limit_s=$OPTARG ;;
    *) fail "usage: $0 [-r REPEATS] [-t SECONDS] [CLI...]" ;;
  esac
done
shift $((OPTIND - 1))
[[ $repeats =~ ^[1-9][0-9]*$ ]] || fail "-r needs a positive number"
[[ $limit_s =~ ^[1-9][0-9]*$ ]] || fail "-t needs a positive number"
clis=("$@")
[ ${#clis[@]} -gt 0 ] || clis=(build/cli/sorvane-cli)
for cli in "${clis[@]}"; do
  [ -x "$cli" ] || fail "$cli does not exist; build it first (cmake --build build --target sorvane-cli)"
done
[ -x /usr/bin/time ] || fail "/usr/bin/time is missing (apt-get install time)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files_dir=${ATTACK_DIR:-$work/files}
python3 bench/make_attack_files.py "$files_dir" >"$work/made.txt" ||
  fail "make_attack_files.py failed"
mapfile -t files < <(find "$files_dir" -maxdepth 1 -type f | sort)
[ ${#files[@]} -gt 0 ] || fail "no files were made"

max_ms=100
max_kb=51200
now_ns() { date +%s%N; }

# measure CLI FILE MODE...: sets worst_ms, worst_cpu, worst_kb and out_bytes
# over the repeats; worst_ms is "timeout" when a run was stopped.
measure() {
  local cli=$1 file=$2
  shift 2
  worst_ms=0 worst_cpu=0 worst_kb=0 out_bytes=0
  local i start ms cpu kb status
  for ((i = 1; i <= repeats; i++)); do
    start=$(now_ns)
    status=0
    timeout "$limit_s" /usr/bin/time -v -o "$work/time.txt" "$cli" info "$@" "$file" \
      >"$work/out" 2>/dev/null || status=$?
    ms=$((($(now_ns) - start) / 1000000))
    if [ $status -eq 124 ]; then
      # time was stopped along with the program and wrote nothing.
      worst_ms=timeout worst_cpu=? worst_kb=?
      out_bytes=$(stat -c %s "$work/out")
      return
    fi
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
    cpu=$(awk -F': ' '/User time|System time/ {s += $2} END {printf "%d", s * 1000}' "$work/time.txt")
    [ "$ms" -gt "$worst_ms" ] && worst_ms=$ms
    [ "$cpu" -gt "$worst_cpu" ] && worst_cpu=$cpu
    [ "$kb" -gt "$worst_kb" ] && worst_kb=$kb
    out_bytes=$(stat -c %s "$work/out")
  done
}

over=0
header="| file | mode |"
rule="|---|---|"
for cli in "${clis[@]}"; do
  header+=" $cli ms | cpu ms | KB | output bytes |"
  rule+="---:|---:|---:|---:|"
done
echo "worst of $repeats runs; limits ${max_ms} ms, ${max_kb} KB"
echo "$header"
echo "$rule"
for file in "${files[@]}"; do
  for mode in "" "--all --json"; do
    # shellcheck disable=SC2206 # the mode is two words or none
    args=($mode)
    row="| $(basename "$file") | info${mode:+ $mode} |"
    for cli in "${clis[@]}"; do
      measure "$cli" "$file" "${args[@]}"
      row+=" $worst_ms | $worst_cpu | $worst_kb | $out_bytes |"
    done
    # Only the last CLI is held to the limits.
    if [ "$worst_ms" = timeout ] || [ "$worst_ms" -gt $max_ms ] || [ "$worst_kb" -gt $max_kb ]; then
      row+=" over"
      over=1
    fi
    echo "$row"
  done
done
exit $over
