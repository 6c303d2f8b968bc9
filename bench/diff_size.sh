#!/usr/bin/env bash
# Patch size of the authoring tool against general binary-diff tools, on three
# real file pairs from Debian (two versions of each package, fetched with
# apt-get download):
#   libcurl.so.4   (libcurl4 7.88.1-10+deb12u5 -> +deb12u15, about 0.7 MB)
#   libcrypto.so.3 (libssl3 3.0.20 -> 3.0.22, about 4.7 MB)
#   postgresql-15 lib/ as a tar (15.18 -> 15.20, about 30 MB)
# For each pair: our zlib-compressed diff (what a patch carries), xdelta3 -9,
# bsdiff, zstd -19 --long --patch-from; every output is applied with its own
# tool and compared with the new file. Prints sizes, creation times and peak
# memory, and our figures as ratios against the others measured in this run.
#   bench/diff_size.sh NATIVE_BUILD [WORK_DIR]
set -euo pipefail
native=$(cd "$1" && pwd)
work=${2:-$native/diff_size_work}
bench=$native/bench/bench_diff_size
[ -x "$bench" ] || { echo "diff_size: build bench_diff_size in $native first" >&2; exit 1; }
for t in xdelta3 bsdiff bspatch zstd; do command -v $t >/dev/null || { echo "diff_size: $t missing (scripts/setup.sh)" >&2; exit 1; }; done
mkdir -p "$work/debs" "$work/out"
cd "$work"

fetch() {  # package version: extracts into x/<package>_<version>
  local dir=x/$1_$2
  [ -d "$dir" ] && return
  (cd debs && apt-get download -q "$1=$2" >/dev/null 2>&1)
  mkdir -p "$dir"
  dpkg-deb -x debs/$1_${2/:/%3a}_*.deb "$dir"
}
fetch libcurl4 7.88.1-10+deb12u5
fetch libcurl4 7.88.1-10+deb12u15
fetch libssl3 3.0.20-1~deb12u2
fetch libssl3 3.0.22-1~deb12u2
fetch postgresql-15 15.18-0+deb12u1
fetch postgresql-15 15.20-0+deb12u1
for v in 15.18-0+deb12u1 15.20-0+deb12u1; do
  [ -f pg-$v.tar ] || tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf pg-$v.tar \
    -C x/postgresql-15_$v/usr/lib/postgresql/15/lib .
done
lib=usr/lib/x86_64-linux-gnu
pairs=(
  "libcurl x/libcurl4_7.88.1-10+deb12u5/$lib/libcurl.so.4.8.0 x/libcurl4_7.88.1-10+deb12u15/$lib/libcurl.so.4.8.0"
  "libcrypto x/libssl3_3.0.20-1~deb12u2/$lib/libcrypto.so.3 x/libssl3_3.0.22-1~deb12u2/$lib/libcrypto.so.3"
  "postgresql-lib pg-15.18-0+deb12u1.tar pg-15.20-0+deb12u1.tar"
)

measure() {  # output file for "<seconds> <KiB>", then the command
  local into=$1
  shift
  /usr/bin/time -f '%e %M' -o "$into" "$@" >/dev/null 2>&1
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

printf '%-15s %10s | %-26s | %-26s | %-26s | %-26s | %s\n' pair new_bytes "ours (size s MiB)" \
  "xdelta3 -9" bsdiff "zstd -19 --long" "ours/xdelta3 ours/zstd time ours/bsdiff"
for p in "${pairs[@]}"; do
  set -- $p
  name=$1 old=$2 new=$3
  o=out/$name
  read -r ours_size _ ours_time ours_kib < <("$bench" "$old" "$new")
  measure $o.xd.t xdelta3 -9 -e -f -s "$old" "$new" $o.xd
  xdelta3 -d -f -s "$old" $o.xd $o.xd.new && cmp -s $o.xd.new "$new" || { echo "xdelta3 output wrong" >&2; exit 1; }
  measure $o.bs.t bsdiff "$old" "$new" $o.bs
  bspatch "$old" $o.bs.new $o.bs && cmp -s $o.bs.new "$new" || { echo "bsdiff output wrong" >&2; exit 1; }
  measure $o.zst.t zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o $o.zst
  zstd -q -d -f --long=27 --patch-from="$old" $o.zst -o $o.zst.new && cmp -s $o.zst.new "$new" ||
    { echo "zstd output wrong" >&2; exit 1; }
  read -r xd_time xd_kib < $o.xd.t
  read -r bs_time bs_kib < $o.bs.t
  read -r zs_time zs_kib < $o.zst.t
  xd_size=$(stat -c %s $o.xd) bs_size=$(stat -c %s $o.bs) zs_size=$(stat -c %s $o.zst)
  printf '%-15s %10s | %9s %6ss %6sMiB | %9s %6ss %6sMiB | %9s %6ss %6sMiB | %9s %6ss %6sMiB | %s %s %s\n' \
    "$name" "$(stat -c %s "$new")" \
    "$ours_size" "$ours_time" $((ours_kib / 1024)) "$xd_size" "$xd_time" $((xd_kib / 1024)) \
    "$bs_size" "$bs_time" $((bs_kib / 1024)) "$zs_size" "$zs_time" $((zs_kib / 1024)) \
    "$(ratio "$ours_size" "$xd_size")" "$(ratio "$ours_size" "$zs_size")" "$(ratio "$ours_time" "$bs_time")"
done
