#!/bin/sh
# Runs a program (the hosts helper) in a private mount namespace in which a folder of the
# test's own stands in for /etc, and optionally a file of the test's own is bound over
# /etc/hosts inside it, as containers bind it. The machine's own /etc and /etc/hosts are never
# touched. Nothing is run, and the exit status is 125, when the stand-ins cannot be put in
# place. Needs root.
#   helper-in-namespace.sh ETC_FOLDER HOSTS_FILE|- INPUT PROGRAM [ARGUMENTS...]
set -eu
[ $# -ge 4 ] || exit 125
exec unshare --mount --propagation private -- sh -eu -c '
  etc=$1 bound=$2 input=$3
  shift 3
  mount --bind "$etc" /etc && [ "$etc" -ef /etc ] || exit 125
  if [ "$bound" != - ]; then
    mount --bind "$bound" /etc/hosts && [ "$bound" -ef /etc/hosts ] || exit 125
  fi
  exec env -i "$@" <"$input"
' sh "$@"
