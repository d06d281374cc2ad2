#!/usr/bin/env bash
# What comparing ACLs and extended attributes costs, on generated trees where
# nothing differs: folder 2 is a copy of folder 1 with every attribute
# (`cp -a`). 5% of the files carry a user.* extended attribute, 1% of the
# files an ACL entry for another user, 1% of the folders a default ACL, so
# that the attributes are really read. Times, best of RUNS (default 3) after
# one warm-up run each, the programs taking turns in every round:
#   (a) `velmor-cli compare --delete` without the options, as bench/compare.sh
#       runs it (guard: within 5% of the landed build's; give its build folder
#       as LANDED_BUILD to time it on the same trees);
#   (b) `velmor-cli compare --delete --acls --xattrs` against
#       `rsync -aHAXn --delete` (target: ratio at most 0.85).
# Builds nothing: uses build/ (scripts/build.sh), or $VELMOR_BUILD when set.
#   bench/meta.sh                         100,000 files in 2,000 folders
#   bench/meta.sh 20000 [LANDED_BUILD]    20,000 files in 400 folders
set -euo pipefail
files=${1:-100000}
landed=${2:-}
. "$(dirname "$0")/common.sh"
for t in setfattr setfacl getfattr; do
  command -v "$t" >/dev/null || { echo "$t is not installed (scripts/install-deps.sh)" >&2; exit 2; }
done
if [ -n "$landed" ]; then
  landed=$landed/src/app/velmor-cli
  [ -x "$landed" ] || { echo "missing $landed" >&2; exit 2; }
fi
folders=$(( files / 50 ))
"$gen" "$tmp/t" --files "$files" --folders "$folders" --no-dst --size 512 >/dev/null
src=$tmp/t/src dst=$tmp/t/dst
find "$src" -type f | sort >"$tmp/files"
find "$src" -mindepth 1 -type d | sort >"$tmp/folders"
awk 'NR % 20 == 1' "$tmp/files" | xargs -d '\n' setfattr -n user.velmor-bench -v "a value of some length"
awk 'NR % 100 == 7' "$tmp/files" | xargs -d '\n' setfacl -m u:65534:r
awk 'NR % 100 == 3' "$tmp/folders" | xargs -d '\n' -r setfacl -d -m u:65534:rx
rm -rf "$dst"
cp -a "$src" "$dst"
[ -z "$(rsync -aHAXn --delete -i "$src/" "$dst/")" ] || { echo "the copy differs from folder 1 for rsync" >&2; exit 1; }
xattrs=$(getfattr -R -d -m '^user\.' "$src" 2>/dev/null | grep -c '^user\.' || true)
acls=$(getfattr -R -d -m '^system\.posix_acl' "$src" 2>/dev/null | grep -c '^system\.' || true)
mkdir -p "$tmp/data" "$tmp/data-landed"

plain=("$cli" compare "$src" "$dst" --delete --data "$tmp/data")
meta=("$cli" compare "$src" "$dst" --delete --acls --xattrs --data "$tmp/data")
old=("$landed" compare "$src" "$dst" --delete --data "$tmp/data-landed")
rsync=(rsync -aHAXn --delete "$src/" "$dst/")
names=(plain meta rsync)
[ -n "$landed" ] && names+=(old)

# run NAME: runs the command of NAME once, its output into $tmp/out-NAME;
# prints the wall-clock seconds.
run() {
  local -n cmd=$1
  local t0 t1
  t0=$(now)
  "${cmd[@]}" >"$tmp/out-$1" 2>"$tmp/err" || { echo "$1 failed:" >&2; head -5 "$tmp/err" >&2; exit 1; }
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
declare -A best
for n in "${names[@]}"; do run "$n" >/dev/null; best[$n]=999999; done
for _ in $(seq "$runs"); do
  for n in "${names[@]}"; do
    d=$(run "$n")
    if [ "$(echo "$d < ${best[$n]}" | bc -l)" = 1 ]; then best[$n]=$d; fi
  done
done

# Rows other than identical (同一): none, where nothing differs.
differing() { awk -F'\t' '$8 != "同一"' "$tmp/out-$1" | wc -l; }
echo "files: $files in $folders folders; $xattrs user.* attributes, $acls ACLs in folder 1; folder 2 a copy"
printf 'velmor-cli compare --delete:                  %.3f s (rows not 同一: %d)\n' "${best[plain]}" "$(differing plain)"
if [ -n "$landed" ]; then
  printf 'the same, landed build:                       %.3f s   this/landed: %.2f (guard: at most 1.05)\n' \
    "${best[old]}" "$(echo "${best[plain]} / ${best[old]}" | bc -l)"
fi
printf 'velmor-cli compare --delete --acls --xattrs:  %.3f s (rows not 同一: %d)\n' "${best[meta]}" "$(differing meta)"
printf 'rsync -aHAXn --delete:                        %.3f s\n' "${best[rsync]}"
printf 'ratio velmor --acls --xattrs/rsync: %.2f (target: at most 0.85)\n' "$(echo "${best[meta]} / ${best[rsync]}" | bc -l)"
