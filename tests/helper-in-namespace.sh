#!/bin/sh
# Runs a program (the hosts helper) in a private mount namespace in which a folder of the
# test's own stands in for /etc, and optionally a file of the test's own is bound over
# /etc/hosts inside it, as containers bind it. The machine's own /etc and /etc/hosts are never
# touched. Nothing is run, and the exit status is 125, when the stand-ins cannot be put in
# place. The program starts as a careless caller would start it, with umask 000, and with
# --no-file-size also with a file size limit of 0 (ulimit -f 0). Needs root.
#   helper-in-namespace.sh [--no-file-size] ETC_FOLDER HOSTS_FILE|- INPUT PROGRAM [ARGUMENTS...]
set -eu
limit=unlimited
if [ "${1:-}" = --no-file-size ]; then
  limit=0
  shift
fi
[ $# -ge 4 ] || exit 125
exec unshare --mount --propagation private -- sh -eu -c '
  limit=$1 etc=$2 bound=$3 input=$4
  shift 4
  mount --bind "$etc" /etc && [ "$etc" -ef /etc ] || exit 125
  if [ "$bound" != - ]; then
    mount --bind "$bound" /etc/hosts && [ "$bound" -ef /etc/hosts ] || exit 125
  fi
  umask 000
  ulimit -f "$limit"
  exec env -i "$@" <"$input"
' sh "$limit" "$@"
