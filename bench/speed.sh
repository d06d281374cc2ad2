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
#              (into an empty destination)
# Each program runs RUNS times (default 3), the two taking turns; the best
# wall-clock time counts.
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
. "$(dirname "$0")/common.sh"
mkdir -p "$tmp/data"
sizes=${SIZES:-"10000 100000"}
[ "${FULL:-0}" = 1 ] && sizes="$sizes 1000000"
size=${SIZE:-512}

# one_run PRISTINE DST CMD...: runs CMD once, on a fresh copy of PRISTINE at
# DST ("" PRISTINE: no restore, DST left alone). Sets $secs and $kb (peak
# resident memory).
one_run() {
  local pristine=$1 dst=$2 t0 t1 rc
  shift 2
  if [ -n "$pristine" ]; then
    rm -rf "$dst"
    cp -a "$pristine" "$dst"
    sync
  fi
  t0=$(now)
  rc=0
  /usr/bin/time -f %M -o "$tmp/mem" "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
  t1=$(now)
  if [ "$rc" != 0 ]; then echo "failed ($rc): $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
  secs=$(echo "$t1 - $t0" | bc -l)
  kb=$(tail -1 "$tmp/mem")
}

# min A B: the smaller of two times ("" counts as none).
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }

# pair PRISTINE_V DST_V PRISTINE_R DST_R -- VELMOR_CMD... -- RSYNC_CMD...:
# velmor and rsync take turns, $runs times each, so that a drift in the
# machine's state (the disk's write-back above all) falls on both alike.
# Sets $tv, $tr (best seconds) and $pv (velmor's peak memory in KB).
pair() {
  local pv_=$1 dv_=$2 pr_=$3 dr_=$4 vcmd=() rcmd=()
  shift 5
  while [ "$1" != -- ]; do vcmd+=("$1"); shift; done
  shift
  rcmd=("$@")
  tv="" tr="" pv=0
  for _ in $(seq "$runs"); do
    one_run "$pv_" "$dv_" "${vcmd[@]}"
    tv=$(min "$tv" "$secs")
    [ "$kb" -gt "$pv" ] && pv=$kb
    one_run "$pr_" "$dr_" "${rcmd[@]}"
    tr=$(min "$tr" "$secs")
  done
  tv=$(printf '%.3f' "$tv")
  tr=$(printf '%.3f' "$tr")
}

# Same names, types, permissions, bytes, and for files and links the same
# sizes, modification times and targets (folder times are not compared:
# velmor leaves those of compared folders alone).
listing() { (cd "$1" && find . -mindepth 1 \( -type d -printf '%P d %m\n' \) -o -printf '%P %y %m %s %T@ %l\n' | sort); }
same_trees() {
  [ "$(listing "$1")" = "$(listing "$2")" ] && diff -r --no-dereference "$1" "$2" >/dev/null 2>&1 && echo yes || echo NO
}

row() {  # row FILES CASE VELMOR_S RSYNC_S PEAK_KB EQUAL
  printf '%-9s %-10s %9s %9s %7s %9s  %s\n' "$1" "$2" "$3" "$4" "$(echo "scale=2; $3 / $4" | bc -l)" \
    "$(( $5 / 1024 )) MB" "$6"
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
  row "$files" "$name" "$tv" "$tr" "$pv" "$(same_trees "$tmp/dv" "$tmp/dr")"
  rm -rf "$tmp/dv" "$tmp/dr"
}

# first_pair FILES SRC: the first copy, each run into a new empty folder;
# every velmor copy is checked equal to the rsync copy of its turn.
first_pair() {
  local files=$1 src=$2 i equal=yes
  tv="" tr="" pv=0
  for i in $(seq "$runs"); do
    mkdir "$tmp/fv$i" "$tmp/fr$i"
    one_run "" "" "$cli" sync "$src" "$tmp/fv$i" --data "$tmp/data"
    tv=$(min "$tv" "$secs")
    [ "$kb" -gt "$pv" ] && pv=$kb
    one_run "" "" rsync -a "$src/" "$tmp/fr$i/"
    tr=$(min "$tr" "$secs")
    [ "$(same_trees "$tmp/fv$i" "$tmp/fr$i")" = yes ] || equal=NO
  done
  row "$files" first "$(printf '%.3f' "$tv")" "$(printf '%.3f' "$tr")" "$pv" "$equal"
  rm -rf "$tmp"/fv* "$tmp"/fr*
}

printf '%-9s %-10s %9s %9s %7s %9s  %s\n' files case "velmor s" "rsync s" ratio "velmor MB" "dst equal"
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
  row "$files" compare "$tv" "$tr" "$pv" "-"

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
  first_pair "$files" "$t/src"
  rm -rf "$t"
done
