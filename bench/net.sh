#!/usr/bin/env bash
# Synchronisation onto a network destination: velmor-cli against rsync onto a
# folder mounted over SSH (sshfs) with a chosen round-trip time, and against
# rsync over ssh itself (rsync at both ends, one stream):
#   velmor-cli sync SRC MNT/dst --delete
#   rsync -a --delete SRC/ MNT/dst/           (onto the same mount)
#   rsync -a --delete -e ssh SRC/ host:dst/   (through the same delay)
# for a first copy, a run where nothing changed and an everyday change, at
# each round trip of RTTS (milliseconds, default "0 1 10"). The tree: 2,000
# files of 0-64 KB (mean 32 KB) in 100 folders (bench_gentree) plus five of
# 20 MB; the everyday change is about 50 files changed, 20 new and 20 to
# delete (2.5%, 1%, 1%), and one of the 20 MB files changed.
#
# Runs as root and builds its own network, leaving the system as it was: a
# network namespace; in it sshd on 127.0.0.1 (host key, authorized key and
# sshd_config generated in the temporary folder); bench_netdelay, a TCP proxy
# that holds every chunk for half the round trip each way (the kernel here
# has no netem), between ssh and sshd; sshfs through it, in a mount namespace
# of the script's own. Each timed run starts from the same destination,
# copied locally beside sshd, and from a fresh mount (no cached attributes).
# Median of RUNS (3) each, the spread beside it. STRACE=1 (default) also
# counts, once at the first round trip, the system calls velmor-cli and rsync
# make on the mount for the first copy and the unchanged run (strace -f -y;
# only calls naming a path or descriptor on the mount). TOOLS (default
# "velmor mount ssh") picks the programs, for instance TOOLS=velmor to
# measure a change of velmor alone; VELMOR_ARGS adds options to velmor-cli
# (for instance "--jobs 32"). FLOOR=1 (default) also measures the mount's
# floor: how many small files it takes a second with nothing but the
# requests one copy needs (bench_netfloor), the limit under any tool.
#   bench/net.sh                 RTTS="0 1" RUNS=5 bench/net.sh
set -euo pipefail

if [ -z "${VELMOR_NET_INSIDE:-}" ]; then
  [ "$(id -u)" = 0 ] || { echo "bench/net.sh makes a network namespace and mounts: run it as root" >&2; exit 2; }
  for t in ip unshare /usr/sbin/sshd ssh ssh-keygen sshfs fusermount3 strace; do
    command -v "$t" >/dev/null || { echo "$t is not installed (scripts/install-deps.sh)" >&2; exit 2; }
  done
  ns=velmor-net-$$
  ip netns add "$ns"
  trap 'ip netns del "$ns"' EXIT
  rc=0
  VELMOR_NET_INSIDE=1 ip netns exec "$ns" unshare -m --propagation private bash "$0" "$@" || rc=$?
  exit "$rc"
fi

# From here on: inside the network namespace and a mount namespace of our own.
. "$(dirname "$0")/common.sh"
delay=$build/bench/bench_netdelay
[ -x "$delay" ] || { echo "missing $delay: build first (scripts/build.sh)" >&2; exit 2; }
rtts=${RTTS:-0 1 10}
sshd_port=2222 proxy_port=2223
remote=$tmp/remote mnt=$tmp/mnt
mkdir -p "$remote" "$mnt" "$tmp/data" "$tmp/ssh"

