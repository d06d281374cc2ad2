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


# best_of_restored PRISTINE DST CMD...: restores DST from PRISTINE before every run and
# prints the best wall-clock time of CMD in seconds.
best_of_restored() {
  local pristine=$1 dst=$2 best="" t0 t1 d rc
  shift 2
  for _ in $(seq "$runs"); do
    rm -rf "$dst"
    cp -a "$pristine" "$dst"
    sync
    t0=$(now)
    rc=0
    "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
    t1=$(now)
    if [ "$rc" != 0 ]; then echo "failed ($rc): $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
    d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  printf '%.3f' "$best"
}

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
  # Same names, types, permissions, bytes, and for files and links the same
  # sizes, modification times and targets (folder times are not compared:
  # velmor, like the desktop program, leaves those of compared folders alone).
  local same=yes
  listing() { (cd "$1" && find . -mindepth 1 \( -type d -printf '%P d %m\n' \) -o -printf '%P %y %m %s %T@ %l\n' | sort); }
  [ "$(listing "$tree/velmor-result")" = "$(listing "$tree/dst")" ] || same=NO
  diff -r --no-dereference "$tree/velmor-result" "$tree/dst" >/dev/null 2>&1 || same=NO
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
