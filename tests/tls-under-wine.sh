#!/usr/bin/env bash
# Runs tst_tlscheck.exe under Wine against TLS listeners of its own on 127.0.0.1: an authority
# and certificates made now with openssl (never the machine's), each served by openssl
# s_server. Usage: tls-under-wine.sh wine-run.sh tst_tlscheck.exe
set -euo pipefail
run=$1 exe=$2
dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
ossl() { openssl "$@" >/dev/null 2>&1; }
authority() { # name
  ossl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/$1.key" \
    -out "$dir/$1.crt" -days 30 -subj "/CN=$1"
}
issue() { # file dns-name authority days (negative: expired)
  printf 'subjectAltName=DNS:%s\n' "$2" >"$dir/$1.ext"
  ossl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/$1.key" \
    -out "$dir/$1.csr" -subj "/CN=$2"
  ossl x509 -req -in "$dir/$1.csr" -CA "$dir/$3.crt" -CAkey "$dir/$3.key" -set_serial "$RANDOM" \
    -out "$dir/$1.crt" -days "$4" -extfile "$dir/$1.ext"
}
authority ca
authority unknownca
issue good good.test ca 30
issue other other.test ca 30
issue expired good.test ca -1
issue unknown good.test unknownca 30
spec="Z:$dir/ca.crt"
port=$((20000 + RANDOM % 20000))
for name in good other expired unknown; do
  # A port another program holds makes s_server end at once: the next one is tried.
  for _ in 1 2 3 4 5; do
    port=$((port + 1))
    openssl s_server -quiet -accept "127.0.0.1:$port" -cert "$dir/$name.crt" -key "$dir/$name.key" \
      -cert_chain "$dir/ca.crt" </dev/null >/dev/null 2>&1 &
    pid=$!
    sleep 0.3
    if kill -0 "$pid" 2>/dev/null; then break; fi
  done
  pids+=("$pid")
  spec="$spec;$name=$port"
done
TARVIX_TLS=${spec//\//\\} "$run" "$exe"
