#!/usr/bin/env bash
# Builds the static Qt for Windows that the `windows` preset links against, and prints its
# install folder. The source is Debian's own qt6-base, the same version as the host's Qt tools
# (moc, rcc and uic are taken from the host), fetched with apt from the archive this machine
# installs from. The result is kept in a cache outside the work tree, keyed by the version and
# the options below, and reused by later runs:
#   scripts/windows-qt.sh            build it if missing, then print its folder
#   scripts/windows-qt.sh --prefix   only print the folder (it may not exist yet)
# The folder appears only when the build and its install have finished: an interrupted run
# leaves a build folder that the next run continues, never a half Qt that it takes for whole.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

triple=x86_64-w64-mingw32
version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
options=(
  -xplatform win32-g++ -qt-host-path /usr -release -static
  -no-icu -no-opengl -no-dbus -nomake examples -nomake tests
  -no-feature-sql -no-feature-printsupport
  -schannel -no-openssl # QSslSocket through the system's own TLS and certificate store
)
cmake_options=(
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DFEATURE_tabletevent=OFF # Debian's source has no wintab.h
)
key=$(printf '%s\n' "$version" "$triple" "${options[@]}" "${cmake_options[@]}" \
  "$(cat "$root/cmake/mingw-w64.cmake")" | sha256sum | cut -c1-12)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/tarvix"
prefix="$cache/qt-${version%%+*}-$triple-$key"

if [ "${1:-}" = --prefix ]; then
  echo "$prefix"
  exit 0
fi
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
exec 9>"$cache/qt-build.lock"
flock 9 # one build at a time; a second run waits and then finds the cache
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work="$cache/work-$key"
mkdir -p "$work"
log="$work/build.log"
echo "building Qt ${version} for Windows into $prefix (log: $log); this takes 25 minutes or more" >&2

# --- the source, through apt with a private list of source archives --------------------------
# The deb-src lines mirror the archive that the installed qt6-base-dev came from; apt checks the
# archive's signature as for any package.
src="$work/src"
if [ ! -f "$src/.unpacked" ]; then
  rm -rf "$src" "$work/apt"
  mkdir -p "$src" "$work/apt/lists/partial" "$work/apt/cache/archives/partial"
  apt-cache policy qt6-base-dev | sed -n '/\*\*\*/,/dpkg\/status/p' |
    awk '$2 ~ /^https?:/ { split($3, s, "/"); print "deb-src " $2 " " s[1] " " s[2] }' |
    sort -u >"$work/apt/sources.list"
  [ -s "$work/apt/sources.list" ] || {
    echo "windows-qt: cannot tell which archive qt6-base-dev $version came from" >&2
    exit 1
  }
  apt_private=(
    -o "Dir::Etc::SourceList=$work/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
    -o Debug::NoLocking=1
  )
  # apt's download user cannot enter a private cache folder of root's.
  [ "$(id -u)" -ne 0 ] || apt_private+=(-o APT::Sandbox::User=root)
  apt-get "${apt_private[@]}" -qq update
  (cd "$src" && apt-get "${apt_private[@]}" -qq source --only-source "qt6-base=$version") >>"$log" 2>&1
  touch "$src/.unpacked"
fi
srcdir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)

# --- configure, build, install into a staging folder, then move into place --------------------
cat >"$work/toolchain.cmake" <<EOF
set(MINGW_TRIPLE $triple)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include($root/cmake/mingw-w64.cmake)
EOF
build="$work/build"
mkdir -p "$build"
if [ ! -f "$build/build.ninja" ]; then
  (cd "$build" && "$srcdir/configure" -prefix "$prefix" "${options[@]}" -- \
    -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" "${cmake_options[@]}") >>"$log" 2>&1 || {
    rm -f "$build/build.ninja"
    echo "windows-qt: configure failed; see $log" >&2
    exit 1
  }
fi
cmake --build "$build" --parallel "$(nproc)" >>"$log" 2>&1 || {
  echo "windows-qt: build failed; see $log" >&2
  exit 1
}
stage="$work/stage"
rm -rf "$stage"
DESTDIR="$stage" cmake --install "$build" >>"$log" 2>&1
test -f "$stage$prefix/lib/cmake/Qt6/Qt6Config.cmake"
touch "$stage$prefix/.complete"
rm -rf "$prefix"
mv "$stage$prefix" "$prefix"
rm -rf "$work" # the source and objects (several GB) are not needed once Qt is installed
echo "$prefix"
