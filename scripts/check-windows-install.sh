#!/usr/bin/env bash
# Checks the Windows installer and the portable zip as a Windows user meets them, black-box,
# in a fresh Wine prefix of its own (code page 936) on an X server of its own:
#   - the installer runs silently (/S): Tarvix.exe in Program Files\Tarvix, a Start-menu link,
#     the entry under "Apps & features" (publisher, version, icon, size); run again over an
#     older version it upgrades in place;
#   - the installed program starts, and "保存任务" writes Ping.txt into %APPDATA%\tarvix;
#   - its writer mode (what the window starts through the UAC prompt) replaces the prefix's
#     hosts file with exactly the content handed to it, and refuses an argument that names a
#     file, an oversize and a malformed frame, writing nothing;
#   - the silent uninstaller leaves no file of the install and no entry, and the user's files;
#   - the zip's copy keeps its files beside itself.
#   scripts/check-windows-install.sh [build folder]      (default build/windows, after
#                                                        cmake --build --preset windows --target package)
# Needs wine64, Xvfb, xdotool and unzip (scripts/deps.sh test). Touches nothing of this machine
# but a temporary folder: Wine's menu builder is kept from writing desktop entries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/wait-for.sh"
build=${1:-$root/build/windows}
setup=$(ls "$build"/Tarvix-*-win64-setup.exe 2>/dev/null | head -n1)
zip=$(ls "$build"/Tarvix-*-win64.zip 2>/dev/null | head -n1)
client="$build/tests/win32/tst_win32.exe"
[ -f "$setup" ] && [ -f "$zip" ] && [ -f "$client" ] || {
  echo "check-windows-install: build the installer and the zip first:" >&2
  echo "  cmake --build --preset windows --target package" >&2
  exit 2
}
version=$(basename "$setup" | sed 's/^Tarvix-\(.*\)-win64-setup.exe$/\1/')

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
pass() { echo "PASS: $*"; }
w() { "$wine" "$@"; }
regValue() { # key value: the data of a value in the registry's 64-bit view, or nothing
  w reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

exec 8>"$work/display"
Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
wait_for 30 "Xvfb names its display" test -s "$work/display"
export DISPLAY=":$(head -n1 "$work/display")"
w wineboot --init >/dev/null 2>&1 || true
"$wineserver" -w

c="$WINEPREFIX/drive_c"
inst="$c/Program Files/Tarvix"
link="$c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarvix.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvix'
hosts="$c/windows/system32/drivers/etc/hosts"
printf '127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK >"$hosts"

# --- install -----------------------------------------------------------------------------
cp "$setup" "$c/setup.exe"
w 'C:\setup.exe' /S >/dev/null 2>&1
"$wineserver" -w
[ -f "$inst/Tarvix.exe" ] || fail "no Tarvix.exe in Program Files\\Tarvix"
[ -f "$inst/tarvix-installed.txt" ] || fail "the installed copy is not marked as installed"
[ -f "$link" ] || fail "no Start-menu link"
[ "$(regValue "$key" DisplayVersion)" = "$version" ] || fail "no uninstall entry with version $version"
[ "$(regValue "$key" Publisher)" = "Tarvix" ] || fail "the uninstall entry names no publisher"
case "$(regValue "$key" DisplayIcon)" in *Tarvix.exe,0) ;; *) fail "the uninstall entry has no icon" ;; esac
[ -n "$(regValue "$key" EstimatedSize)" ] || fail "the uninstall entry gives no size"
pass "silent install: Program Files\\Tarvix\\Tarvix.exe, the Start-menu link, the uninstall entry ($version)"

w reg add "$key" /v DisplayVersion /d 1.0.0 /f >/dev/null 2>&1
w 'C:\setup.exe' /S >/dev/null 2>&1
"$wineserver" -w
[ "$(regValue "$key" DisplayVersion)" = "$version" ] || fail "installing over an older version left its entry"
[ "$(ls "$c/Program Files" | grep -ci tarvix)" = 1 ] || fail "a second install folder"
pass "installing again over an older version upgrades in place"

# --- the installed program: "保存任务" ------------------------------------------------------
appdata=$(find "$c/users" -maxdepth 3 -type d -path '*/AppData/Roaming' | head -n1)
[ -n "$appdata" ] || fail "no AppData\\Roaming in the prefix"
saveQueue() { # exe-folder (Windows path) target: starts Tarvix.exe, types the target, 保存任务
  (cd "$c" && "$wine" "$1\\Tarvix.exe" >"$work/tarvix.log" 2>&1 &) 2>/dev/null
  local window
  window=$(timeout 90 xdotool search --sync --onlyvisible --name '^Tarvix$' | head -n1) ||
    fail "no window titled Tarvix"
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local border=$(((WIDTH - 449) / 2))
  # Without a window manager Wine draws no caption: the X window is the client, with a border
  # at most.
  local cx=$((X + border)) cy=$((Y + border))
  at() { xdotool mousemove --sync $((cx + $1)) $((cy + $2)) click 1; } # taken in order
  at 100 18 # the batch ping tab
  at 60 120 # TextIP
  xdotool type --delay 50 "$2"
  at 204 60 # 保存任务 (Command3)
  confirm_message "$window" Tarvix "保存任务"
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
}
saveQueue 'C:\Program Files\Tarvix' 127.0.0.1
[ "$(cat "$appdata/tarvix/Ping.txt" 2>/dev/null | tr -d '\r')" = 127.0.0.1 ] ||
  fail "保存任务 of the installed copy did not write %APPDATA%\\tarvix\\Ping.txt"
