#!/usr/bin/env bash
# Velmor against rsync, side by side, on generated trees of 10,000 and
# 100,000 files, 50 files per folder (and with FULL=1 1,000,000 files in
# 100,000 folders), in one run on one machine. For each size:
#   compare    velmor-cli compare --delete      vs rsync -an --delete
#   everyday   velmor-cli sync --delete         vs rsync -a --delete
#              (5% changed, 2% new, 2% to delete)
#   unchanged  velmor-cli sync --delete         vs rsync -a --delete
#              (the destination equals the source)
#   first      velmor-cli sync                  vs rsync -a
#              (into an empty destination on disk)
#   first-tmpfs the same into a tmpfs: the programs' own cost without the
#              disk's (skipped where no tmpfs can be mounted and /dev/shm is
#              missing)
# Each program runs RUNS times (default 5), the two taking turns and the one
# that goes first alternating; before every timed run the disk's write-back
# is flushed (sync) and the machine left to settle (SETTLE seconds, 2). The
# median wall-clock time counts; the spread ((slowest - fastest) / median) is
# printed beside it and marked "!" past 25%, where the figure is not to be
# trusted.
# Every synchronisation starts from a fresh copy of its destination (the
# restore is not timed; a first copy goes into a new empty folder each run),
# and after it the two programs' destinations are
# checked equal (names, types, permissions, sizes, file times, link targets,
# bytes). Peak memory is velmor's maximum resident set over its runs
# (/usr/bin/time -f %M). Wall time is noisy on a shared machine: read the
# ratios together with syscall and instruction counts.
# Builds nothing: uses the programs in build/, or in $VELMOR_BUILD.
#   bench/speed.sh                 10,000 and 100,000 files
#   FULL=1 bench/speed.sh          also 1,000,000 files
#   SIZES="20000" bench/speed.sh   other sizes; SIZE=BYTES mean file size (512)
set -euo pipefail
RUNS=${RUNS:-5}
. "$(dirname "$0")/common.sh"
mkdir -p "$tmp/data"
sizes=${SIZES:-"10000 100000"}
[ "${FULL:-0}" = 1 ] && sizes="$sizes 1000000"
size=${SIZE:-512}
settle=${SETTLE:-2}

# one_run PRISTINE DST CMD...: runs CMD once, on a fresh copy of PRISTINE at
# DST ("" PRISTINE: no restore, DST left alone), after the write-back is
# flushed and the machine has settled. Sets $secs and $kb (peak resident
# memory).
one_run() {
  local pristine=$1 dst=$2 t0 t1 rc
  shift 2
  if [ -n "$pristine" ]; then
    rm -rf "$dst"
    cp -a "$pristine" "$dst"
  fi
  sync
  sleep "$settle"
  t0=$(now)
  rc=0
  /usr/bin/time -f %M -o "$tmp/mem" "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
  t1=$(now)
  if [ "$rc" != 0 ]; then echo "failed ($rc): $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
  secs=$(echo "$t1 - $t0" | bc -l)
  kb=$(tail -1 "$tmp/mem")
}

# turns V_CMD_FN R_CMD_FN: runs the two functions $runs times each, taking
# turns with the first alternating, so that a drift in the machine's state
# (the disk's write-back above all) falls on both alike. Sets $tv, $tr
# (median seconds), $sv, $sr (spread, %) and $pv (velmor's peak memory, KB).
turns() {
  local i vt=() rt=()
  pv=0
  for i in $(seq "$runs"); do
    if [ $((i % 2)) = 1 ]; then
      "$1" "$i"; vt+=("$secs"); [ "$kb" -gt "$pv" ] && pv=$kb
      "$2" "$i"; rt+=("$secs")
    else
      "$2" "$i"; rt+=("$secs")
      "$1" "$i"; vt+=("$secs"); [ "$kb" -gt "$pv" ] && pv=$kb
    fi
  done
  read -r tv sv < <(stats "${vt[@]}")
  read -r tr sr < <(stats "${rt[@]}")
}

# pair PRISTINE_V DST_V PRISTINE_R DST_R -- VELMOR_CMD... -- RSYNC_CMD...
pair() {
  p_pv=$1 p_dv=$2 p_pr=$3 p_dr=$4 p_v=() p_r=()
  shift 5
  while [ "$1" != -- ]; do p_v+=("$1"); shift; done
  shift
  p_r=("$@")
  turns pair_v pair_r
}
pair_v() { one_run "$p_pv" "$p_dv" "${p_v[@]}"; }
pair_r() { one_run "$p_pr" "$p_dr" "${p_r[@]}"; }

# Same names, types, permissions, bytes, and for files and links the same
# sizes, modification times and targets (folder times are not compared:
# velmor leaves those of compared folders alone).
listing() { (cd "$1" && find . -mindepth 1 \( -type d -printf '%P d %m\n' \) -o -printf '%P %y %m %s %T@ %l\n' | sort); }
same_trees() {
  [ "$(listing "$1")" = "$(listing "$2")" ] && diff -r --no-dereference "$1" "$2" >/dev/null 2>&1 && echo yes || echo NO
}

