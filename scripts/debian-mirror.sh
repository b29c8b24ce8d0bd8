#!/usr/bin/env bash
# Prints the Debian archive that this machine's apt takes a suite's main packages from (the
# URL of a "deb" source, as apt-cache policy lists it), so that a fresh root is made from the
# same archive, whichever mirror or proxy the machine is set up with.
#   scripts/debian-mirror.sh [suite]        (bookworm by default)
set -euo pipefail
suite=${1:-bookworm}
mirror=$(apt-cache policy | awk -v want="$suite/main" '$2 ~ /^https?:/ && $3 == want { print $2; exit }')
if [ -z "$mirror" ]; then
  echo "$0: apt has no source of $suite/main; add the Debian archive to apt's sources first" >&2
  exit 1
fi
echo "$mirror"