[ ! -e "$inst/Ping.txt" ] && [ ! -e "$inst/IP.txt" ] || fail "the installed copy wrote into Program Files"
pass "the installed copy starts and 保存任务 writes %APPDATA%\\tarvix\\Ping.txt"

# --- the writer mode ---------------------------------------------------------------------
cp "$client" "$c/client.exe"
writer() { # frame bytes on stdin; prints the client's report
  cat >"$c/frame.bin"
  w 'C:\client.exe' --run-writer 'C:\Program Files\Tarvix\Tarvix.exe' 'C:\frame.bin' 2>/dev/null | tr -d '\r'
}
before=$(od -An -tx1 "$hosts" | tr -d ' \n')
new=$(printf '#127.0.0.1 localhost\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n')
for bad in "garbage without a header:exit=3" "TARVIX-HOSTS 2 300000000 0:exit=4"; do
  report=$(printf '%s\nabc' "${bad%%:*}" | writer)
  case "$report" in *"${bad##*:}"*) ;; *) fail "the writer took '${bad%%:*}': $report" ;; esac
  [ "$(od -An -tx1 "$hosts" | tr -d ' \n')" = "$before" ] || fail "the writer wrote after '${bad%%:*}'"
done
pass "the writer refuses a malformed and an oversize frame, and writes nothing"
for args in 'C:\evil.txt' 'tarvix-hosts-1 C:\evil.txt' 'tarvix-hosts-..\..\evil'; do
  # shellcheck disable=SC2086
  code=0
  w 'C:\Program Files\Tarvix\Tarvix.exe' --write-hosts $args >/dev/null 2>&1 || code=$?
  [ "$code" = 2 ] || fail "the writer took the arguments '$args' (exit $code)"
  [ ! -e "$c/evil.txt" ] || fail "the writer wrote C:\\evil.txt"
done
[ "$(od -An -tx1 "$hosts" | tr -d ' \n')" = "$before" ] || fail "the writer wrote after a refused argument"
pass "the writer refuses arguments that name another file"
# The frame: the file as the window read it (the base), then what it is to hold.
report=$( {
  printf 'TARVIX-HOSTS 2 %d %d\n' "$(stat -c %s "$hosts")" "$((${#new} / 2))"
  cat "$hosts"
  printf '#127.0.0.1 localhost\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK
} | writer)
case "$report" in "status=0 exit=0 delivered=1"*) ;; *) fail "the writer did not save: $report" ;; esac
[ "$(od -An -tx1 "$hosts" | tr -d ' \n')" = "$new" ] || fail "the hosts file does not hold exactly the content"
pass "the writer replaces the prefix's hosts file with exactly the content handed to it"

# --- uninstall -------------------------------------------------------------------------------
# The uninstaller runs on from a copy of itself in the temporary folder: its end is the
# install folder gone, then no Wine process left.
w 'C:\Program Files\Tarvix\Uninstall.exe' /S >/dev/null 2>&1
gone() { [ ! -e "$inst" ]; }
wait_for 120 "the uninstaller removes Program Files\\Tarvix (left: $(ls "$inst" 2>/dev/null | tr '\n' ' '))" gone
"$wineserver" -w
[ ! -e "$link" ] || fail "the Start-menu link is left"
[ -z "$(regValue "$key" DisplayName)" ] || fail "the uninstall entry is left"
[ -f "$appdata/tarvix/Ping.txt" ] || fail "the uninstaller removed the user's own files"
pass "silent uninstall leaves no file of the install and no entry; %APPDATA%\\tarvix stays"

# --- the portable zip ------------------------------------------------------------------------
# The window's clicks assume three rows, as at the start.
printf '127.0.0.1 localhost\r\n# 本机的中文注释\r\n10.0.0.8 办公网盘\r\n' | iconv -f UTF-8 -t GBK >"$hosts"
mkdir -p "$c/portable"
unzip -q "$zip" -d "$c/portable"
folder=$(basename "$zip" .zip)
[ "$(ls "$c/portable/$folder" | sort | tr '\n' ' ')" = "README.txt Tarvix.exe " ] ||
  fail "the zip holds $(ls "$c/portable/$folder")"
saveQueue "C:\\portable\\$folder" 127.0.0.2
[ "$(tr -d '\r' <"$c/portable/$folder/Ping.txt" 2>/dev/null)" = 127.0.0.2 ] || fail "the zip's copy did not keep Ping.txt beside itself"
[ "$(tr -d '\r' <"$appdata/tarvix/Ping.txt")" = 127.0.0.1 ] || fail "the zip's copy wrote into %APPDATA%\\tarvix"
pass "the zip holds Tarvix.exe and README.txt, and its copy keeps its files beside itself"
