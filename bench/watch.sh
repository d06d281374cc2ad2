#!/usr/bin/env bash
# `velmor-cli watch` on a folder 1 of FILES files (100,000) in FOLDERS folders
# (2,000), every folder ticked, folder 2 already in step:
#   1. the time to set up the watches (as the watch reports it);
#   2. the watch's memory while it waits (VmRSS and VmHWM of the watching
#      process; each run is a process of its own, `velmor-cli run`, whose peak
#      is printed beside);
#   3. the delay from a change in folder 1 to the file in folder 2, RUNS (5)
#      times with --delay DELAY (1 s): a new file is written into a folder,
#      and folder 2 is polled every 10 ms until it holds it. The figure holds
#      the delay, a full run (task load, comparison of every folder, the
#      copy), whose time alone is printed beside.
# Builds nothing: uses the programs in build/ (scripts/build.sh), or in
# $VELMOR_BUILD when set.
#   bench/watch.sh
set -euo pipefail
RUNS=${RUNS:-5}
. "$(dirname "$0")/common.sh"
files=${FILES:-100000}
folders=${FOLDERS:-2000}
delay=${DELAY:-1}
data="$tmp/data"
tree="$tmp/tree"

"$gen" "$tree" --files "$files" --folders "$folders" --changed 0 --src-only 0 --dst-only 0 --size 512
"$cli" task save B "$tree/src" "$tree/dst" --data "$data" >/dev/null

# The first run, by hand, for the peak of one run (GNU time); then the time
# of a run that finds nothing to do, which every change pays after the delay.
/usr/bin/time -f '%M' -o "$tmp/run-peak" "$cli" run B --data "$data" >/dev/null
runtime=$(best_of "$cli" run B --data "$data")

"$cli" watch B --delay "$delay" --data "$data" >/dev/null 2>"$tmp/watch.err" &
watcher=$!
trap 'kill "$watcher" 2>/dev/null || true; rm -rf "$tmp"' EXIT

# idle: the watch has started and no run of it is under way.
idle() {
  grep -q 'watching' "$tmp/watch.err" 2>/dev/null && ! pgrep -P "$watcher" >/dev/null
}
wait_until() {
  local deadline=$(( $(date +%s) + 600 ))
  until "$@"; do
    [ "$(date +%s)" -lt "$deadline" ] || { echo "timed out: $*" >&2; cat "$tmp/watch.err" >&2; exit 1; }
    sleep 0.01
  done
}
wait_until idle
sleep 2
wait_until idle
setup=$(sed -n 's/.*set up in \([0-9]*\) ms.*/\1/p' "$tmp/watch.err" | head -1)
watched=$(sed -n 's/.*watching \([0-9]*\) folders.*/\1/p' "$tmp/watch.err" | head -1)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$watcher/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$watcher/status")

# A folder three levels down, as most of the generated ones are.
target=$(cd "$tree/src" && find . -mindepth 3 -type d | sort | sed -n '500p')
delays=()
for i in $(seq "$RUNS"); do
  wait_until idle
  t0=$(now)
  echo "change $i" >"$tree/src/$target/bench-$i.txt"
  wait_until test -e "$tree/dst/$target/bench-$i.txt"
  t1=$(now)
  delays+=("$(echo "$t1 - $t0" | bc -l)")
done
kill -TERM "$watcher"
wait "$watcher" || { echo "the watch ended with status $?" >&2; cat "$tmp/watch.err" >&2; exit 1; }
grep -q 'the watch ended' "$tmp/watch.err" || { echo "no clean end" >&2; exit 1; }

sorted=$(printf '%s\n' "${delays[@]}" | sort -g)
echo "velmor-cli watch: $files files in $folders folders ($watched watched), --delay $delay"
echo "  watches set up:        ${setup} ms"
echo "  one run (velmor-cli run, nothing to do): ${runtime} s, best of $RUNS"
echo "  watching process:      $((rss / 1024)) MB resident, $((hwm / 1024)) MB peak (one run: $(( $(cat "$tmp/run-peak") / 1024 )) MB peak)"
printf '  change to folder 2:    best %.3f s, median %.3f s, worst %.3f s (%s runs)\n' \
  "$(echo "$sorted" | head -1)" "$(echo "$sorted" | sed -n "$(( (RUNS + 1) / 2 ))p")" "$(echo "$sorted" | tail -1)" "$RUNS"
