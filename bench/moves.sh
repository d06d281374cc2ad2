#!/usr/bin/env bash
# Times `velmor-cli sync --delete --moves quick` against `rsync -a --delete`
# after a folder of FILES files of MIB MiB each (default 1,000 of 1 MiB,
# random bytes, each its own time) was
#   1. renamed in the source, and
#   2. moved one level down, into a new folder, in the source,
# with the destination an exact copy of the source before the change. rsync
# copies the folder again and deletes the old one; velmor renames it in the
# destination. Every timed run starts from the same destination (restored
# with cp -a, not timed); each program runs RUNS times (default 3), the best
# time counts, and velmor's destination must equal rsync's afterwards.
# Builds nothing: uses the programs in build/ (scripts/build.sh), or in
# $VELMOR_BUILD when set.
#   bench/moves.sh [FILES [MIB]]
set -euo pipefail
. "$(dirname "$0")/common.sh"
files=${1:-1000}
mib=${2:-1}
mkdir -p "$tmp/data"

# The folder before the change: src/photos, and dst a copy of src.
make_tree() {
  local tree=$1
  mkdir -p "$tree/src/photos"
  head -c $((files * mib * 1048576)) /dev/urandom | (cd "$tree/src/photos" && split -b "${mib}M" -a 5 -d - img_)
  local i=0
  for f in "$tree"/src/photos/img_*; do
    touch -d "@$((1700000000 + i * 61))" "$f"
    mv "$f" "$f.jpg"
    i=$((i + 1))
  done
  cp -a "$tree/src" "$tree/pristine"
}

# bench NAME TREE: velmor and rsync on TREE/src -> TREE/dst, each from TREE/pristine.
bench() {
  local name=$1 tree=$2 tv tr same
  tv=$(best_of_restored "$tree/pristine" "$tree/dst" "$cli" sync "$tree/src" "$tree/dst" --data "$tmp/data" --delete --moves quick)
  local moved
  moved=$(awk -F'\t' '$12 == "移動"' "$tmp/out" | wc -l)
  cp -a "$tree/dst" "$tree/velmor-result"
  tr=$(best_of_restored "$tree/pristine" "$tree/dst" rsync -a --delete "$tree/src/" "$tree/dst/")
  same=$(trees_equal "$tree/velmor-result" "$tree/dst")
  rm -rf "$tree/velmor-result"
  echo "$name"
  echo "  velmor-cli sync --delete --moves quick: ${tv} s  (rows moved: $moved)"
  echo "  rsync -a --delete:                      ${tr} s"
  echo "  rsync/velmor: $(echo "scale=1; $tr / $tv" | bc -l)x   destinations equal: $same"
}

make_tree "$tmp/t"
mv "$tmp/t/src/photos" "$tmp/t/src/photos-2026"
bench "$files files of $mib MiB, their folder renamed" "$tmp/t"
mkdir "$tmp/t/src/archive"
mv "$tmp/t/src/photos-2026" "$tmp/t/src/archive/photos"
bench "$files files of $mib MiB, their folder moved one level down (into a new folder)" "$tmp/t"
