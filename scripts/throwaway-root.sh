#!/usr/bin/env bash
# Runs a command as root in a throwaway copy of this machine: an overlay over
# / (what it writes lands in memory), in its own mount, process and network
# namespaces (its own loopback, so fixed ports such as 8883 are its own).
# Packages it installs, users it adds and daemons it starts vanish with it.
# Inside, $THROWAWAY_UPPER shows every file the command changed.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: throwaway-root.sh COMMAND [ARG...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "throwaway-root.sh: needs root (mounts an overlay)" >&2; exit 1; }
scratch=$(mktemp -d /tmp/tarvo-root-XXXXXX)
trap 'rmdir "$scratch"' EXIT
# The namespaces end with the command: their mounts and processes with them.
unshare --mount --net --pid --fork --propagation private bash -euc '
  scratch=$1
  shift
  mount -t tmpfs -o mode=0755 tmpfs "$scratch"
  mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/root"
  root=$scratch/root
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --rbind /sys "$root/sys"
  mount -t tmpfs -o mode=0755 tmpfs "$root/run"
  # /tmp stays as on the machine (copied on write), so files named from outside are there.
  mkdir "$root/run/throwaway-upper"
  mount --bind -o ro "$scratch/upper" "$root/run/throwaway-upper"
  ip link set lo up
  exec chroot "$root" env THROWAWAY_UPPER=/run/throwaway-upper \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
' throwaway "$scratch" "$@"