proxy_pid="" sshd_pid="" made_run_sshd=""
teardown() {
  local rc=$?
  if mountpoint -q "$mnt"; then fusermount3 -u "$mnt" || rc=1; fi
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
  [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null
  [ -n "$made_run_sshd" ] && rmdir /run/sshd
  rm -rf "$tmp"
  exit "$rc"
}
trap teardown EXIT

ip link set lo up

# sshd of our own: its own keys and config, nothing of /etc/ssh. It needs its
# privilege separation folder; when the system has none it is made here and
# removed afterwards.
if [ ! -d /run/sshd ]; then mkdir -m 0755 /run/sshd; made_run_sshd=1; fi
ssh-keygen -q -t ed25519 -N '' -f "$tmp/ssh/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$tmp/ssh/client_key"
cp "$tmp/ssh/client_key.pub" "$tmp/ssh/authorized_keys"
cat >"$tmp/ssh/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $sshd_port
HostKey $tmp/ssh/host_key
AuthorizedKeysFile $tmp/ssh/authorized_keys
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile $tmp/ssh/sshd.pid
Subsystem sftp internal-sftp
LogLevel ERROR
EOF
cat >"$tmp/ssh/ssh_config" <<EOF
Host bench
  HostName 127.0.0.1
  Port $proxy_port
  User root
  IdentityFile $tmp/ssh/client_key
  IdentitiesOnly yes
  StrictHostKeyChecking no
  UserKnownHostsFile /dev/null
  BatchMode yes
  LogLevel ERROR
EOF
/usr/sbin/sshd -D -e -f "$tmp/ssh/sshd_config" 2>"$tmp/ssh/sshd.log" &
sshd_pid=$!

# start_proxy RTT: the delaying proxy in front of sshd.
start_proxy() {
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid"; wait "$proxy_pid" 2>/dev/null || true; fi
  "$delay" "$proxy_port" "$sshd_port" "$1" >"$tmp/proxy.out" 2>"$tmp/proxy.err" &
  proxy_pid=$!
  local i
  for i in $(seq 50); do grep -q ready "$tmp/proxy.out" && return 0; sleep 0.1; done
  echo "bench_netdelay did not start:" >&2; cat "$tmp/proxy.err" >&2; exit 1
}
ssh_cmd="ssh -F $tmp/ssh/ssh_config"
mount_dst() { sshfs -F "$tmp/ssh/ssh_config" "bench:$remote" "$mnt"; }
umount_dst() { fusermount3 -u "$mnt"; }

# The trees: OUT/src, OUT/dst (the everyday destination), and the five
# large files, one of them different in dst (other bytes, an older time).
# Times are whole seconds: SFTP carries no fractions.
"$gen" "$tmp/t" --files 2000 --folders 100 --size 32768 --changed 2.5 --src-only 1 --dst-only 1
src=$tmp/t/src
for i in 1 2 3 4 5; do
  head -c 20M /dev/urandom >"$src/dir00000/big$i.dat"
  touch -d @$((1600000000 + i)) "$src/dir00000/big$i.dat"
  cp -a "$src/dir00000/big$i.dat" "$tmp/t/dst/dir00000/"
done
head -c 20M /dev/urandom >"$tmp/t/dst/dir00000/big1.dat"
touch -d @1500000000 "$tmp/t/dst/dir00000/big1.dat"
mkdir "$tmp/empty"
cp -a "$src" "$tmp/same"
declare -A pristine=([first]=$tmp/empty [unchanged]=$tmp/same [everyday]=$tmp/t/dst)
declare -A label=([first]="first copy" [unchanged]="nothing changed" [everyday]="everyday change")

# one_run CASE TOOL: one timed run of TOOL (velmor, mount, ssh) on a fresh
# copy of the case's destination; sets $secs. The mount is made before the
# clock starts and undone after it stops.
one_run() {
  local case=$1 tool=$2 t0 t1 rc=0 cmd
  rm -rf "$remote/dst"
  cp -a "${pristine[$case]}" "$remote/dst"
  case $tool in
    velmor) cmd=("$cli" sync "$src" "$mnt/dst" --delete --data "$tmp/data" ${VELMOR_ARGS:-}) ;;
    mount) cmd=(rsync -a --delete "$src/" "$mnt/dst/") ;;
    ssh) cmd=(rsync -a --delete -e "$ssh_cmd" "$src/" "bench:$remote/dst/") ;;
  esac
  [ "$tool" = ssh ] || mount_dst
  sync
  t0=$(now)
  "${cmd[@]}" >"$tmp/out" 2>"$tmp/err" || rc=$?
  t1=$(now)
  [ "$tool" = ssh ] || umount_dst
  if [ "$rc" != 0 ]; then echo "failed ($rc): ${cmd[*]}" >&2; head -20 "$tmp/err" >&2; exit 1; fi
  secs=$(echo "$t1 - $t0" | bc -l)
  [ "$(trees_equal "$src" "$remote/dst")" = yes ] || { echo "$tool left a destination unlike the source (${label[$case]})" >&2; exit 1; }
}

