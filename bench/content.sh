#!/usr/bin/env bash
# Times `velmor-cli compare --content --delete` against `rsync -anc --delete`
# on the same trees, in the same run: many small files plus a few large ones,
# folder 2 an exact copy, so every file of folder 1 is read on both sides.
# Builds nothing: uses the programs in build/ (scripts/build.sh), or in
# $VELMOR_BUILD when set.
#   bench/content.sh                     100,000 small files and 300+500+400+450+400 MiB
#   bench/content.sh 10000 50 80         10,000 small files and 50+80 MiB
# Each program runs once to warm the caches, then RUNS times (default 3);
# the best time counts.
set -euo pipefail
. "$(dirname "$0")/common.sh"
files=${1:-100000}
shift || true
big=("$@")
[ ${#big[@]} -gt 0 ] || big=(300 500 400 450 400)
folders=$(( files / 50 ))
"$gen" "$tmp/t" --files "$files" --folders "$folders" --changed 0 --src-only 0 --dst-only 0 --size 512
mkdir -p "$tmp/t/src/big" "$tmp/t/dst/big" "$tmp/data"
total=0
for i in "${!big[@]}"; do
  head -c "$(( big[i] << 20 ))" /dev/urandom >"$tmp/t/src/big/file$i.bin"
  cp -p "$tmp/t/src/big/file$i.bin" "$tmp/t/dst/big/file$i.bin"
  total=$(( total + big[i] ))
done
touch -r "$tmp/t/src/big" "$tmp/t/dst/big"

velmor=("$cli" compare "$tmp/t/src" "$tmp/t/dst" --content --delete --data "$tmp/data")
plain=("$cli" compare "$tmp/t/src" "$tmp/t/dst" --delete --data "$tmp/data")
rsync=(rsync -anc --delete "$tmp/t/src/" "$tmp/t/dst/")
"${velmor[@]}" >"$tmp/rows.txt"
"${rsync[@]}" >"$tmp/rsync.txt"
tv=$(best_of "${velmor[@]}")
tp=$(best_of "${plain[@]}")
tr=$(best_of "${rsync[@]}")

# Every row of an exact copy is the same: no row has its action flag set.
todo=$(awk -F'\t' '$7 == "1"' "$tmp/rows.txt" | wc -l)
echo "files: $files small in $folders folders, ${#big[@]} large (${total} MiB); rows to act on: $todo; rsync lines: $(wc -l <"$tmp/rsync.txt")"
echo "velmor-cli compare --content --delete: ${tv} s (without --content: ${tp} s)"
echo "rsync -anc --delete:                   ${tr} s"
echo "ratio velmor/rsync: $(echo "scale=2; $tv / $tr" | bc -l)"
