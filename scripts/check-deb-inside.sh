#!/bin/bash
# The part of scripts/check-deb.sh that runs inside the fresh Debian 12 root, as its root user.
#   check-deb-inside.sh /tmp/tarvix_<version>_amd64.deb
set -euo pipefail
deb=$1
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 PATH=/usr/sbin:/usr/bin:/sbin:/bin
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

echo "-- apt-get install ./$(basename "$deb")"
apt-get update -qq
apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
dpkg -s tarvix | grep -E '^(Status|Version|Depends):'
for f in /usr/bin/tarvix /usr/libexec/tarvix/tarvix-hosts-helper \
  /usr/share/polkit-1/actions/org.tarvix.hosts-helper.policy /usr/share/applications/tarvix.desktop \
  /usr/share/icons/hicolor/48x48/apps/tarvix.png /usr/share/icons/hicolor/scalable/apps/tarvix.svg \
  /usr/share/man/man1/tarvix.1.gz /usr/share/doc/tarvix/copyright /usr/share/doc/tarvix/changelog.gz \
  /usr/share/tarvix/tarvix-installed.txt; do
  [ -f "$f" ] || fail "$f is missing"
done
command -v pkexec >/dev/null || fail "pkexec was not installed with the package"
grep -q '<annotate key="org.freedesktop.policykit.exec.path">/usr/libexec/tarvix/tarvix-hosts-helper</annotate>' \
  /usr/share/polkit-1/actions/org.tarvix.hosts-helper.policy || fail "the polkit action names another path"
echo "installed: $(dpkg -L tarvix | wc -l) paths"

echo "-- the program as a normal user under Xvfb"
apt-get install -y -qq --no-install-recommends xvfb xauth x11-utils >/dev/null
id tester >/dev/null 2>&1 || useradd --create-home --shell /bin/bash tester
runuser -u tester -- env -i HOME=/home/tester USER=tester PATH=/usr/bin:/bin LANG=C.UTF-8 \
  xvfb-run --auto-servernum --server-args='-screen 0 1280x1024x24' bash -c '
    QT_QPA_PLATFORM=xcb /usr/bin/tarvix >/tmp/tarvix-user.log 2>&1 &
    pid=$!
    data=$HOME/.local/share/tarvix
    # Started once its own files are made and its window is mapped (60 s at the most).
    shown=""
    for _ in $(seq 1 600); do
      if [ -f "$data/Ping.txt" ] && xwininfo -root -tree 2>/dev/null | grep -q "\"Tarvix\""; then
        shown=yes
        break
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -n "$shown" ] || { cat /tmp/tarvix-user.log; echo "FAILED: no window and Ping.txt within 60 s" >&2; exit 1; }
    kill -0 "$pid" || { cat /tmp/tarvix-user.log; echo "FAILED: the program ended by itself" >&2; exit 1; }
    xwininfo -root -tree | grep "\"Tarvix\"" || { echo "FAILED: no window named Tarvix" >&2; exit 1; }
    kill "$pid"
    wait "$pid" || true
    ls -l "$data"
    [ -f "$data/IP.txt" ] && [ -f "$data/Ping.txt" ] || { echo "FAILED: no IP.txt, Ping.txt in $data" >&2; exit 1; }
  '
[ "$(stat -c %U /home/tester/.local/share/tarvix/Ping.txt)" = tester ] || fail "Ping.txt is not the user's"
for f in /usr/bin/IP.txt /usr/bin/Ping.txt /usr/bin/ip.txt; do
  [ ! -e "$f" ] || fail "$f was created beside the installed program"
done

echo "-- the program as root, as sudo tarvix starts it: root's own data folder"
env -i HOME=/root USER=root PATH=/usr/bin:/bin LANG=C.UTF-8 \
  xvfb-run --auto-servernum --server-args='-screen 0 1280x1024x24' bash -c '
    QT_QPA_PLATFORM=xcb /usr/bin/tarvix >/tmp/tarvix-root.log 2>&1 &
    pid=$!
    for _ in $(seq 1 600); do
      [ -f /root/.local/share/tarvix/Ping.txt ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" || true
    [ -f /root/.local/share/tarvix/Ping.txt ] || { cat /tmp/tarvix-root.log; echo "FAILED: no Ping.txt in /root/.local/share/tarvix" >&2; exit 1; }
  '
for f in /usr/bin/IP.txt /usr/bin/Ping.txt /usr/bin/ip.txt /usr/bin/backup; do
  [ ! -e "$f" ] || fail "$f was created beside the installed program run as root"
done

echo "-- the installed helper writes this root's /etc/hosts"
cp -p /etc/hosts /tmp/hosts.before
content=$(printf '127.0.0.1\tlocalhost\n#10.0.0.1 printer\n')
# The frame: the file as a window read it (the base), then what it is to hold.
{
  printf 'TARVIX-HOSTS 2 %d %d\n' "$(stat -c %s /etc/hosts)" "$((${#content} + 1))"
  cat /etc/hosts
  printf '%s\n' "$content"
} | /usr/libexec/tarvix/tarvix-hosts-helper
[ "$(cat /etc/hosts)" = "$content" ] || fail "the helper did not write /etc/hosts"
if /usr/libexec/tarvix/tarvix-hosts-helper /tmp/elsewhere </dev/null 2>/dev/null; then
  fail "the helper took an argument"
fi
[ "$(cat /etc/hosts)" = "$content" ] || fail "a refused run changed /etc/hosts"
cp -p /tmp/hosts.before /etc/hosts

echo "-- apt-get remove --purge tarvix"
dpkg -L tarvix | sort >/tmp/tarvix.paths
apt-get remove --purge -y -qq tarvix >/dev/null
if dpkg -s tarvix >/dev/null 2>&1; then
  fail "tarvix is still known to dpkg"
fi
left=""
while read -r p; do
  if [ -f "$p" ] || [ -L "$p" ]; then
    left="$left $p"
  fi
done </tmp/tarvix.paths
[ -z "$left" ] || fail "left behind:$left"
for d in /usr/libexec/tarvix /usr/share/doc/tarvix /usr/share/tarvix; do
  [ ! -e "$d" ] || fail "$d is left behind"
done
echo "removed cleanly"
