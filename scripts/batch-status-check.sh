#!/usr/bin/env bash
# 批量PING状态 from outside, as a user meets it (the real program, on a machine of its own:
# scripts/own-machine.sh), where 10.9.9.9 never answers: it is routed to loopback, which drops
# what is not for this machine (no dummy link is needed, which some kernels lack). A queue of 127.0.0.1, 127.0.0.1:7777 (a listener), 127.0.0.1:7778 (nothing
# listens) and 10.9.9.9 with a count of 20:
#   - after 6 s, "实时状态" from the log's menu shows 批量PING状态, whose copied table (header
#     row with "目标" and "已接收") gives replies for the first two and none for the others;
#   - "停止全部" leaves no ping running within 3 s;
#   - the TCP target's result file holds its tries.
#   scripts/batch-status-check.sh [tarvix] [screenshot.png]
# Needs root (the namespaces), openssl, Xvfb, xdotool, xclip, xwd and netpbm (scripts/deps.sh test).
set -euo pipefail
check=batch-status-check
. "$(dirname "$0")/own-machine.sh"
own_machine_enter

ip route add 10.9.9.0/24 dev lo
# A listener on 127.0.0.1:7777 (a TLS server's port takes the TCP runs' connections).
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$work/l.key" \
  -out "$work/l.crt" -days 2 -subj /CN=listener >/dev/null 2>&1
openssl s_server -quiet -accept 127.0.0.1:7777 -cert "$work/l.crt" -key "$work/l.key" </dev/null >/dev/null 2>&1 &
own_machine_pids+=($!)
listening() { [ -n "$(ss -Hltn 'sport = :7777')" ]; }
wait_for 30 "the listener on 7777" listening
# Twelve rows: the batch page's task box and log grow with the hosts rows.
{ printf '127.0.0.1 localhost\n'; for i in $(seq 11); do printf '10.0.0.%s host%s.lan\n' "$i" "$i"; done; } >/etc/hosts

app=$work/app
mkdir "$app"
cp "$exe" "$app/tarvix"
printf '127.0.0.1\r\n127.0.0.1:7777\r\n127.0.0.1:7778\r\n10.9.9.9\r\n' >"$app/Ping.txt"
own_machine_window "$app"
wait_for 60 "the window paints" window_painted "$work" "$X" "$Y" "$WIDTH" "$HEIGHT"

click 100 18 # the 批量PING tab
click 364 64 # TextN
xdotool key ctrl+a
xdotool type --delay 50 '20'
click 88 60 # 批量PING以下域名或IP
wait_for 30 "后台启动完成!" has_message_box "$window" Tarvix
wait_for 10 "the message closes" box_closes_on_return "$window" Tarvix
pass "the batch of four targets started"
sleep 6

menu_pick 296 140 s # 实时状态(&S) in the log's menu
status=$(timeout 10 xdotool search --sync --onlyvisible --name '^批量PING状态$' | head -n1) ||
  fail "no window 批量PING状态"
eval "$(xdotool getwindowgeometry --shell --prefix S "$status")"
xdotool mousemove --sync $((SX + 40)) $((SY + 40)) click 1 # a row of the table
xdotool key ctrl+a ctrl+c
sleep 0.5
xclip -o -selection clipboard >"$work/table.tsv" || fail "nothing copied"
sed 's/^/    | /' "$work/table.tsv"
header=$(head -n1 "$work/table.tsv")
case "$header" in *目标*已接收*) ;; *) fail "the copied header is '$header'" ;; esac
column=$(head -n1 "$work/table.tsv" | tr '\t' '\n' | grep -n -x '已接收' | cut -d: -f1)
received() { awk -F '\t' -v t="$1" -v c="$column" '$1 == t { print $c }' "$work/table.tsv"; }
for t in 127.0.0.1 127.0.0.1:7777; do
  [ "$(received "$t")" -gt 0 ] 2>/dev/null || fail "$t: received '$(received "$t")'"
done
for t in 127.0.0.1:7778 10.9.9.9; do
  [ "$(received "$t")" = 0 ] || fail "$t: received '$(received "$t")'"
done
pass "the copied table gives replies for 127.0.0.1 and 127.0.0.1:7777, none for the others"
[ -z "$shot" ] || window_photo "$SX" "$SY" "$SWIDTH" "$SHEIGHT" | pnmtopng >"$shot"

xdotool key alt+t # 停止全部(&T)
stopped=$(date +%s%N)
no_ping() { ! pgrep -x ping >/dev/null; }
wait_for 3 "no ping within 3 s of 停止全部" no_ping
pass "停止全部: no ping runs after $((($(date +%s%N) - stopped) / 1000000)) ms"
result=$(ls "$app/$(date +%Y-%m-%d)/"*7777* 2>/dev/null | head -n1)
[ -n "$result" ] || fail "no result file for 127.0.0.1:7777 in $app/$(date +%Y-%m-%d)"
grep -q '连接 127.0.0.1:7777: 时间=' "$result" || fail "$result holds no tries: $(cat "$result")"
pass "the TCP target's result file $(basename "$result") holds its tries"
