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
. "$root/scripts/wait-for.sh"
exe=${1:-$root/build/windows/src/Tarvix.exe}
shot=${2:-$root/build/windows/wine-window.png}
[ -f "$exe" ] || { echo "wine-window-check: no $exe (build the windows preset first)" >&2; exit 2; }

# Wine as the tests run it (cmake/wine-run.sh: code page 936, the prefix of the tests).
export WINEPREFIX="${TARVIX_WINEPREFIX:-${TMPDIR:-/tmp}/tarvix-wine-$(id -u)}"
wine="$root/cmake/wine-run.sh"
wineserver=/usr/lib/wine/wineserver64
command -v wineserver >/dev/null 2>&1 && wineserver=$(command -v wineserver)

work=$(mktemp -d)
app="$WINEPREFIX/drive_c/tarvix-check"
hosts="$WINEPREFIX/drive_c/windows/system32/drivers/etc/hosts"
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
wait_for 30 "Xvfb names its display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
# Creates the prefix if needed, and moves its Wine server to this display.
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true
cp "$hosts" "$work/hosts.orig" 2>/dev/null || true

# The program in a folder of its own inside the prefix, and a GBK hosts file of ours.
rm -rf "$app"
mkdir -p "$app"
cp "$exe" "$app/Tarvix.exe"
printf '127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK >"$hosts"
cp "$hosts" "$work/hosts.before"

(cd "$app" && "$wine" 'C:\tarvix-check\Tarvix.exe' >"$work/tarvix.log" 2>&1 &)
window=$(timeout 90 xdotool search --sync --onlyvisible --name '^Tarvix$' | head -n1) ||
  fail "no window titled Tarvix within 90 s"


# Where the client area is. On an X server without a window manager Wine draws no caption: the
# X window is the client area (449 pixels wide, 6735 twips), with a border at most.
eval "$(xdotool getwindowgeometry --shell "$window")"
border=$(((WIDTH - 449) / 2))
clientX=$((X + border))
clientY=$((Y + border))
# The window takes its events in order: a click needs no pause before the next one.
at() { xdotool mousemove --sync $((clientX + $1)) $((clientY + $2)) click 1; }

wait_for 60 "the window paints" window_painted "$work" "$X" "$Y" "$WIDTH" "$HEIGHT"
pass "the window appears"
pnmtopng <"$work/a.pnm" >"$shot"
pass "screenshot in $shot"

# Tick "禁用" of row 1 (Frame1 at 120,480 twips; the row's box at 120,750 inside it), then
# "保存文件" (2760,240 inside Frame1), then OK on the message.
at 16 90
at 228 60
confirm_message "$window" Tarvix "saving"
# The check after a save follows in a message of its own (under Wine it says why the resolver
# cannot check); it comes within its 3 s limit, or not at all.
for _ in $(seq 100); do has_message_box "$window" Tarvix && break; sleep 0.1; done
if has_message_box "$window" Tarvix; then confirm_message "$window" Tarvix "the check after saving"; fi
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
confirm_message "$window" Tarvix "the batch"
result="$app/$(date +%Y-%m-%d)/127.0.0.1.txt"
# Done once ping's statistics are in the file (Wine's ping writes them in English).
ping_done() { grep -q -a 'Packets\|数据包' "$result" 2>/dev/null; }
wait_for 120 "ping's statistics in $result" ping_done
first=$(head -n1 "$result" | tr -d '\r')
[ "$first" = "================================================================" ] || fail "first line is '$first'"
label=$(printf '本次任务开始时间:' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n')
second=$(sed -n 2p "$result" | od -An -tx1 | tr -d ' \n')
case "$second" in "$label"*) ;; *) fail "second line is not the GBK start-time line: $second" ;; esac
grep -q '127.0.0.1' "$result" || fail "no reply of ping in the result file"
pass "the batch wrote the separator, the GBK start-time line and ping's reply to $result"
sed 's/^/    | /' "$result" | iconv -f GBK -t UTF-8 || true

# "退出" closes the window, and the process ends with it: none stays behind holding
# Tarvix.exe, which the installer could then not replace. The window's height follows its
# rows, so the button is found from the bottom: 27 pixels above the client area's edge.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --sync $((X + border + 400)) $((Y + HEIGHT - border - 27)) click 1
gone() { ! pgrep -f 'tarvix-check.Tarvix.exe' >/dev/null; }
wait_for 30 "Tarvix.exe ends after 退出" gone
pass "退出 ends the process"
