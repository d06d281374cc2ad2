# Sourced by the benchmark scripts: finds the built programs and the peer
# tools, and makes a temporary folder that is removed on exit.
# Sets: build, runs, cli, gen, tmp; defines now.
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
