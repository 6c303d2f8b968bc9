#!/usr/bin/env bash
# Patch size, creation time, peak memory and old-file page loads of the
# authoring tool's payload against general binary-diff tools, on five real
# file pairs from Debian (two versions of each package, apt-get download):
#   libcrypto.so.3       libssl3 3.0.20-1~deb12u2 -> 3.0.22-1~deb12u2       (4.7 MB)
#   libpython3.11.so.1.0 libpython3.11 3.11.2-6+deb12u8 -> +deb12u9        (7.7 MB)
#   postgres             postgresql-15 15.18-0+deb12u1 -> 15.20-0+deb12u1  (9.0 MB)
#   qemu-system-x86_64   qemu-system-x86 7.2+dfsg-7+deb12u15 -> +deb12u18+b3 (18.4 MB)
#   mariadbd             mariadb-server-core 10.11.18 -> 10.11.19          (26.1 MB)
# For each pair: our payload in the default (best) and the fast effort
# (bench_diff_size: MakePayload, then inflated and rebuilt by the patcher's
# decoder over the paged-reader model, which counts the page loads),
# xdelta3 -9, bsdiff and zstd -19 --long=27 --patch-from, one after the other
# so that they share the machine's load. Every output is applied with its own
# tool and compared with the new file. Times are whole-process wall seconds
# and peak resident memory from /usr/bin/time (ours includes reading the
# files and the verification).
# Then, for every pair, where the diff's bytes go: the literal bytes the
# stream carries (which the format cannot take from anywhere but the stream),
# deflated alone with a 32 KiB window and with zstd's long window, and
# against the old file as a dictionary.
#   bench/diff_size.sh NATIVE_BUILD [WORK_DIR]
set -euo pipefail
native=$(cd "$1" && pwd)
work=${2:-$native/diff_size_work}
bench=$native/bench/bench_diff_size
[ -x "$bench" ] || { echo "diff_size: build bench_diff_size in $native first" >&2; exit 1; }
for t in xdelta3 bsdiff bspatch zstd python3; do
  command -v $t >/dev/null || { echo "diff_size: $t missing (scripts/setup.sh)" >&2; exit 1; }
done
mkdir -p "$work/debs" "$work/out"
cd "$work"

fetch() {  # package version: extracts into x/<package>_<version>
  local dir=x/$1_$2
  [ -d "$dir" ] && return
  (cd debs && apt-get download -q "$1=$2" >/dev/null 2>&1)
  mkdir -p "$dir"
  dpkg-deb -x debs/$1_${2/:/%3a}_*.deb "$dir"
}
fetch libssl3 3.0.20-1~deb12u2
fetch libssl3 3.0.22-1~deb12u2
fetch libpython3.11 3.11.2-6+deb12u8
fetch libpython3.11 3.11.2-6+deb12u9
fetch postgresql-15 15.18-0+deb12u1
fetch postgresql-15 15.20-0+deb12u1
fetch qemu-system-x86 1:7.2+dfsg-7+deb12u15
fetch qemu-system-x86 1:7.2+dfsg-7+deb12u18+b3
fetch mariadb-server-core 1:10.11.18-0+deb12u1
fetch mariadb-server-core 1:10.11.19-0+deb12u1
lib=usr/lib/x86_64-linux-gnu
pairs=(
  "libcrypto x/libssl3_3.0.20-1~deb12u2/$lib/libcrypto.so.3 x/libssl3_3.0.22-1~deb12u2/$lib/libcrypto.so.3"
  "libpython x/libpython3.11_3.11.2-6+deb12u8/$lib/libpython3.11.so.1.0 x/libpython3.11_3.11.2-6+deb12u9/$lib/libpython3.11.so.1.0"
  "postgres x/postgresql-15_15.18-0+deb12u1/usr/lib/postgresql/15/bin/postgres x/postgresql-15_15.20-0+deb12u1/usr/lib/postgresql/15/bin/postgres"
  "qemu x/qemu-system-x86_1:7.2+dfsg-7+deb12u15/usr/bin/qemu-system-x86_64 x/qemu-system-x86_1:7.2+dfsg-7+deb12u18+b3/usr/bin/qemu-system-x86_64"
  "mariadbd x/mariadb-server-core_1:10.11.18-0+deb12u1/usr/sbin/mariadbd x/mariadb-server-core_1:10.11.19-0+deb12u1/usr/sbin/mariadbd"
)

