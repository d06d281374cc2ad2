#!/usr/bin/env bash
# Checks the Debian package made from the build folder $1 (CPack, into a
# temporary folder): the files it installs, its metadata, that the desktop
# entry and the metainfo validate, and that the manual pages name every
# subcommand that velmor-cli --help lists. Run by ctest.
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$out" -G DEB >/dev/null
deb=$(ls "$out"/velmor_*.deb)
version=$(sed -n 's/^project(Velmor VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "velmor_${version}_${arch}.deb" ] || { echo "package named $(basename "$deb")"; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
fail=0
for f in /usr/bin/velmor /usr/bin/velmor-cli /usr/lib/velmor/velmor /usr/lib/velmor/velmor-cli \
         /usr/lib/velmor/UserData.ini /usr/share/applications/velmor.desktop \
         /usr/share/icons/hicolor/scalable/apps/velmor.svg /usr/share/icons/hicolor/48x48/apps/velmor.png \
         /usr/share/icons/hicolor/256x256/apps/velmor.png /usr/share/man/man1/velmor.1.gz \
         /usr/share/man/man1/velmor-cli.1.gz /usr/share/metainfo/org.velmor.Velmor.metainfo.xml \
         /usr/share/doc/velmor/copyright; do
  grep -qx "$f" <<<"$files" || { echo "missing from the package: $f"; fail=1; }
done
# Nothing outside /usr.
if grep -v '^/usr' <<<"$files" | grep -v '^/$' | grep -q .; then
  echo "installs outside /usr:"; grep -v '^/usr' <<<"$files" | grep -v '^/$'; fail=1
fi

info=$(dpkg-deb -f "$deb")
for field in Package Version Architecture Maintainer Section Priority Depends Description; do
  grep -q "^$field: ." <<<"$info" || { echo "control field $field is missing"; fail=1; }
done
for dep in libqt6widgets6 libqt6core6 libsqlite3-0 fonts-ipafont-gothic; do
  grep -q "^Depends:.*$dep" <<<"$info" || { echo "Depends lacks $dep"; fail=1; }
done

desktop-file-validate "$src/data/velmor.desktop" || fail=1
dpkg-deb -x "$deb" "$out/root"
appstreamcli validate --no-net "$out/root/usr/share/metainfo/org.velmor.Velmor.metainfo.xml" >/dev/null || {
  appstreamcli validate --no-net "$out/root/usr/share/metainfo/org.velmor.Velmor.metainfo.xml"; fail=1; }

# Every subcommand of the usage is in the manual page, and the version is right.
page=$(zcat "$out/root/usr/share/man/man1/velmor-cli.1.gz")
for cmd in $("$build/src/app/velmor-cli" --help | sed -n 's/^  velmor-cli \([a-z-]*\).*/\1/p' | sort -u); do
  grep -q "^\.B velmor-cli $cmd\b" <<<"$page" || { echo "velmor-cli(1) does not name '$cmd'"; fail=1; }
done
[ "$("$build/src/app/velmor-cli" --version)" = "velmor-cli $version" ] || { echo "--version is not $version"; fail=1; }
grep -q "Velmor $version" <<<"$page" || { echo "velmor-cli(1) does not carry version $version"; fail=1; }
exit $fail
