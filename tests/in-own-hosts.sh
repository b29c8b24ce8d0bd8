#!/bin/sh
# Runs a program with a hosts file of the test's own as /etc/hosts, in a private mount namespace
# and a network namespace of its own (no interface up: nothing can leave the machine), with a
# name service switch that reads only files. /etc there is a copy, so that this works where the
# machine has no /etc/hosts at all (a fresh minimal root); the machine's own files are never
# touched. Exit status 125 when the stand-ins cannot be put in place. Needs root.
#   in-own-hosts.sh HOSTS_FILE NSSWITCH_FILE PROGRAM [ARGUMENTS...]
set -eu
[ $# -ge 3 ] || exit 125
etc=$(mktemp -d) || exit 125
trap 'rm -rf "$etc"' EXIT
cp -a /etc/. "$etc/" || exit 125
status=0
unshare --mount --net --propagation private -- sh -eu -c '
  etc=$1 hosts=$2 nss=$3
  shift 3
  # Files of their own, never a link that the copy kept into the tree of the machine.
  rm -f "$etc/hosts" "$etc/nsswitch.conf"
  cat "$hosts" >"$etc/hosts" && cat "$nss" >"$etc/nsswitch.conf" || exit 125
  mount --bind "$etc" /etc && [ "$etc/hosts" -ef /etc/hosts ] || exit 125
  # An nscd of the machine would answer from the machine'"'"'s hosts file.
  for d in /run/nscd /var/run/nscd; do
    [ ! -d "$d" ] || mount -t tmpfs tmpfs "$d" || exit 125
  done
  exec "$@"
' sh "$etc" "$@" || status=$?
exit "$status"
