#!/usr/bin/env bash
# Starts the real Tarvix.exe under Wine (code page 936) on an X server of its own and checks
# from outside, as a user would meet it:
#   - the window appears, and a screenshot shows its Chinese captions and rows;
#   - ticking "禁用" of the first row and "保存文件" writes the right GBK bytes to the Wine
#     prefix's own hosts file (C:\windows\system32\drivers\etc\hosts), all else unchanged;
#   - a batch of 127.0.0.1 with count 1 writes the dated result file through the real cmd: the
#     separator, the "本次任务开始时间:" line in GBK and ping's reply.
#   scripts/wine-window-check.sh [Tarvix.exe] [screenshot.png]
# Needs Xvfb, xdotool, xwd and netpbm (scripts/deps.sh test installs them). Touches nothing of
# this machine but the Wine prefix of the tests and an X display of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=${1:-$root/build/windows/src/Tarvix.exe}
shot=${2:-$root/build/windows/wine-window.png}
[ -f "$exe" ] || { echo "wine-window-check: no $exe (build the windows preset first)" >&2; exit 2; }

export WINEPREFIX="${TARVIX_WINEPREFIX:-${TMPDIR:-/tmp}/tarvix-wine-$(id -u)}"
export WINEDEBUG=-all LC_ALL=zh_CN.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
"$root/cmake/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true # creates the prefix if needed
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)
wineserver=/usr/lib/wine/wineserver64
command -v wineserver >/dev/null 2>&1 && wineserver=$(command -v wineserver)

work=$(mktemp -d)
app="$WINEPREFIX/drive_c/tarvix-check"
hosts="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
cp "$hosts" "$work/hosts.orig" 2>/dev/null || true
xvfb=""
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  if [ -f "$work/hosts.orig" ]; then cp "$work/hosts.orig" "$hosts"; fi
  rm -rf "$work" "$app"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pass() { echo "PASS: $*"; }

# An X server of our own.
exec 8>"$work/display"
Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

# The program in a folder of its own inside the prefix, and a GBK hosts file of ours.
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/Tarvix.exe"
printf '127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK >"$hosts"
cp "$hosts" "$work/hosts.before"

# A Wine server left from an earlier run would show the window on its own display.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w >/dev/null 2>&1 || true
echo "$DISPLAY" >"$WINEPREFIX/.tarvix-display"
(cd "$app" && "$wine" 'C:\tarvix-check\Tarvix.exe' >"$work/tarvix.log" 2>&1 &)
window=$(timeout 90 xdotool search --sync --name '^Tarvix$' | head -n1) || fail "no window titled Tarvix within 90 s"
sleep 2 # let it paint
pass "the window appears"

# Where the client area is: the X window may hold the frame that Wine draws around it. The client
# is 449 pixels wide (6735 twips); the rest is border, and the caption sits above.
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(((WIDTH - 449) / 2))
clientX=$((X + border))
# The client height follows the rows (3 rows: 3380 - 450 twips = 195 pixels).
clientY=$((Y + HEIGHT - border - 195))
at() { xdotool mousemove --sync $((clientX + $1)) $((clientY + $2)) click 1; sleep 0.5; }

xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left "$X" -top "$Y" -width "$WIDTH" -height "$HEIGHT" |
  pnmtopng >"$shot"
pass "screenshot in $shot"

# Tick "禁用" of row 1 (Frame1 at 120,480 twips; the row's box at 120,750 inside it), then
# "保存文件" (2760,240 inside Frame1), then OK on the message.
at 16 90
at 228 60
sleep 1
xdotool key Return
sleep 1
expected=$(printf '#127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n')
got=$(od -An -tx1 "$hosts" | tr -d ' \n')
[ "$got" = "$expected" ] || fail "the saved hosts file holds $got, expected $expected"
pass "saving a ticked row wrote the GBK bytes of the edited line and kept the others"

# The batch ping page: the second tab, count 1, queue 127.0.0.1, then the batch button.
at 100 18
at 360 64
xdotool key ctrl+a
xdotool type --delay 50 '1'
at 60 120
xdotool type --delay 50 '127.0.0.1'
at 88 60
sleep 2
xdotool key Return
result="$app/$(date +%Y-%m-%d)/127.0.0.1.txt"
for _ in $(seq 60); do
  [ -f "$result" ] && grep -q 'TTL\|ttl\|bytes=\|字节=' "$result" 2>/dev/null && break
  sleep 1
done
[ -f "$result" ] || fail "no result file $result"
first=$(head -n1 "$result" | tr -d '\r')
[ "$first" = "================================================================" ] || fail "first line is '$first'"
label=$(printf '本次任务开始时间:' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n')
second=$(sed -n 2p "$result" | od -An -tx1 | tr -d ' \n')
case "$second" in "$label"*) ;; *) fail "second line is not the GBK start-time line: $second" ;; esac
grep -q '127.0.0.1' "$result" || fail "no reply of ping in the result file"
pass "the batch wrote the separator, the GBK start-time line and ping's reply to $result"
sed 's/^/    | /' "$result" | iconv -f GBK -t UTF-8 || true
