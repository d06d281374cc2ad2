#!/usr/bin/env bash
# Builds Velmor and writes docs/main-window.png: the main window under a
# virtual display (xvfb-run), on a small generated pair of trees, after a
# comparison. Uses build/, or $VELMOR_BUILD when set.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${VELMOR_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target velmor-screenshot -j "$(nproc)"
# A short, readable place for the trees: its paths show in the picture.
work=$(mktemp -d /tmp/velmor-XXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p docs
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1400x1000x24" \
  "$build/tools/velmor-screenshot" docs/main-window.png "$work"
