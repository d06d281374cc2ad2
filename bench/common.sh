# Sourced by the benchmark scripts: finds the built programs and the peer
# tools, and makes a temporary folder that is removed on exit.
# Sets: build, runs, cli, gen, tmp; defines now and best_of.
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