spread() { if [ "$1" -gt 25 ]; then echo "$1%!"; else echo "$1%"; fi; }
row() {  # row FILES CASE EQUAL (with $tv $sv $tr $sr $pv)
  printf '%-9s %-11s %9s %6s %9s %6s %7s %9s  %s\n' "$1" "$2" "$tv" "$(spread "$sv")" "$tr" "$(spread "$sr")" \
    "$(echo "scale=2; $tv / $tr" | bc -l)" "$(( pv / 1024 )) MB" "$3"
}

# sync_pair FILES CASE PRISTINE SRC [velmor options] -- [rsync options]:
# both programs from PRISTINE, then their destinations compared.
sync_pair() {
  local files=$1 name=$2 pristine=$3 src=$4 vopt=() ropt=()
  shift 4
  while [ $# -gt 0 ] && [ "$1" != -- ]; do vopt+=("$1"); shift; done
  shift
  ropt=("$@")
  pair "$pristine" "$tmp/dv" "$pristine" "$tmp/dr" -- \
    "$cli" sync "$src" "$tmp/dv" --data "$tmp/data" "${vopt[@]}" -- \
    rsync "${ropt[@]}" "$src/" "$tmp/dr/"
  row "$files" "$name" "$(same_trees "$tmp/dv" "$tmp/dr")"
  rm -rf "$tmp/dv" "$tmp/dr"
}

# first_pair FILES SRC WHERE CASE: the first copy, each run into a new empty
# folder below WHERE; every velmor copy is checked equal to the rsync copy of
# its turn.
first_pair() {
  f_src=$2 f_where=$3
  turns first_v first_r
  local i equal=yes
  for i in $(seq "$runs"); do
    [ "$(same_trees "$f_where/fv$i" "$f_where/fr$i")" = yes ] || equal=NO
  done
  row "$1" "$4" "$equal"
  rm -rf "$f_where"/fv* "$f_where"/fr*
}
first_v() { mkdir "$f_where/fv$1"; one_run "" "" "$cli" sync "$f_src" "$f_where/fv$1" --data "$tmp/data"; }
first_r() { mkdir "$f_where/fr$1"; one_run "" "" rsync -a "$f_src/" "$f_where/fr$1/"; }

# A tmpfs for the first copies that leave the disk out: one of our own where
# mounting is allowed, else /dev/shm; none when neither is there.
mem=""
mkdir -p "$tmp/tmpfs"
if mount -t tmpfs -o size=50% tmpfs "$tmp/tmpfs" 2>/dev/null; then
  mem=$tmp/tmpfs
  trap 'umount "$tmp/tmpfs" 2>/dev/null; rm -rf "$tmp"' EXIT
elif [ -d /dev/shm ] && [ -w /dev/shm ]; then
  mem=$(mktemp -d /dev/shm/velmor-speed-XXXX)
  trap 'rm -rf "$mem" "$tmp"' EXIT
fi

echo "median of $runs runs each, velmor and rsync taking turns; spread = (slowest - fastest) / median, ! past 25%"
printf '%-9s %-11s %9s %6s %9s %6s %7s %9s  %s\n' files case "velmor s" spread "rsync s" spread ratio "velmor MB" \
  "dst equal"
for files in $sizes; do
  t=$tmp/t$files
  # 50 files per folder; the million files in 100,000 folders (10 per folder).
  per=50
  [ "$files" -ge 1000000 ] && per=10
  "$gen" "$t" --files "$files" --folders $(( files / per )) --changed 5 --src-only 2 --dst-only 2 \
    --size "$size" >/dev/null

  # (a) compare: read-only, no restore; one warm-up run each.
  "$cli" compare "$t/src" "$t/dst" --delete --data "$tmp/data" >/dev/null
  rsync -an --delete "$t/src/" "$t/dst/" >/dev/null
  pair "" "$t/dst" "" "$t/dst" -- "$cli" compare "$t/src" "$t/dst" --delete --data "$tmp/data" -- \
    rsync -an --delete "$t/src/" "$t/dst/"
  row "$files" compare "-"

  # (b) everyday synchronisation.
  sync_pair "$files" everyday "$t/dst" "$t/src" --delete -- -a --delete

  # (c) nothing changed: the destination is an exact copy of the source.
  mkdir -p "$t/same"
  rsync -a "$t/src/" "$t/same/"
  sync_pair "$files" unchanged "$t/same" "$t/src" --delete -- -a --delete
  rm -rf "$t/same"

  # (d) first copy into an empty destination. ext4 skips inodes freed in
  # the last minute (six while their table block is dirty) when it hands out
  # new ones, checking each one it skips: creating files right after a tree
  # was deleted costs both programs many times their own work, and most
  # whichever runs first. So this case deletes nothing while it runs (each
  # run copies into a new folder) and starts once the restores above are a
  # minute old and on disk.
  sync
  sleep 61
  first_pair "$files" "$t/src" "$tmp" first
  [ -n "$mem" ] && first_pair "$files" "$t/src" "$mem" first-tmpfs
  rm -rf "$t"
done
