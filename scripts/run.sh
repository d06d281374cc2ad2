#!/usr/bin/env bash
# Installs what is missing, builds, and starts the desktop program. Without a
# display it starts under a virtual one (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/app/velmor "$@"
else
  exec xvfb-run -a build/src/app/velmor "$@"
fi
