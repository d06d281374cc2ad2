#!/usr/bin/env bash
# Times a first copy with and without --verify (every copy read back from
# the destination and compared with its source before it is put in place)
# and prints the ratio; the target is under 1.3x. The tree: FILES files
# (default 20,000) of mixed sizes, mean SIZE bytes (default 64 KiB), in 400
# folders, plus BIG files of BIG_MB MiB each (default 4 x 192 MiB): about
# 2 GiB. Source and destination are in the same temporary folder (TMPDIR:
# a local disk). Each run copies into a new empty destination and nothing is
# deleted until the end (ext4 checks every inode freed in the last minute
# when it hands out new ones, which would slow the later runs); the two
# kinds take turns; the best of RUNS (default 3) each counts. COLD=1 drops the kernel's caches before every run
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

# timed NAME [options]: copies the tree into a new destination $tmp/NAME;
# adds to $tmp/NAME.times the wall-clock time of the copy and, after a blank,
# that of the copy followed by `sync` (until its data is on the disk, which
# a read-back waits for and a plain copy leaves to the kernel).
timed() {
  local name=$1 t0 t1 t2 rc
  shift
  mkdir "$tmp/$name"
  sync
  if [ "${COLD:-0}" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches; fi
  t0=$(now)
  rc=0
  "$cli" sync "$tmp/tree/src" "$tmp/$name" --data "$tmp/data" "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
  t1=$(now)
  sync
  t2=$(now)
  if [ "$rc" != 0 ]; then echo "failed ($rc): $name $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
  # The copy must be whole and equal to its source.
  diff -r --no-dereference "$tmp/tree/src" "$tmp/$name" >/dev/null || { echo "the copy differs: $name" >&2; exit 1; }
  echo "$(echo "$t1 - $t0" | bc -l) $(echo "$t2 - $t0" | bc -l)" >>"$tmp/$(echo "$name" | tr -d 0-9).times"
}

# best FILE: the least of each column of FILE.
best() { sort -n -k1,1 "$1" | head -1 | cut -d' ' -f1; sort -n -k2,2 "$1" | head -1 | cut -d' ' -f2; }

for i in $(seq "$runs"); do
  if [ $((i % 2)) = 1 ]; then
    timed "plain$i"
    timed "verify$i" --verify
  else
    timed "verify$i" --verify
    timed "plain$i"
  fi
done
read -r plain plain_s < <(best "$tmp/plain.times" | tr '\n' ' '; echo)
read -r verified verified_s < <(best "$tmp/verify.times" | tr '\n' ' '; echo)
plain=$(printf '%.3f' "$plain"); plain_s=$(printf '%.3f' "$plain_s")
verified=$(printf '%.3f' "$verified"); verified_s=$(printf '%.3f' "$verified_s")

echo "first copy of $files files + $big x $big_mb MiB ($(echo "scale=2; $total / 1073741824" | bc -l) GiB)"
echo "                             the copy     the copy + sync"
echo "  velmor-cli sync:           ${plain} s    ${plain_s} s"
echo "  velmor-cli sync --verify:  ${verified} s    ${verified_s} s"
echo "  ratio verify/plain:        $(echo "scale=2; $verified / $plain" | bc -l)        $(echo "scale=2; $verified_s / $plain_s" | bc -l)   (target < 1.3)"
