#!/usr/bin/env bash
# Runs a Windows test program under 64-bit Wine with the ANSI code page 936 (GBK), in a Wine
# prefix of the build's own. The first run creates the prefix, which takes a while.
set -euo pipefail
export WINEPREFIX="${TARVIX_WINEPREFIX:-${TMPDIR:-/tmp}/tarvix-wine-$(id -u)}"
export WINEDEBUG=-all
export LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver64 -w 2>/dev/null || wineserver -w 2>/dev/null || true
fi
exec "$wine" "$@"
