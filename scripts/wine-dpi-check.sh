#!/usr/bin/env bash
# Starts the real Tarvix.exe under Wine at 125 %, 150 % and 200 % (LogPixels 120, 144, 192)
# with a hosts file of 40 lines, so that the rows scroll, and checks from outside that the
# window grows with the scale (its client is 449 pixels wide at 100 %). Each window is
# photographed into build/windows/wine-dpi-<LogPixels>.png; the one at 150 % is the README's
# docs/window-windows-150.png when asked for with --docs.
#   scripts/wine-dpi-check.sh [--docs] [Tarvix.exe]
# Uses a Wine prefix of its own and an X server of its own; touches nothing else.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wait-for.sh"
docs=""
if [ "${1:-}" = --docs ]; then
  docs=1
  shift
fi
exe=${1:-$root/build/windows/src/Tarvix.exe}
[ -f "$exe" ] || { echo "wine-dpi-check: no $exe (build the windows preset first)" >&2; exit 2; }

work=$(mktemp -d)
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)
wineserver=/usr/lib/wine/wineserver64
command -v wineserver >/dev/null 2>&1 && wineserver=$(command -v wineserver)
xvfb=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

exec 8>"$work/display"
Xvfb -displayfd 8 -screen 0 1920x1440x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wait_for 30 "Xvfb names its display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
"$wine" wineboot --init >/dev/null 2>&1 || true
"$wineserver" -w

c="$WINEPREFIX/drive_c"
mkdir -p "$c/tarvix"
cp "$exe" "$c/tarvix/Tarvix.exe"
for i in $(seq 40); do printf '10.0.1.%d host%d.example.lan\r\n' "$i" "$i"; done >"$c/windows/system32/drivers/etc/hosts"

for dpi in 120 144 192; do
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  (cd "$c/tarvix" && "$wine" 'C:\tarvix\Tarvix.exe' >"$work/tarvix-$dpi.log" 2>&1 &)
  window=$(timeout 90 xdotool search --sync --onlyvisible --name '^Tarvix$' | head -n1) ||
    fail "no window at LogPixels $dpi"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  wait_for 60 "the window at LogPixels $dpi paints" window_painted "$work" "$X" "$Y" "$WIDTH" "$HEIGHT"
  want=$((449 * dpi / 96))
  # The X window holds Wine's frame too: at most a few dozen pixels more than the client.
  [ "$WIDTH" -ge "$want" ] && [ "$WIDTH" -le $((want + 40)) ] ||
    fail "at LogPixels $dpi the window is $WIDTH pixels wide, the client should be $want"
  shot="$root/build/windows/wine-dpi-$dpi.png"
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
    pnmtopng >"$shot"
  echo "PASS: at LogPixels $dpi the window is $WIDTH x $HEIGHT pixels ($shot)"
  if [ "$dpi" = 144 ] && [ -n "$docs" ]; then
    cp "$shot" "$root/docs/window-windows-150.png"
  fi
  "$wineserver" -k >/dev/null 2>&1 || true
done
