#!/usr/bin/env bash
# Times a first copy with and without --verify (every copy read back from
# the destination and compared with its source before it is put in place)
# and prints the ratio; the target is under 1.3x. The tree: FILES files
# (default 20,000) of mixed sizes, mean SIZE bytes (default 64 KiB), in 400
# folders, plus BIG files of BIG_MB MiB each (default 4 x 192 MiB): about
# 2 GiB. Source and destination are in the same temporary folder (TMPDIR:
# a local disk). Each run starts from an empty destination; the best of
# RUNS (default 3) counts. COLD=1 drops the kernel's caches before every run
# (root only), so the source is read from the disk each time.
# Builds nothing: uses the programs in build/ (scripts/build.sh), or in
# $VELMOR_BUILD when set.
#   bench/verify.sh
#   FILES=2000 BIG=1 BIG_MB=64 RUNS=1 bench/verify.sh   # a small run
set -euo pipefail
. "$(dirname "$0")/common.sh"
files=${FILES:-20000}
size=${SIZE:-65536}
big=${BIG:-4}
big_mb=${BIG_MB:-192}
mkdir -p "$tmp/data"

"$gen" "$tmp/tree" --files "$files" --folders 400 --no-dst --size "$size" >/dev/null
mkdir -p "$tmp/tree/src/large"
for i in $(seq "$big"); do
  head -c "$((big_mb * 1024 * 1024))" /dev/urandom >"$tmp/tree/src/large/big$i.bin"
done
total=$(du -sb "$tmp/tree/src" | cut -f1)

# best_of CMD...: an empty destination before every run; prints the best
# wall-clock time of CMD in seconds, and after a blank the best time of CMD
# followed by `sync` (until its data is on the disk, which a read-back
# waits for and a plain copy leaves to the kernel).
best_of() {
  local best="" bests="" t0 t1 t2 d ds rc
  for _ in $(seq "$runs"); do
    rm -rf "$tmp/tree/dst"
    mkdir "$tmp/tree/dst"
    sync
    if [ "${COLD:-0}" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches; fi
    t0=$(now)
    rc=0
    "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
    t1=$(now)
    sync
    t2=$(now)
    if [ "$rc" != 0 ]; then echo "failed ($rc): $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
    d=$(echo "$t1 - $t0" | bc -l)
    ds=$(echo "$t2 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
    if [ -z "$bests" ] || [ "$(echo "$ds < $bests" | bc -l)" = 1 ]; then bests=$ds; fi
  done
  # The copy must be whole and equal to its source.
  diff -r --no-dereference "$tmp/tree/src" "$tmp/tree/dst" >/dev/null || { echo "the copy differs: $*" >&2; exit 1; }
  printf '%.3f %.3f\n' "$best" "$bests"
}

read -r plain plain_s < <(best_of "$cli" sync "$tmp/tree/src" "$tmp/tree/dst" --data "$tmp/data")
read -r verified verified_s < <(best_of "$cli" sync "$tmp/tree/src" "$tmp/tree/dst" --data "$tmp/data" --verify)
echo "first copy of $files files + $big x $big_mb MiB ($(echo "scale=2; $total / 1073741824" | bc -l) GiB)"
echo "                             the copy     the copy + sync"
echo "  velmor-cli sync:           ${plain} s    ${plain_s} s"
echo "  velmor-cli sync --verify:  ${verified} s    ${verified_s} s"
echo "  ratio verify/plain:        $(echo "scale=2; $verified / $plain" | bc -l)        $(echo "scale=2; $verified_s / $plain_s" | bc -l)   (target < 1.3)"