measure() {  # output file for "<seconds> <KiB>" (and .out for what it prints), then the command
  local into=$1
  shift
  /usr/bin/time -f '%e %M' -o "$into" "$@" >"$into.out" 2>&1
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

echo "| pair | new bytes | ours (best) | ours (fast) | xdelta3 -9 | bsdiff | zstd -19 --long=27 | page loads / old pages |"
echo "|---|---|---|---|---|---|---|---|"
ratios=()
for p in "${pairs[@]}"; do
  set -- $p
  name=$1 old=$2 new=$3
  o=out/$name
  measure $o.best.t "$bench" "$old" "$new" best 4 $o.diff
  read -r best_size _ _ _ loads pages _ kind < $o.best.t.out
  measure $o.fast.t "$bench" "$old" "$new" fast
  read -r fast_size _ < $o.fast.t.out
  measure $o.xd.t xdelta3 -9 -e -f -s "$old" "$new" $o.xd
  xdelta3 -d -f -s "$old" $o.xd $o.xd.new && cmp -s $o.xd.new "$new" || { echo "xdelta3 output wrong" >&2; exit 1; }
  measure $o.bs.t bsdiff "$old" "$new" $o.bs
  bspatch "$old" $o.bs.new $o.bs && cmp -s $o.bs.new "$new" || { echo "bsdiff output wrong" >&2; exit 1; }
  measure $o.zst.t zstd -q -f -19 --long=27 --patch-from="$old" "$new" -o $o.zst
  zstd -q -d -f --long=27 --patch-from="$old" $o.zst -o $o.zst.new && cmp -s $o.zst.new "$new" ||
    { echo "zstd output wrong" >&2; exit 1; }
  read -r best_time best_kib < $o.best.t
  read -r fast_time fast_kib < $o.fast.t
  read -r xd_time xd_kib < $o.xd.t
  read -r bs_time bs_kib < $o.bs.t
  read -r zs_time zs_kib < $o.zst.t
  xd_size=$(stat -c %s $o.xd) bs_size=$(stat -c %s $o.bs) zs_size=$(stat -c %s $o.zst)
  printf '| %s | %s | %s B, %s s, %s MiB | %s B, %s s, %s MiB | %s B, %s s, %s MiB | %s B, %s s, %s MiB | %s B, %s s, %s MiB | %s / %s (%s) |\n' \
    "$name" "$(stat -c %s "$new")" "$best_size" "$best_time" "$(mib $best_kib)" "$fast_size" "$fast_time" \
    "$(mib $fast_kib)" "$xd_size" "$xd_time" "$(mib $xd_kib)" "$bs_size" "$bs_time" "$(mib $bs_kib)" \
    "$zs_size" "$zs_time" "$(mib $zs_kib)" "$loads" "$pages" "$kind"
  ratios+=("| $name | $(ratio $best_size $zs_size) | $(ratio $best_size $xd_size) | $(ratio $loads $pages) | \
$(ratio $best_time $bs_time) | $(ratio $best_kib $bs_kib) |")
done
echo
echo "| pair | size / zstd (<= 1.05) | size / xdelta3 (<= 0.85) | loads / pages (<= 2) | time / bsdiff (<= 1) | peak / bsdiff (<= 1) |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${ratios[@]}"

echo
echo "| pair | diff stream | literal bytes | literals, zlib -9 | literals, zstd -19 --long=27 | literals against the old file (zstd --patch-from) | our payload | zstd patch |"
echo "|---|---|---|---|---|---|---|---|"
for p in "${pairs[@]}"; do
  set -- $p
  name=$1 old=$2
  o=out/$name
  # The literal bytes of the stream (inserted and replaced), in stream order.
  python3 - $o.diff $o.lit <<'PY'
import sys
d = open(sys.argv[1], "rb").read()
out = bytearray()
i, mode = 0, None
while i < len(d):
    c = d[i]; i += 1
    if c != 0xA7:
        if mode in ("I", "R"): out.append(c)
        continue
    op = d[i]; i += 1
    if op in (0xA2, 0xA3, 0xA4):
        b = d[i]; i += 1
        i += 0 if b < 252 else {252: 1, 253: 2, 254: 4, 255: 8}[b]
        mode = "S"
    elif op in (0xA5, 0xA6):
        mode = "I" if op == 0xA5 else "R"
    elif mode in ("I", "R"):
        out.append(0xA7)
        if op != 0xA7: out.append(op)
open(sys.argv[2], "wb").write(out)
PY
  lit_z=$(python3 -c "import sys, zlib; print(len(zlib.compress(open(sys.argv[1], 'rb').read(), 9)))" $o.lit)
  zstd -q -f -19 --long=27 $o.lit -o $o.lit.zst 2>/dev/null
  zstd -q -f -19 --long=27 --patch-from="$old" $o.lit -o $o.lit.pf.zst 2>/dev/null
  read -r best_size _ < $o.best.t.out
  echo "| $name | $(stat -c %s $o.diff) | $(stat -c %s $o.lit) | $lit_z | $(stat -c %s $o.lit.zst) | $(stat -c %s $o.lit.pf.zst) | $best_size | $(stat -c %s $o.zst) |"
done
