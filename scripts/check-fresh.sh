#!/usr/bin/env bash
# Runs CI (.ci/run, with CI=true) on a clean clone of this repository's HEAD inside a fresh
# Debian 12 root (debootstrap --variant=minbase), as on a machine that has nothing but what
# .ci/run and the README's commands install: every package comes from the project's own
# scripts, and the Qt for Windows is built from scratch. Prints the time of the whole run.
# Needs root and the Debian archive that the machine's apt uses (found by
# scripts/debian-mirror.sh); nothing else leaves the machine. The root is removed at the end
# (kept with --keep).
#   scripts/check-fresh.sh [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
keep=no
[ "${1:-}" = --keep ] && keep=yes
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (debootstrap and chroot)" >&2; exit 2; }
command -v debootstrap >/dev/null || scripts/deps.sh deb

root=$(mktemp -d /var/tmp/tarvix-fresh.XXXXXX)
chmod 0755 "$root"
cleanup() {
  if [ "$keep" = yes ]; then
    echo "kept: $root"
  elif ! grep -q " $root/" /proc/self/mounts; then
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT

mirror=$(scripts/debian-mirror.sh bookworm)
debootstrap --variant=minbase bookworm "$root" "$mirror" >/dev/null
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/src"
git clone -q "$top" "$root/src/tarvix"

# The mounts live in a mount namespace of their own and end with it.
started=$(date +%s)
unshare --mount --propagation private -- sh -c '
  set -e
  root=$1
  # The root a mount point of its own, as / is on a machine: unshare inside it can then make
  # its mounts private.
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /sys "$root/sys"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs tmpfs "$root/tmp"
  chroot "$root" env -i HOME=/root TERM=dumb CI=true PATH=/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /src/tarvix && bash .ci/run"
' sh "$root"
echo "fresh CI run: $(( ($(date +%s) - started) / 60 )) min $(( ($(date +%s) - started) % 60 )) s"
