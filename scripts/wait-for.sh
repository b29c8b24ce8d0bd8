# Sourced by the black-box checks: waiting for a condition itself, never for a time that is
# hoped to be long enough.
#   wait_for SECONDS WHAT COMMAND [ARG...]
# runs COMMAND every tenth of a second until it succeeds; after SECONDS it fails the check
# with "WHAT: not within SECONDS s". The limit is generous: it only ends a check that would
# otherwise hang.
wait_for() {
  local limit=$1 what=$2
  shift 2
  local end=$((SECONDS + limit))
  until "$@"; do
    if [ "$SECONDS" -ge "$end" ]; then
      echo "FAIL: $what: not within $limit s" >&2
      exit 1
    fi
    sleep 0.1
  done
}
