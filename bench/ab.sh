#!/usr/bin/env bash
# Times two builds of `velmor-cli sync` against each other on the same
# generated trees (100,000 files in 2,000 folders, 5% changed, 2% new, 2% to
# delete), alternating A and B so that a busy machine slows both alike.
# Prints every run, the best of each and the ratio B/A.
#   bench/ab.sh OTHER_BUILD_DIR [files]     (A = OTHER_BUILD_DIR, B = build/)
set -euo pipefail
other=${1:?usage: bench/ab.sh OTHER_BUILD_DIR [files]}
files=${2:-100000}
. "$(dirname "$0")/common.sh"
a=$other/src/app/velmor-cli
[ -x "$a" ] || { echo "missing $a" >&2; exit 2; }
"$gen" "$tmp/t" --files "$files" --folders $((files / 50)) --changed 5 --src-only 2 --dst-only 2 --size 512 >/dev/null
mv "$tmp/t/dst" "$tmp/t/pristine"
mkdir -p "$tmp/data-A" "$tmp/data-B"
declare -A best=([A]=999999 [B]=999999)
for i in $(seq "$runs"); do
  for which in A B; do
    prog=$a; [ "$which" = B ] && prog=$cli
    rm -rf "$tmp/t/dst"; cp -a "$tmp/t/pristine" "$tmp/t/dst"; sync
    t0=$(now)
    "$prog" sync "$tmp/t/src" "$tmp/t/dst" --data "$tmp/data-$which" --delete >"$tmp/out-$which" 2>"$tmp/err-$which" \
      || { echo "$which failed:" >&2; head -5 "$tmp/err-$which" >&2; exit 1; }
    t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    printf '%s run %d: %.3f s\n' "$which" "$i" "$d"
    if [ "$(echo "$d < ${best[$which]}" | bc -l)" = 1 ]; then best[$which]=$d; fi
  done
done
printf 'best A: %.3f s   best B: %.3f s   B/A: %.2f\n' "${best[A]}" "${best[B]}" "$(echo "${best[B]} / ${best[A]}" | bc -l)"
