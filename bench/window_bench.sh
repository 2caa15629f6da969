#!/usr/bin/env bash
# Times the main window at speed: every figure of build/bench/window_bench.
#
#   bench/window_bench.sh [FILES]      default 100000
#
# 1. A scan of a generated tree of FILES files a side (bench/make_trees.py,
#    kept in $BENCH_DIR, default /tmp/sorvane-bench/FILES, and reused, as the
#    other benches do),
#    every row shown, three times: the window's longest stall while the scan
#    runs (gap between ticks of a 10 ms timer) and the time from the scan's
#    end until the sorted rows are painted.
# 2. 100,000 rows from a Source Map against an empty folder: the same, then
#    a sort by each column both ways and Page Down in the grid for 3 s.
# 3. The same with 1,000,000 rows.
# 4. 200 scans of 10,000 rows in one window: resident memory after the 10th
#    and the 200th.
# The load average is printed before each, as other work on the machine
# lengthens every wait; the processor time of the window's thread ("work")
# beside each wait does not grow with it.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=build/bench/window_bench
[ -x "$bench" ] || { echo "build first: cmake --build build --target window_bench" >&2; exit 1; }
files=${1:-100000}
tree="${BENCH_DIR:-/tmp/sorvane-bench}/$files"
if [ ! -d "$tree/source" ]; then
  python3 bench/make_trees.py "$tree" --files "$files"
fi

run() {
  echo "== window_bench $*   [$(uptime | sed 's/.*load/load/')]"
  "$bench" "$@" 2>&1 | grep -v 'XDG_RUNTIME_DIR\|propagateSizeHints'
}
run --tree "$tree" --scans 3
run --rows 100000 --sorts --scroll 3
run --rows 1000000 --sorts --scroll 5
run --rows 10000 --scans 200
