#!/usr/bin/env bash
# 测速本节 from outside, as a user meets it: the real program on an X server of its own, in a
# network namespace where only loopback is up and a mount namespace where /etc is a copy with
# a hosts file and a certificate authority of this check's own (made now with openssl; the
# machine's /etc and its trust store are never touched).
#   - 127.0.0.1:443 serves a certificate for good.test and api.test, 127.0.0.2-9:443 one for
#     other.test (openssl s_server); IP.txt offers 127.0.0.1-9;
#   - the section "# blk" maps good.test and api.test to 127.0.0.2;
#   - right click on the section's row, 测速本节 (S), Enter (全部使用), "保存文件": both rows
#     map to 127.0.0.1 and nothing else in the file changed.
#   scripts/block-speed-check.sh [tarvix] [screenshot.png]
# Needs root (the namespaces), openssl, Xvfb, xdotool, xwd and netpbm (scripts/deps.sh test).
set -euo pipefail
check=block-speed-check
. "$(dirname "$0")/own-machine.sh"
own_machine_enter

hosts='127.0.0.1 localhost
# blk
127.0.0.2 good.test
127.0.0.2 api.test

127.0.0.5 keep.test
'
printf '%s' "$hosts" >/etc/hosts

# The authority, trusted in the copy's store, and the two certificates.
tls=$work/tls
mkdir "$tls"
ossl() { openssl "$@" >/dev/null 2>&1 || fail "openssl $1"; }
ossl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$tls/ca.key" \
  -out "$tls/ca.crt" -days 2 -subj "/CN=Tarvix Check CA"
cp "$tls/ca.crt" /etc/ssl/certs/tarvix-check-ca.pem
ln -s tarvix-check-ca.pem "/etc/ssl/certs/$(openssl x509 -hash -noout -in "$tls/ca.crt").0"
cat "$tls/ca.crt" >>/etc/ssl/certs/ca-certificates.crt
issue() { # name dns-names
  printf 'subjectAltName=%s\n' "$2" >"$tls/$1.ext"
  ossl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$tls/$1.key" \
    -out "$tls/$1.csr" -subj "/CN=$1"
  ossl x509 -req -in "$tls/$1.csr" -CA "$tls/ca.crt" -CAkey "$tls/ca.key" -set_serial "$RANDOM" \
    -out "$tls/$1.crt" -days 2 -extfile "$tls/$1.ext"
}
issue good 'DNS:good.test,DNS:api.test'
issue other 'DNS:other.test'
serve() { # address certificate
  openssl s_server -quiet -accept "$1:443" -cert "$tls/$2.crt" -key "$tls/$2.key" </dev/null >/dev/null 2>&1 &
  own_machine_pids+=($!)
}
serve 127.0.0.1 good
for i in 2 3 4 5 6 7 8 9; do serve "127.0.0.$i" other; done
listening() { [ "$(ss -Hltn 'sport = :443' | wc -l)" -ge 9 ]; }
wait_for 30 "the nine listeners on port 443" listening

# The program in a folder of its own, with IP.txt beside it.
app=$work/app
mkdir "$app"
cp "$exe" "$app/tarvix"
for i in 1 2 3 4 5 6 7 8 9; do printf '127.0.0.%s\r\n' "$i"; done >"$app/IP.txt"

own_machine_window "$app"
wait_for 60 "the window paints" window_painted "$work" "$X" "$Y" "$WIDTH" "$HEIGHT"
pass "the window shows the hosts file"
# Row 2's host box, Text1(1), stands at 1080,1140 twips inside Frame1.
menu_pick 100 110 s # 测速本节(&S) in the row menu of the section's row
dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^测速' | head -n1) || fail "no 测速 dialog"
eval "$(xdotool getwindowgeometry --shell --prefix D "$dialog")"
# Every try ends within its second: three connections and a handshake take 4 s at the most,
# after which the picture settles on the final results.
sleep 4
wait_for 30 "the 测速 dialog settles" window_painted "$work" "$DX" "$DY" "$DWIDTH" "$DHEIGHT"
pass "测速本节 opened its dialog and measured the block"
[ -z "$shot" ] || pnmtopng <"$work/a.pnm" >"$shot"
xdotool key Return # 全部使用, the default button
closed() { [ -z "$(xdotool search --onlyvisible --name '^测速' 2>/dev/null)" ]; }
wait_for 30 "Enter closes the 测速 dialog" closed
printf '%s' "$hosts" | cmp -s /etc/hosts - || fail "the hosts file changed before 保存文件"
pass "全部使用 changed nothing on disk"

click 228 60 1 # 保存文件 (2760,240 twips inside Frame1, which stands at 120,480)
printf '%s' "${hosts//127.0.0.2 /127.0.0.1 }" >"$work/expected"
is_saved() { cmp -s /etc/hosts "$work/expected"; }
for _ in $(seq 300); do is_saved && break; sleep 0.1; done
is_saved || fail "the hosts file holds: $(cat /etc/hosts)"
pass "保存文件: good.test and api.test map to 127.0.0.1, every other line as it was"
