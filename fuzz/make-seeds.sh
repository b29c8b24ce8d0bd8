#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets from the test data, plus inputs too large or too
# odd to keep in the repository: CR-only line ends, NUL bytes, a 5 MB single line.
#   fuzz/make-seeds.sh OUTDIR     (makes OUTDIR/hosts, OUTDIR/fields, OUTDIR/ping,
#                                  OUTDIR/pingsummary)
set -euo pipefail
out=${1:?usage: $0 OUTDIR}
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out/hosts" "$out/fields" "$out/ping" "$out/pingsummary"
i=0
for f in "$here"/tests/data/hosts/*; do
  i=$((i + 1))
  { printf '\000'; cat "$f"; } > "$out/hosts/utf8-$i"
  { printf '\001'; cat "$f"; } > "$out/hosts/gbk-$i"
  cp "$f" "$out/fields/$i"
  cp "$f" "$out/ping/$i"
done
printf '\0001.1.1.1 a\r2.2.2.2 b\r#3.3.3.3 c\r' > "$out/hosts/cr-only"
printf '\0001.1.1.1 a\000b\n\000\n' > "$out/hosts/nul"
printf '10.0.0.1\r\n"a,b"\r\n\r\n  x ,y\r\n"unclosed\r\n' > "$out/fields/ip"
printf '10.0.0.1\r10.0.0.2\r' > "$out/fields/cr-only"
printf '中文,"引号"\r\n' | iconv -f UTF-8 -t GBK > "$out/fields/gbk"
# The recorded summaries; the first byte picks the code page (1: GBK, for the Chinese ones).
for f in "$here"/tests/data/ping/*; do
  case "$f" in *windows-zh*) mode='\001' ;; *) mode='\000' ;; esac
  { printf "$mode"; cat "$f"; } > "$out/pingsummary/$(basename "$f")"
done
printf '50\000127.0.0.1\r\n  \r\n::1\r\na & b\r\n../x\r\n' > "$out/ping/queue"
printf '5 -t\000 localhost\r\n%%time%%\r\n' > "$out/ping/count"
head -c 5000000 /dev/zero | tr '\0' 'a' > "$out/fields/5mb-line"
{ printf '\000'; head -c 5000000 /dev/zero | tr '\0' 'x'; } > "$out/hosts/5mb-line"