read -r -a tools <<<"${TOOLS:-velmor mount ssh}"
echo "median of $runs runs (spread = (slowest - fastest) / median); every destination checked equal to the source"
printf '%-7s %-16s %16s %16s %16s\n' RTT case velmor-cli "rsync onto mount" "rsync -e ssh"
for rtt in $rtts; do
  start_proxy "$rtt"
  for case in first unchanged everyday; do
    declare -A times=()
    for i in $(seq "$runs"); do
      # The tools take turns, the first one rotating, so a drift of the
      # machine falls on all alike.
      for k in "${!tools[@]}"; do
        t=${tools[$(( (i + k) % ${#tools[@]} ))]}
        one_run "$case" "$t"
        times[$t]="${times[$t]:-} $secs"
      done
    done
    cells=()
    for t in velmor mount ssh; do
      if [ -z "${times[$t]:-}" ]; then cells+=(-); continue; fi
      # shellcheck disable=SC2086
      read -r m s < <(stats ${times[$t]})
      cells+=("$m s ($s%)")
    done
    printf '%-7s %-16s %16s %16s %16s\n' "$rtt ms" "${label[$case]}" "${cells[@]}"
    unset times
  done
done

# The floor: how many 32 KB files the mount takes a second with nothing but
# one copy's requests (bench_netfloor), with 10 and 32 threads, at each round
# trip. FLOOR=0 leaves it out.
if [ "${FLOOR:-1}" = 1 ]; then
  floor=$build/bench/bench_netfloor
  [ -x "$floor" ] || { echo "missing $floor: build first (scripts/build.sh)" >&2; exit 2; }
  echo
  echo "the mount's floor (1,000 files of 32 KB in 50 folders; safe: temporary and rename, direct: under the real name):"
  for rtt in $rtts; do
    start_proxy "$rtt"
    for threads in 10 32; do
      rm -rf "$remote/floor"
      mkdir "$remote/floor"
      mount_dst
      printf '%-7s %2d threads: %s\n' "$rtt ms" "$threads" "$("$floor" "$mnt/floor" 1000 50 "$threads" | paste -sd ' ')"
      umount_dst
    done
  done
  rm -rf "$remote/floor"
fi

[ "${STRACE:-1}" = 1 ] || exit 0
# strace_counts CASE TOOL: the calls on the mount by name, "name count" lines.
strace_counts() {
  local case=$1 tool=$2 cmd
  rm -rf "$remote/dst"
  cp -a "${pristine[$case]}" "$remote/dst"
  case $tool in
    velmor) cmd=("$cli" sync "$src" "$mnt/dst" --delete --data "$tmp/data" ${VELMOR_ARGS:-}) ;;
    mount) cmd=(rsync -a --delete "$src/" "$mnt/dst/") ;;
  esac
  mount_dst
  strace -f -y -qq -o "$tmp/trace" "${cmd[@]}" >"$tmp/out" 2>"$tmp/err" \
    || { umount_dst; echo "failed under strace: ${cmd[*]}" >&2; head -20 "$tmp/err" >&2; exit 1; }
  umount_dst
  grep -F "$mnt" "$tmp/trace" | grep -v 'resumed>' \
    | sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' | sort | uniq -c | awk '{ print $2, $1 }' >"$tmp/counts-$case-$tool"
}
calls="openat newfstatat statx fstatfs statfs getdents64 fchmod fchmodat utimensat renameat2 renameat rename fsync fdatasync unlink unlinkat mkdir mkdirat flock fchown fchownat ftruncate read write pread64 pwrite64 copy_file_range close"
echo
echo "system calls on the mount (strace -f -y, at ${rtts%% *} ms; utimensat includes futimens, newfstatat fstat):"
start_proxy "${rtts%% *}"
for case in first unchanged; do
  for t in velmor mount; do
    if [[ " ${tools[*]} " == *" $t "* ]]; then strace_counts "$case" "$t"; else : >"$tmp/counts-$case-$t"; fi
  done
done
printf '%-12s %14s %14s %14s %14s\n' call "first: velmor" "first: rsync" "same: velmor" "same: rsync"
count() { awk -v c="$1" '$1 == c { n = $2 } END { print n + 0 }' "$2"; }
for c in $calls total; do
  row=()
  for f in first-velmor first-mount unchanged-velmor unchanged-mount; do
    if [ "$c" = total ]; then row+=("$(awk '{ n += $2 } END { print n + 0 }' "$tmp/counts-$f")")
    else row+=("$(count "$c" "$tmp/counts-$f")"); fi
  done
  [ "$c" != total ] && [ "${row[*]}" = "0 0 0 0" ] && continue
  printf '%-12s %14s %14s %14s %14s\n' "$c" "${row[@]}"
done
