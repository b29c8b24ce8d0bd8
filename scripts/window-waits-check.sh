#!/usr/bin/env bash
# The window never waits, from outside, as a user meets it (the real program, on a machine of
# its own: scripts/own-machine.sh). Another user holds flock on the hosts file's folder, a FIFO
# lies where a save's kept copy would be, and IP.txt offers 10,000 addresses that refuse:
#   - the window shows within 10 s;
#   - after "保存文件" it answers a click within 2 s, and a message comes within 8 s; the hosts
#     file is as it was;
#   - once the lock is free and the FIFO gone, "读取HOST文件" shows the rows, and 测速 of a row
#     shows its dialog within 3 s; Esc closes it, and the program still runs.
#   scripts/window-waits-check.sh [tarvix] [screenshot.png]
# Needs root (the namespaces), Xvfb, xdotool, xwd and netpbm (scripts/deps.sh test).
set -euo pipefail
check=window-waits-check
. "$(dirname "$0")/own-machine.sh"
own_machine_enter

printf '127.0.0.1 localhost\n10.0.0.1 printer\n' >/etc/hosts
cp /etc/hosts "$work/hosts.before"
mkfifo /etc/.hosts.tarvix-kept
# Another user's lock on the folder, held for longer than the check runs.
setpriv --reuid=65534 --regid=65534 --clear-groups sh -c 'exec 9</etc && flock 9 && exec sleep 600' \
  </dev/null >/dev/null 2>&1 &
holder=$!
own_machine_pids+=("$holder")
sleep 0.5

app=$work/app
mkdir "$app"
cp "$exe" "$app/tarvix"
for a in $(seq 0 39); do for b in $(seq 0 249); do printf '127.1.%s.%s\r\n' "$a" "$b"; done; done >"$app/IP.txt"

started=$(date +%s%N)
own_machine_window "$app" 10
shown=$((($(date +%s%N) - started) / 1000000))
pass "the window shows after $shown ms"

# The window's rectangle as it was when the check began, at its tallest.
photo() { window_photo "$X0" "$Y0" "$WIDTH0" "$HEIGHT0" >"$work/$1.pnm"; }
X0=$X Y0=$Y WIDTH0=$WIDTH HEIGHT0=$HEIGHT
# The window's rectangle as it was when the check began, at its tallest.
photo() { window_photo "$X0" "$Y0" "$WIDTH0" "$HEIGHT0" >"$work/$1.pnm"; }
X0=$X Y0=$Y WIDTH0=$WIDTH HEIGHT0=$HEIGHT
changed() { photo now; ! cmp -s "$work/$1.pnm" "$work/now.pnm"; }

# The FIFO goes; the lock stays. "读取HOST文件" waits for it 3 s, then reads without it.
rm /etc/.hosts.tarvix-kept
click 60 60 # 读取HOST文件
# The window, empty at its design height, fits itself to the two rows once they are read.
fitted() { eval "$(xdotool getwindowgeometry --shell "$window")" && [ "$HEIGHT" -lt "$HEIGHT0" ]; }
wait_for 10 "the rows after 读取HOST文件" fitted
wait_for 10 "the rows settle" window_painted "$work" "$X0" "$Y0" "$WIDTH0" "$HEIGHT0"
pass "读取HOST文件 shows the rows while the lock is held"

# A tick and "保存文件" while the lock is held. The window answers when its picture changes:
# the 批量PING tab shows, or the save's message.
click 22 90 # 禁用 of row 1
photo before
click 228 60 # 保存文件
asked=$(date +%s%N)
click 100 18 # the 批量PING tab
until changed before || [ $(($(date +%s%N) - asked)) -gt 2000000000 ]; do sleep 0.05; done
changed before || fail "the window did not answer a click within 2 s of 保存文件"
pass "the window answers a click $((($(date +%s%N) - asked) / 1000000)) ms after 保存文件"
wait_for 8 "a message within 8 s of 保存文件" has_message_box "$window" Tarvix
pass "the message comes $((($(date +%s%N) - asked) / 1000000)) ms after 保存文件"
wait_for 10 "the message closes" box_closes_on_return "$window" Tarvix
cmp -s /etc/hosts "$work/hosts.before" || fail "the hosts file changed while another program held the lock"
pass "the hosts file is as it was"

kill "$holder"
click 40 18 # the HOST编辑 tab
menu_pick 100 90 t # 测速(&T) in the row menu of row 1
asked=$(date +%s%N)
dialog=$(timeout 3 xdotool search --sync --onlyvisible --name '^测速' | head -n1) ||
  fail "no 测速 dialog within 3 s"
pass "测速 over 10,000 common IPs shows its dialog after $((($(date +%s%N) - asked) / 1000000)) ms"
xdotool key Escape
closed() { [ -z "$(xdotool search --onlyvisible --name '^测速' 2>/dev/null)" ]; }
wait_for 3 "Esc closes the 测速 dialog" closed
pgrep -f "$app/tarvix" >/dev/null || fail "the program ended"
xdotool search --onlyvisible --name '^Tarvix$' >/dev/null || fail "the window is gone"
pass "Esc closes the dialog, and the program still runs"
