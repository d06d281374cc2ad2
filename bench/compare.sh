#!/usr/bin/env bash
# Times `velmor-cli compare --delete` against `rsync -an --delete` on the same
# generated trees, in the same run, and prints the ratio and velmor's peak
# memory. Builds nothing: uses the programs in build/ (scripts/build.sh), or
# in $VELMOR_BUILD when set.
#   bench/compare.sh            100,000 files in 2,000 folders
#   bench/compare.sh 1000000    1,000,000 files in 20,000 folders
# Each program runs once to warm the caches, then RUNS times (default 3);
# the best time counts.
set -euo pipefail
. "$(dirname "$0")/common.sh"
files=${1:-100000}
folders=$(( files / 50 ))
"$gen" "$tmp/t" --files "$files" --folders "$folders" --changed 5 --src-only 2 --dst-only 2 --size 512
mkdir -p "$tmp/data"

velmor=("$cli" compare "$tmp/t/src" "$tmp/t/dst" --delete --data "$tmp/data")
rsync=(rsync -an --delete "$tmp/t/src/" "$tmp/t/dst/")
"${velmor[@]}" >"$tmp/rows.txt"
"${rsync[@]}" >/dev/null
tv=$(best_of "${velmor[@]}")
tr=$(best_of "${rsync[@]}")
/usr/bin/time -v "${velmor[@]}" >/dev/null 2>"$tmp/time.txt"
peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tmp/time.txt")
/usr/bin/time -v "${rsync[@]}" >/dev/null 2>"$tmp/rtime.txt"
rpeak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$tmp/rtime.txt")

echo "files: $files in $folders folders; result rows: $(wc -l <"$tmp/rows.txt")"
echo "velmor-cli compare: ${tv} s, peak memory $(( peak / 1024 )) MB"
echo "rsync -an --delete: ${tr} s, peak memory $(( rpeak / 1024 )) MB"
echo "ratio velmor/rsync: $(echo "scale=2; $tv / $tr" | bc -l)"
