#!/usr/bin/env bash
# What a studio installs, installed as it would be and run on the demo
# trees without --stub; every run must make the demo patch byte for byte as
# scripts/make_demo_patch.sh makes it with the i686 stub:
#   1. cmake --install of the native build into a new prefix;
#   2. the Debian package: made twice with the same bytes, no error from
#      lintian, installed with dpkg -i (its manual page renders without a
#      warning), removed with dpkg -r, leaving no file behind;
#   3. the Windows package, the .zip of the x86_64 build: made twice with the
#      same bytes, unzipped, its qtr_author.exe run under 64-bit Wine.
#   tests/package/package_test.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD WORK
# WIN32_BUILD holds the i686 stub and the sample game, WIN64_BUILD the x86_64
# qtr_author.exe. Wine: the running win64 prefix of scripts/wine_env.sh when
# QTR_WINE_ARCH is win64, else a win64 prefix of its own
# ($QTR_ROOT/build/wine-win64, made when missing).
set -euo pipefail
if [ $# -ne 4 ]; then
  sed -n '2,16p' "$0" >&2
  exit 2
fi
root=${QTR_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
native=$(realpath "$1") win32=$(realpath "$2") win64=$(realpath "$3")
work=$(realpath -m "$4")
rm -rf "$work" && mkdir -p "$work"
fail() { echo "package_test: $*" >&2; exit 1; }
say() { echo "package_test: $* (at ${SECONDS}s)"; }

bash "$root/scripts/make_demo_patch.sh" "$native" "$win32" "$work/demo" > /dev/null
say "scripts/make_demo_patch.sh made the demo patch"
reference=$work/demo/qtr_demo_patch.exe
version=$(sed -n '1s/^qtr-author (\([^)]*\)).*/\1/p' "$root/packaging/changelog")

# make_demo PROGRAM TREES OUT [wrapper...]: the demo patch made by PROGRAM
# without --stub; its summary must name the stub beside it.
make_demo() {
  local program=$1 trees=$2 out=$3
  shift 3
  "$@" "$program" --old "$trees/censored/1.00" --new "$trees/censored/1.01" --name censored \
    --old "$trees/uncensored/1.00" --new "$trees/uncensored/1.01" --name uncensored \
    --key-file qtr.exe --from 1.00 --to 1.01 --out "$out" > "$work/summary.txt" ||
    fail "$program failed: $(cat "$work/summary.txt")"
  grep -q "^stub patcher .*qtr_patch_stub.exe (version $version, i686), the one beside qtr_author" \
    "$work/summary.txt" || fail "$program: the summary names no stub beside it: $(tail -3 "$work/summary.txt")"
}
same_as_demo() {  # same_as_demo PATCH WHAT
  cmp -s "$1" "$reference" || fail "$2 made another patch than scripts/make_demo_patch.sh"
  say "$2 made the demo patch byte for byte"
}
# made_twice PACKAGE COMMAND...: runs COMMAND, which writes PACKAGE, twice,
# the programs it packs stamped with another time between the runs, and
# requires the same bytes.
made_twice() {
  local package=$1
  shift
  "$@" > "$work/cpack.log" 2>&1 || fail "$*: $(cat "$work/cpack.log")"
  local first; first=$(sha256sum < "$package")
  local program stamps=()
  for program in "$native/tools/qtr_author" "$win64/tools/qtr_author.exe"; do
    [ -f "$program" ] || continue
    stamps+=("$(stat -c %Y "$program") $program")
    touch -d '@1000000000' "$program"
  done
  "$@" > "$work/cpack.log" 2>&1 || fail "$*: $(cat "$work/cpack.log")"
  local stamp
  for stamp in "${stamps[@]}"; do touch -d "@${stamp%% *}" "${stamp#* }"; done
  [ "$(sha256sum < "$package")" = "$first" ] || fail "$package: made twice, the bytes differ"
  say "$(basename "$package") made twice, the same bytes (sha256 ${first%% *})"
}

# 1. Installed into a new prefix.
prefix=$work/prefix
cmake --install "$native" --prefix "$prefix" > /dev/null
(cd "$prefix" && find . -type f | sort) > "$work/installed.txt"
for f in ./bin/qtr_author ./share/qtr/qtr_patch_stub.exe ./share/man/man1/qtr_author.1.gz \
         ./share/doc/qtr-author/README.md ./share/doc/qtr-author/copyright ./share/doc/qtr-author/changelog.gz; do
  grep -qx "$f" "$work/installed.txt" || fail "cmake --install put no $f in the prefix"
done
"$prefix/bin/qtr_author" --version > "$work/version.txt"
grep -qx "qtr_author $version" "$work/version.txt" &&
  grep -qx "stub patcher $prefix/share/qtr/qtr_patch_stub.exe (version $version, i686)" "$work/version.txt" ||
  fail "the installed qtr_author --version: $(cat "$work/version.txt")"
make_demo "$prefix/bin/qtr_author" "$work/demo/trees" "$work/installed.exe"
same_as_demo "$work/installed.exe" "the installed qtr_author"

# 2. The Debian package.
deb=$native/packages/qtr-author_${version}_$(dpkg --print-architecture).deb
made_twice "$deb" cpack --config "$native/CPackConfig.cmake" -G DEB -B "$native/packages"
lintian --fail-on error "$deb" > "$work/lintian.txt" 2>&1 ||
  fail "lintian finds errors in $deb: $(cat "$work/lintian.txt")"
say "lintian finds no error in $(basename "$deb")"
grep -v '^running with root privileges' "$work/lintian.txt" | sed 's/^/  /' || true
# The install and removal change the machine's package database: one run of
# this at a time on a machine, and never over a qtr-author installed for use.
exec 9> /run/lock/qtr-author-package-test.lock
flock -w 600 9 || fail "another run of this test holds /run/lock/qtr-author-package-test.lock"
if dpkg-query -W -f='${db:Status-Abbrev}' qtr-author 2> /dev/null | grep -q '^i'; then
  fail "qtr-author is installed on this machine; this test installs and removes it: dpkg -r qtr-author first"
fi
files() { find /usr /etc /opt /var/lib/dpkg/info -xdev 2> /dev/null | sort; }
files > "$work/files-before.txt"
trap 'dpkg -r qtr-author > /dev/null 2>&1 || true' EXIT
dpkg -i "$deb" > "$work/dpkg.log" 2>&1 || fail "dpkg -i: $(cat "$work/dpkg.log")"
[ "$(command -v qtr_author)" = /usr/bin/qtr_author ] || fail "dpkg -i put no qtr_author on the PATH"
man_warnings=$(MANWIDTH=80 man --warnings qtr_author 2>&1 > /dev/null) && [ -z "$man_warnings" ] ||
  fail "man --warnings qtr_author (installed): $man_warnings"
make_demo qtr_author "$work/demo/trees" "$work/deb.exe"
same_as_demo "$work/deb.exe" "qtr_author of the Debian package"
dpkg -r qtr-author >> "$work/dpkg.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg.log")"
trap - EXIT
files > "$work/files-after.txt"
flock -u 9
diff "$work/files-before.txt" "$work/files-after.txt" > "$work/files-left.txt" ||
  fail "dpkg -r left the machine with other files: $(cat "$work/files-left.txt")"
say "dpkg -i and dpkg -r: installed, run and removed, no file left behind"

# 3. The Windows package.
zip=$win64/packages/qtr-author-$version-windows-x86_64.zip
made_twice "$zip" cpack --config "$win64/CPackConfig.cmake" -G ZIP -B "$win64/packages"
unzip -q "$zip" -d "$work/zip"
folder=$work/zip/qtr-author-$version-windows-x86_64
(cd "$folder" && find . -type f | sort | tr '\n' ' ') > "$work/zip.txt"
[ "$(cat "$work/zip.txt")" = "./GETTING-STARTED.txt ./README.md ./qtr_author.exe ./qtr_patch_stub.exe " ] ||
  fail "$zip holds $(cat "$work/zip.txt")"
if [ "${QTR_WINE_ARCH:-}" = win64 ] && [ -n "${WINEPREFIX:-}" ]; then
  wine=(wine)
else
  export WINEPREFIX=$root/build/wine-win64 WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  export WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    /usr/lib/wine/wine64 wineboot.exe -i > /dev/null 2>&1 || true
  fi
  trap '/usr/lib/wine/wineserver64 -k > /dev/null 2>&1 || true' EXIT
  wine=(/usr/lib/wine/wine64)
fi
pe=$(od -An -tu4 -j60 -N4 "$folder/qtr_author.exe" | tr -d ' ')
[ "$(od -An -tx2 -j$((pe + 4)) -N2 "$folder/qtr_author.exe" | tr -d ' ')" = 8664 ] ||
  fail "$folder/qtr_author.exe is no x86_64 program"
make_demo "$folder/qtr_author.exe" "Z:$work/demo/trees" "Z:$work/windows.exe" "${wine[@]}"
same_as_demo "$work/windows.exe" "qtr_author.exe of the Windows package under Wine"
