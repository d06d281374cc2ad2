#!/usr/bin/env bash
# Installs what building, running and testing Velmor needs on Debian 12.
# Runs as root or through sudo; does nothing when everything is present.
set -euo pipefail
# fonts-ipafont-gothic: a Japanese font, so the interface's captions render
# where the system has none (the window loads it by itself when needed).
# qt6-translations-l10n: Qt's own texts (file pickers, standard buttons) in Japanese.
# dpkg-dev, desktop-file-utils, appstream: making and checking the Debian package.
# bindfs: the safety tests mirror a folder through FUSE (--xattr-none: a
# volume without extended attributes and ACLs).
# acl attr: setfacl/getfacl and setfattr/getfattr, to give test and benchmark
# files ACLs and extended attributes. rsync: the tests' and benchmarks'
# reference listing. util-linux: setpriv, to run a command as an ordinary user.
# exfatprogs exfat-fuse dosfstools fusefat ntfs-3g: the tests make the volumes
# users synchronise to (exFAT, FAT, NTFS) in image files and mount them.
# e2fsprogs: mkfs.ext4, for the volume whose blocks the read-back tests alter.
# btrfs-progs: mkfs.btrfs, for a volume whose copies share their sources' blocks.
# systemd: systemd-analyze verify reads the unit files velmor-cli schedule writes.
# openssh-server openssh-client sshfs iproute2 strace: bench/net.sh serves a
# folder over SSH in a network namespace of its own, mounts it with sshfs and
# counts the system calls made onto it.
pkgs=(g++ cmake ninja-build pkg-config qt6-base-dev libsqlite3-dev libgtest-dev
      xvfb xauth imagemagick rsync time bc fonts-ipafont-gothic qt6-translations-l10n
      dpkg-dev desktop-file-utils appstream bindfs acl attr util-linux
      exfatprogs exfat-fuse dosfstools fusefat ntfs-3g e2fsprogs
      btrfs-progs systemd openssh-server openssh-client sshfs iproute2 strace)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
