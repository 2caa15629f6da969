#!/usr/bin/env bash
# Times `sorvane-cli` on ZIP archives of real PE files against unpacking them.
#
#   bench/archive_bench.sh [MEGABYTES]      (default 500)
#
# It makes, in $BENCH_DIR/archive (default /tmp/sorvane-bench/archive, kept
# and reused when present):
#   tree/       MEGABYTES of Wine's DLLs (libwine, x86_64-windows), whole
#   copy/       the same tree again as hard links (a second folder, same files)
#   tree.zip    tree/ packed by zip (deflate, level 6)
#   half.zip    half the size in DLLs, half in other files (DLLs renamed .dat)
# and prints the best of three runs of each pair, and their ratio:
#   1. info -r tree.zip               vs  bsdtar -xOf tree.zip > /dev/null
#   2. info -r --filter "*.dll" half.zip  vs  bsdtar -xOf half.zip > /dev/null
#   3. compare -r tree.zip tree       vs  compare -r tree copy, then bsdtar -xOf tree.zip
# Everything is read once first, so all of it comes from the page cache.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=$PWD/build/cli/sorvane-cli
[ -x "$cli" ] || { echo "build first: scripts/build" >&2; exit 1; }
for tool in bsdtar zip; do
  command -v $tool >/dev/null || { echo "needs $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done
megabytes=${1:-500}
wine=${WINE_DIR:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
dir="${BENCH_DIR:-/tmp/sorvane-bench}/archive"
python=/usr/bin/python3; [ -x $python ] || python=python3

if [ ! -f "$dir/tree.zip" ] || [ "$(cat "$dir/megabytes" 2>/dev/null)" != "$megabytes" ]; then
  rm -rf "$dir"
  mkdir -p "$dir/tree" "$dir/half"
  # The DLLs in name order until the size is reached, in folders of 100 as
  # an installation has them; for half.zip every second one is renamed.
  $python - "$wine" "$dir" "$megabytes" <<'EOF'
import os, shutil, sys
wine, out, megabytes = sys.argv[1], sys.argv[2], int(sys.argv[3])
names = sorted(n for n in os.listdir(wine) if n.endswith(".dll"))
total = 0
for i, name in enumerate(names):
    if total >= megabytes << 20:
        break
    source = os.path.join(wine, name)
    folder = "lib%02d" % (i // 100)
    for side, renamed in (("tree", name), ("half", name if i % 2 == 0 else name[:-4] + ".dat")):
        os.makedirs(os.path.join(out, side, folder), exist_ok=True)
        shutil.copyfile(source, os.path.join(out, side, folder, renamed))
    total += os.path.getsize(source)
EOF
  cp -al "$dir/tree" "$dir/copy"
  (cd "$dir/tree" && zip -q -r "$dir/tree.zip" .)
  (cd "$dir/half" && zip -q -r "$dir/half.zip" .)
  echo "$megabytes" > "$dir/megabytes"
fi
cat "$dir/tree.zip" "$dir/half.zip" > /dev/null
find "$dir/tree" -type f -exec cat {} + > /dev/null

best() { # command... -> best wall seconds of three runs
  local best=""
  for _ in 1 2 3; do
    local start end secs
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    secs=$(awk "BEGIN{print $end - $start}")
    if [ -z "$best" ] || awk "BEGIN{exit !($secs < $best)}"; then best=$secs; fi
  done
  echo "$best"
}
row() { # label a-seconds b-seconds goal
  printf "%-58s %8.2f %8.2f %7.2f  (goal %s)\n" "$1" "$2" "$3" "$(awk "BEGIN{print $2/$3}")" "$4"
}

printf "%s MB of DLLs: %s files, tree.zip %s MB, half.zip %s MB\n" "$megabytes" \
  "$(find "$dir/tree" -type f | wc -l)" "$(( $(stat -c %s "$dir/tree.zip") >> 20 ))" \
  "$(( $(stat -c %s "$dir/half.zip") >> 20 ))"
printf "%-58s %8s %8s %7s\n" "" "A s" "B s" "A/B"
unpack() { bsdtar -xOf "$1" > /dev/null; }
a=$(best "$cli" info -r "$dir/tree.zip")
b=$(best unpack "$dir/tree.zip")
row "info -r tree.zip / bsdtar -xOf tree.zip" "$a" "$b" "<= 1.2"
a=$(best "$cli" info -r --filter "*.dll" "$dir/half.zip")
b=$(best unpack "$dir/half.zip")
row "info -r --filter '*.dll' half.zip / bsdtar -xOf half.zip" "$a" "$b" "< 1"
folders_and_unpack() { "$cli" compare -r "$dir/tree" "$dir/copy" --show all; unpack "$dir/tree.zip"; }
a=$(best "$cli" compare -r "$dir/tree.zip" "$dir/tree" --show all)
b=$(best folders_and_unpack)
row "compare tree.zip tree / (compare tree copy + bsdtar -xOf)" "$a" "$b" "<= 1.3"
marks=$("$cli" compare -r "$dir/tree.zip" "$dir/tree" --show all --format csv 2>/dev/null |
        tail -n +2 | cut -d, -f5 | sort | uniq -c | tr -s ' ' || true)
echo "marks of compare tree.zip tree:$marks"
