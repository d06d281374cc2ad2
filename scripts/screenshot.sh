#!/usr/bin/env bash
# Builds Velmor and writes docs/main-window.png and docs/main-window-1024.png:
# the main window as it first opens under a virtual display (xvfb-run) of
# 1400x1000 and of 1024x768, on a small generated pair of trees, after a
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
for shot in "1400x1000 main-window" "1024x768 main-window-1024"; do
  read -r screen name <<<"$shot"
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 ${screen}x24" \
    "$build/tools/velmor-screenshot" "docs/$name.png" "$work"
done
