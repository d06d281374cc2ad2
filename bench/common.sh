# Sourced by the benchmark scripts: finds the built programs and the peer
# tools, and makes a temporary folder that is removed on exit.
# Sets: build, runs, cli, gen, tmp; defines now, best_of, stats and trees_equal.
cd "$(dirname "$0")/.."
build=${VELMOR_BUILD:-build}
runs=${RUNS:-3}
cli=$build/src/app/velmor-cli
gen=$build/bench/bench_gentree
for p in "$cli" "$gen"; do
  [ -x "$p" ] || { echo "missing $p: build first (scripts/build.sh)" >&2; exit 2; }
done
for t in rsync bc /usr/bin/time; do
  command -v "$t" >/dev/null || { echo "$t is not installed (scripts/install-deps.sh)" >&2; exit 2; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
now() { date +%s.%N; }

# best_of CMD...: prints the best wall-clock time of $runs runs, in seconds.
best_of() {
  local best="" t0 t1 d
  for _ in $(seq "$runs"); do
    t0=$(now); "$@" >/dev/null 2>"$tmp/err" || { cat "$tmp/err" >&2; exit 1; }; t1=$(now)
    d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  printf '%.3f' "$best"
}

# stats T...: "median spread" of the times, the spread being
# (max - min) / median in percent.
stats() {
  printf '%s\n' "$@" | sort -g | awk '{ t[NR] = $1 } END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.3f %.0f\n", m, (m > 0 ? 100 * (t[NR] - t[1]) / m : 0) }'
}

# best_of_restored PRISTINE DST CMD...: restores DST from PRISTINE before every run and
# prints the best wall-clock time of CMD in seconds.
best_of_restored() {
  local pristine=$1 dst=$2 best="" t0 t1 d rc
  shift 2
  for _ in $(seq "$runs"); do
    rm -rf "$dst"
    cp -a "$pristine" "$dst"
    sync
    t0=$(now)
    rc=0
    "$@" >"$tmp/out" 2>"$tmp/err" || rc=$?
    t1=$(now)
    if [ "$rc" != 0 ]; then echo "failed ($rc): $*" >&2; head -20 "$tmp/err" >&2; exit 1; fi
    d=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$d < $best" | bc -l)" = 1 ]; then best=$d; fi
  done
  printf '%.3f' "$best"
}

# trees_equal A B: prints "yes" when the two trees hold the same names,
# types, permissions and bytes, and for files and links the same sizes,
# modification times and targets, else "NO" (folder times are not compared:
# velmor, like the desktop program, leaves those of compared folders alone).
trees_equal() {
  listing() { (cd "$1" && find . -mindepth 1 \( -type d -printf '%P d %m\n' \) -o -printf '%P %y %m %s %T@ %l\n' | sort); }
  if [ "$(listing "$1")" = "$(listing "$2")" ] && diff -r --no-dereference "$1" "$2" >/dev/null 2>&1; then
    echo yes
  else
    echo NO
  fi
}
