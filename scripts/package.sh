#!/usr/bin/env bash
# Builds what a studio installs and makes its packages: qtr_author natively
# (build/native), the stub patchers (build/win32 for i686, build/win64 for
# x86_64) and qtr_author.exe for x86_64 Windows (build/win64); then the
# Debian package and the Windows .zip, copied into build/packages/. Builds
# only what the packages hold; run scripts/setup.sh first. The same sources
# give the same packages, byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
configure() {  # configure <dir> [cmake args...]
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja "$@" > /dev/null
}
configure build/native
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
ninja -C build/win32 -j"$jobs" qtr_patch_stub
ninja -C build/win64 -j"$jobs" qtr_patch_stub qtr_author_files
ninja -C build/native -j"$jobs" qtr_author_files
cpack --config build/native/CPackConfig.cmake -B build/native/packages > /dev/null
cpack --config build/win64/CPackConfig.cmake -B build/win64/packages > /dev/null
mkdir -p build/packages
cp build/native/packages/*.deb build/win64/packages/*.zip build/packages/
ls -l build/packages/
