#!/bin/sh
# Runs a program with a hosts file of the test's own as /etc/hosts, in a private mount namespace
# and a network namespace of its own (no interface up: nothing can leave the machine), with a
# name service switch that reads only files. The machine's own files are never touched. Exit
# status 125 when the stand-ins cannot be put in place. Needs root.
#   in-own-hosts.sh HOSTS_FILE NSSWITCH_FILE PROGRAM [ARGUMENTS...]
set -eu
[ $# -ge 3 ] || exit 125
exec unshare --mount --net --propagation private -- sh -eu -c '
  hosts=$1 nss=$2
  shift 2
  mount --bind "$hosts" /etc/hosts && [ "$hosts" -ef /etc/hosts ] || exit 125
  mount --bind "$nss" /etc/nsswitch.conf && [ "$nss" -ef /etc/nsswitch.conf ] || exit 125
  # An nscd of the machine would answer from the machine'"'"'s hosts file.
  for d in /run/nscd /var/run/nscd; do
    [ ! -d "$d" ] || mount -t tmpfs tmpfs "$d" || exit 125
  done
  exec "$@"
' sh "$@"
