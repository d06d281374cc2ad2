#!/usr/bin/env bash
# Builds Velmor in Release and makes the Debian package
# build/velmor_<version>_<arch>.deb (CPack's DEB generator; the Qt 6 and
# SQLite dependencies are read off the binaries). Install it with
#   apt install ./build/velmor_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target velmor velmor-cli velmor_icons velmor_man
(cd build-release && cpack -G DEB >/dev/null)
mkdir -p build
deb=$(ls build-release/velmor_*.deb)
cp "$deb" build/
echo "build/$(basename "$deb")"
