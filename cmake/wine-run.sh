#!/usr/bin/env bash
# Runs a Windows program under 64-bit Wine with the ANSI code page 936 (GBK), in a Wine prefix
# of the build's own. The first run creates the prefix, which takes a while. Wine needs an X
# display even for programs that show no window (Qt's event loop uses a hidden window): without
# one, the program runs under an X server of its own (xvfb-run).
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
export WINEPREFIX="${TARVIX_WINEPREFIX:-${TMPDIR:-/tmp}/tarvix-wine-$(id -u)}"
export WINEDEBUG=-all
export LC_ALL=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
# QtTest writes to the debugger instead of a pipe unless told otherwise.
export QT_FORCE_STDERR_LOGGING=1
# Wine keeps the QT_ variables of Linux from Windows programs; it passes WINEQT_x on as QT_x.
while IFS='=' read -r name _; do
  export "WINE$name=${!name}"
done < <(env | grep -E '^QT_[A-Z0-9_]*=')
wine=/usr/lib/wine/wine64
command -v wine64 >/dev/null 2>&1 && wine=$(command -v wine64)
wineserver=/usr/lib/wine/wineserver64
command -v wineserver >/dev/null 2>&1 && wineserver=$(command -v wineserver)
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w 2>/dev/null || true
fi
# A Wine server that an earlier run started on another display would open the windows there.
if [ "$(cat "$WINEPREFIX/.tarvix-display" 2>/dev/null)" != "$DISPLAY" ]; then
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  echo "$DISPLAY" >"$WINEPREFIX/.tarvix-display"
fi
exec "$wine" "$@"
