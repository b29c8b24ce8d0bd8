#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the program and the tests need and
# the machine lacks. Safe to run again: packages already present are left alone.
#   scripts/deps.sh run    what building and starting the program needs
#   scripts/deps.sh test   that plus what the whole test suite needs
#   scripts/deps.sh deb    what building the Debian package and scripts/check-deb.sh need
set -euo pipefail

run_pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  fonts-wqy-microhei   # the Chinese captions render instead of boxes
  xdg-utils            # opens the text editor and the file browser
  iputils-ping         # the batch ping starts the system ping
)
test_pkgs=(
  clang libclang-rt-14-dev   # the fuzzing build
  xvfb xauth           # a real window for the screenshot
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix   # the Windows side of the platform layer
  wine64               # runs its tests
  xdotool x11-apps netpbm   # drive and photograph the Windows window under Wine
  nsis unzip           # the Windows installer, and the check of it and of the zip
  locales
  diffutils            # diff3, the reference for the merge test
  openssl              # certificates of the tests' own for 测速's TLS check
  iproute2 procps xclip   # routes, listeners, processes and the clipboard in the black-box checks
)
deb_pkgs=(
  debootstrap          # a fresh Debian 12 root to install the package in
  lintian              # Debian's checks of the package
)

case "${1:-test}" in
  run) want=("${run_pkgs[@]}") ;;
  test) want=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
  deb) want=("${run_pkgs[@]}" "${deb_pkgs[@]}") ;;
  *) echo "usage: $0 run|test|deb" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine reads the ANSI code page from the locale: zh_CN.UTF-8 gives code page 936 (GBK).
if [ "${1:-test}" = test ] && ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  $sudo sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
