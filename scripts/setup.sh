#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and
# fetches TinyXML's source into third_party/. Safe to run again: when all is
# in place it only checks and returns within a second or two.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ make python3
  mingw-w64 g++-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick
  googletest libgtest-dev zlib1g-dev
  clang libclang-rt-14-dev
  dpkg-dev xdelta3 bsdiff zstd libdeflate-dev libtinyxml-dev
  man-db groff-base lintian unzip
  openssl osslsigncode
  locales
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing=(update)
fi
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=${p#*:}; [ "$arch" = "$p" ] && arch=
  if [ -n "$arch" ]; then q="$name:$arch"; else q="$name"; fi
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

src=/etc/apt/sources.list.d/debian.sources
need_src=0
if [ -f "$src" ] && ! grep -q '^Types:.*deb-src' "$src"; then
  sed -i 's/^Types: deb$/Types: deb deb-src/' "$src"
  need_src=1
fi

# A mirror in mid-sync fails one index now and then; try again, and go on
# with what was fetched (what follows fails clearly if it is not enough).
apt_update() {
  export DEBIAN_FRONTEND=noninteractive
  for try in 1 2 3; do
    apt-get update -q && return 0
    echo "setup: apt-get update failed (try $try of 3)"
    sleep $((try * 2))
  done
}
# The package lists are read afresh only when something is to be installed
# or the source lists were just enabled; fetching the two source packages
# into a new checkout uses the lists already there, and reads them afresh
# only when they do not hold the package.
if [ ${#missing[@]} -gt 0 ] || [ $need_src = 1 ]; then apt_update; fi
fetch_source() {  # fetch_source PACKAGE: its Debian source package into third_party/
  mkdir -p third_party
  (cd third_party && apt-get source -q "$1") || { apt_update; (cd third_party && apt-get source -q "$1"); }
}
pkgs=()
for p in "${missing[@]}"; do [ "$p" = update ] || pkgs+=("$p"); done
if [ ${#pkgs[@]} -gt 0 ]; then
  echo "setup: installing ${pkgs[*]}"
  if ! apt-get install -y -q --no-install-recommends "${pkgs[@]}"; then
    # With one architecture's index missing (a mirror in mid-sync), the newest
    # amd64 and i386 versions of a shared library can differ and multiarch
    # refuses them; the release's own versions always agree.
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "setup: retrying the install with the $release release's versions"
    apt-get install -y -q --no-install-recommends -t "$release" "${pkgs[@]}"
  fi
fi

if [ ! -f third_party/tinyxml-2.6.2/tinyxml.cpp ]; then
  echo "setup: fetching TinyXML's Debian source package"
  fetch_source tinyxml
fi
# libdeflate's source, for the Windows build of the authoring tool (the same
# release as libdeflate-dev, which the native build links).
if [ ! -f third_party/libdeflate-1.14/lib/deflate_compress.c ]; then
  echo "setup: fetching libdeflate's Debian source package"
  fetch_source libdeflate
fi
# A German locale, so that the scenarios can also run with a German user
# language (LC_ALL=de_DE.UTF-8 is what Wine then reports to the patcher).
if ! locale -a 2>/dev/null | grep -qx de_DE.utf8; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
echo "setup: ready"
