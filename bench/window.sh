#!/usr/bin/env bash
# The main window on the offscreen platform against velmor-cli on the same
# generated trees (default 100,000 files in 2,000 folders, 5% changed, 2%
# only in the source, 2% only in the destination): compare plus grid fill
# against `velmor-cli compare --delete`, the longest gap of a 10 ms timer
# during the runs, the stop button, the synchronisation, peak memory; then
# the window's whole synchronisation (comparison included, with its wait
# dialog's progress) against `velmor-cli sync --delete` on copies of the same
# destination, with the window's peak memory in that run.
# Builds nothing: uses build/ (scripts/build.sh) or $VELMOR_BUILD.
set -euo pipefail
. "$(dirname "$0")/common.sh"
win=$build/bench/bench_window_bench
[ -x "$win" ] || { echo "missing $win: build first (scripts/build.sh)" >&2; exit 2; }
files=${1:-100000}
folders=$(( files / 50 ))
"$gen" "$tmp/t" --files "$files" --folders "$folders" --changed 5 --src-only 2 --dst-only 2 --size 512 >/dev/null
mkdir -p "$tmp/cli" "$tmp/win"
# Copies of the destination for the whole synchronisations below (the first
# window run synchronises $tmp/t/dst itself).
cp -a "$tmp/t/dst" "$tmp/dst_cli"
cp -a "$tmp/t/dst" "$tmp/dst_win"

cli_run=("$cli" compare "$tmp/t/src" "$tmp/t/dst" --delete --data "$tmp/cli")
"${cli_run[@]}" >/dev/null  # warm the caches
best=""
for _ in $(seq "$runs"); do
  t0=$(now); "${cli_run[@]}" >/dev/null; t1=$(now)
  d=$(echo "$t1 - $t0" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
done
echo "files: $files in $folders folders"
printf 'velmor-cli compare --delete (whole process, best of %s): %.0f ms\n' "$runs" "$(echo "$best * 1000" | bc -l)"
QT_QPA_PLATFORM=offscreen "$win" "$tmp/t/src" "$tmp/t/dst" "$tmp/win" | tee "$tmp/win.txt"
w=$(awk '/compare \+ grid fill/ {print $6}' "$tmp/win.txt")
echo "ratio window/cli: $(echo "scale=2; $w / ($best * 1000)" | bc -l)"

# The whole synchronisation: each on its own copy of the destination.
sync
t0=$(now)
"$cli" sync "$tmp/t/src" "$tmp/dst_cli" --delete --data "$tmp/cli" >/dev/null
t1=$(now)
cli_sync=$(echo "($t1 - $t0) * 1000" | bc -l)
printf 'velmor-cli sync --delete (whole process): %.0f ms\n' "$cli_sync"
sync
QT_QPA_PLATFORM=offscreen "$win" "$tmp/t/src" "$tmp/dst_win" "$tmp/win2" --whole | tee "$tmp/win2.txt"
c=$(awk '/compare \+ grid fill/ {print $6}' "$tmp/win2.txt")
s=$(awk '/synchronisation, whole/ {print $4}' "$tmp/win2.txt")
echo "ratio window/cli, compare + synchronisation: $(echo "scale=2; ($c + $s) / $cli_sync" | bc -l) (target <= 1.15)"
echo "destinations equal: $(trees_equal "$tmp/dst_cli" "$tmp/dst_win")"
