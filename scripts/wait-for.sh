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

# The message box of a program's window under Wine: another visible X window with the same
# title. Wine gives the keys to the active window, the box; Return presses its OK, again if
# the box was shown before it took keys.
#   confirm_message WINDOW TITLE WHAT
message_box() { xdotool search --onlyvisible --name "^$2\$" | grep -v -x "$1" | head -n1; }
has_message_box() { [ -n "$(message_box "$1" "$2")" ]; }
box_closes_on_return() {
  xdotool key Return
  for _ in $(seq 20); do
    [ -z "$(message_box "$1" "$2")" ] && return 0
    sleep 0.1
  done
  return 1
}
confirm_message() {
  wait_for 60 "$3: no message box" has_message_box "$1" "$2"
  wait_for 30 "$3: the message box stays open" box_closes_on_return "$1" "$2"
}

# A window's picture settles: two photographs of the screen's rectangle X Y WIDTH HEIGHT in a
# row are alike and show more than a background. The last one stays in DIR/a.pnm.
#   window_painted DIR X Y WIDTH HEIGHT
window_photo() { xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left "$1" -top "$2" -width "$3" -height "$4"; }
window_painted() {
  window_photo "$2" "$3" "$4" "$5" >"$1/a.pnm"
  sleep 0.2
  window_photo "$2" "$3" "$4" "$5" >"$1/b.pnm"
  cmp -s "$1/a.pnm" "$1/b.pnm" && [ "$(ppmhist -noheader "$1/a.pnm" | wc -l)" -gt 8 ]
}
