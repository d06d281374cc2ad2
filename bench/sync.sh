#!/usr/bin/env bash
# Times `velmor-cli sync` against `rsync -a --delete` on the same generated
# trees and prints the ratios:
#   1. a first copy: 10,000 new files into an empty destination;
#   2. the comparison benchmark's trees: 100,000 files in 2,000 folders, 5%
#      changed, 2% only in the source, 2% only in the destination (--delete).
# Every timed run starts from the same destination (restored with cp -a, not
# timed). Each program runs RUNS times (default 3); the best time counts.
# Builds nothing: uses the programs in build/ (scripts/build.sh), or in
# $VELMOR_BUILD when set.
#   bench/sync.sh
set -euo pipefail
. "$(dirname "$0")/common.sh"
mkdir -p "$tmp/data"


# bench NAME TREE [velmor options]: one velmor/rsync pair on TREE/src -> TREE/dst.
bench() {
  local name=$1 tree=$2
  shift 2
  mv "$tree/dst" "$tree/pristine"
  local tv tr
  tv=$(best_of_restored "$tree/pristine" "$tree/dst" "$cli" sync "$tree/src" "$tree/dst" --data "$tmp/data" "$@")
  local rows done_rows
  rows=$(wc -l <"$tmp/out")
  done_rows=$(awk -F'\t' '$7 == "2"' "$tmp/out" | wc -l)
  # velmor's destination after the run must equal rsync's (same files, bytes, times).
  cp -a "$tree/dst" "$tree/velmor-result"
  tr=$(best_of_restored "$tree/pristine" "$tree/dst" rsync -a --delete "$tree/src/" "$tree/dst/")
  local same
  same=$(trees_equal "$tree/velmor-result" "$tree/dst")
  echo "$name"
  echo "  velmor-cli sync:    ${tv} s  (result rows: $rows, done: $done_rows)"
  echo "  rsync -a --delete:  ${tr} s"
  echo "  ratio velmor/rsync: $(echo "scale=2; $tv / $tr" | bc -l)   destinations equal: $same"
  rm -rf "$tree"
}

"$gen" "$tmp/new" --files 10000 --folders 200 --no-dst --size 4096 >/dev/null
bench "10,000 new files (4 KB mean) into an empty destination" "$tmp/new"

"$gen" "$tmp/big" --files 100000 --folders 2000 --changed 5 --src-only 2 --dst-only 2 --size 512 >/dev/null
bench "100,000 files, 5% changed, 2% new, 2% to delete" "$tmp/big" --delete
