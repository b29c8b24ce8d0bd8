# Sourced by the Linux black-box checks that run the real program as a user meets it, on a
# machine of their own: a network namespace where only loopback is up (nothing can leave), a
# mount namespace where /etc is a copy (its hosts file and trust store are the check's), and an
# X server of its own. The machine's own files are never touched. Needs root.
#   own_machine_enter        first thing in the script: runs the script again in the
#                            namespaces (or ends it with SKIP where none may be made)
#   own_machine_window DIR   starts DIR/tarvix on the X server; sets window, X, Y, WIDTH, HEIGHT
#   click X Y [BUTTON]       a click at X,Y of the window's client area
#   menu_pick X Y KEY        a right click at X,Y, then KEY once the menu shows
# The script sets $check (its name) and sources this with its own arguments in place: the
# program (default: the default preset's build) and a PNG to photograph the screen into (on
# failure: beside it), or none.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exe=${1:-$root/build/default/src/tarvix}
shot=${2:-}
[ -x "$exe" ] || { echo "$check: no $exe (build the default preset first)" >&2; exit 2; }
. "$root/scripts/wait-for.sh"
# xdotool matches window names such as "测速 - …" in the locale's encoding: in the C locale of a
# bare root it sees no such name.
export LC_ALL=C.UTF-8

fail() {
  echo "FAIL: $*" >&2
  # The screen as it was, beside the screenshot when one was asked for.
  [ -z "$shot" ] || [ -z "${DISPLAY:-}" ] || xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"${shot%.png}-failed.png" || true
  exit 1
}
pass() { echo "PASS: $*"; }

own_machine_enter() {
  if [ "${TARVIX_IN_NAMESPACE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "$check: needs root for its namespaces" >&2; exit 2; }
    if ! unshare --mount --net true 2>/dev/null; then
      echo "SKIP: $check: this machine allows no new namespaces"
      exit 0
    fi
    local work
    work=$(mktemp -d)
    cp -a /etc "$work/etc"
    local status=0
    TARVIX_IN_NAMESPACE=1 TARVIX_WORK=$work unshare --mount --net --propagation private -- "$0" "$exe" "$shot" ||
      status=$?
    rm -rf "$work"
    exit "$status"
  fi
  work=$TARVIX_WORK
  ip link set lo up
  mount --bind "$work/etc" /etc
  for d in /run/nscd /var/run/nscd; do [ ! -d "$d" ] || mount -t tmpfs tmpfs "$d"; done
  printf 'hosts: files dns\n' >/etc/nsswitch.conf
  printf 'nameserver 127.0.0.1\n' >/etc/resolv.conf # nothing answers there: no lookup leaves
  own_machine_pids=()
  own_machine_xvfb=""
  trap own_machine_cleanup EXIT
}

own_machine_cleanup() {
  for p in "${own_machine_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  pkill -f "$work/app/tarvix" 2>/dev/null || true
  [ -z "$own_machine_xvfb" ] || kill "$own_machine_xvfb" 2>/dev/null || true
}

own_machine_window() {
  exec 8>"$work/display"
  Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  own_machine_xvfb=$!
  wait_for 30 "Xvfb names its display" test -s "$work/display"
  export DISPLAY=":$(head -n1 "$work/display")"
  export HOME=$work/home XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=xcb
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  (cd "$1" && exec "$1/tarvix" >"$work/tarvix.log" 2>&1 &)
  window=$(timeout "${2:-60}" xdotool search --sync --onlyvisible --name '^Tarvix$' | head -n1) ||
    fail "no window titled Tarvix within ${2:-60} s"
  eval "$(xdotool getwindowgeometry --shell "$window")"
}

# Without a window manager the X window is the client area: controls stand where the design's
# twips put them, 15 twips a pixel. The window's height follows its rows, and with it its
# place: each click asks where it is now.
click() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove --sync $((X + $1)) $((Y + $2)) click "${3:-1}"
}

# The menu of a right click is a further visible window of the program's: the key that picks
# an entry goes once it shows, not to the control below it.
program_windows() { xdotool search --onlyvisible --class tarvix 2>/dev/null | wc -l; }
menu_pick() {
  local before
  before=$(program_windows)
  click "$1" "$2" 3
  menu_shown() { [ "$(program_windows)" -gt "$before" ]; }
  wait_for 10 "the menu at $1,$2" menu_shown
  xdotool key "$3"
}
