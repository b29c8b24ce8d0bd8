#!/usr/bin/env bash
# Builds the Debian package and checks it as a user of a fresh Debian 12 machine meets it:
#   1. lintian reports no errors;
#   2. in a fresh Debian 12 root (debootstrap --variant=minbase), `apt-get install ./tarvix_….deb`
#      installs it with its dependencies;
#   3. the installed program starts under Xvfb as a normal user, shows its window and keeps
#      IP.txt and Ping.txt in that user's data folder, not in /usr/bin;
#   4. the installed helper writes that root's own /etc/hosts from a frame on its input;
#   5. `apt-get remove --purge tarvix` leaves none of its files behind.
# Needs root (debootstrap, chroot) and the Debian archive that the machine's apt uses (found by
# scripts/debian-mirror.sh); nothing else leaves the machine. The machine's own /etc/hosts is
# never touched: the helper runs in the chroot.
# Downloaded packages are kept in build/debootstrap-cache for the next run; the root itself is
# made afresh each time and removed at the end (kept with --keep).
#   scripts/check-deb.sh [--keep]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
keep=no
[ "${1:-}" = --keep ] && keep=yes
if [ "$(id -u)" -ne 0 ]; then
  echo "$0: needs root (debootstrap and chroot)" >&2
  exit 2
fi
mirror=$(scripts/debian-mirror.sh bookworm)
started=$(date +%s)
step() { printf '\n== %s (%ss)\n' "$1" "$(($(date +%s) - started))"; }

step "packages for building and checking"
scripts/deps.sh deb

step "building the package"
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset deb >/dev/null
cmake --build --preset deb -j "$jobs"
rm -f build/deb/tarvix_*.deb
(cd build/deb && cpack -G DEB >/dev/null)
deb=$(ls "$top"/build/deb/tarvix_*_amd64.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

step "lintian"
# Errors fail the check; warnings and notes are shown. lintian runs as an unprivileged user.
lint=$(mktemp -d)
cp "$deb" "$lint/"
chmod -R a+rX "$lint"
runuser -u nobody -- lintian --fail-on error --display-info --tag-display-limit 0 "$lint/$(basename "$deb")"
rm -rf "$lint"

step "a fresh Debian 12 root"
root=$(mktemp -d /var/tmp/tarvix-deb-root.XXXXXX)
chmod 0755 "$root" # the root folder of a system: every user passes through it
cleanup() {
  # The mounts below live in a mount namespace of their own and are gone with it; the root is
  # removed only when nothing is mounted inside it.
  if [ "$keep" = yes ]; then
    echo "kept: $root"
  elif ! grep -q " $root/" /proc/self/mounts; then
    rm -rf --one-file-system "$root"
  fi
}
trap cleanup EXIT
cache="$top/build/debootstrap-cache"
mkdir -p "$cache"
debootstrap --variant=minbase --cache-dir="$cache" bookworm "$root" "$mirror" >/dev/null
# No service starts inside the root (polkitd, dbus): installing is what is checked.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 0755 "$root/usr/sbin/policy-rc.d"
cp "$deb" "$root/tmp/"
cp scripts/check-deb-inside.sh "$root/tmp/"
# The root's own hosts file (minbase makes none), which the installed helper writes.
rm -f "$root/etc/hosts"
printf '127.0.0.1\tlocalhost\n' >"$root/etc/hosts"
if [ "$root/etc/hosts" -ef /etc/hosts ]; then
  echo "the root's /etc/hosts is not a file of its own" >&2
  exit 1
fi

step "installing, starting, removing inside the root"
unshare --mount --propagation private -- bash -euo pipefail -c '
  root=$1
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mkdir -p "$root/dev/shm" "$root/dev/pts"
  mount -t tmpfs tmpfs "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  chroot "$root" /bin/bash /tmp/check-deb-inside.sh "/tmp/$(basename "$2")"
' bash "$root" "$deb"

step "done: the package builds, passes lintian, installs, runs and removes cleanly"
