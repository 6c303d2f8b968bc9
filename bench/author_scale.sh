#!/usr/bin/env bash
# Authoring at game scale: qtr_author making a patch of one large changed
# file, beside xdelta3 -9 (its source window as large as the old file) and
# zstd -19 --long=31 --patch-from, one after the other in the same run so
# that they share the machine's load. The pairs:
#   archive300, archive1536  game-like archives from a seed (bench_make_archive:
#                            assets of 64 KiB to 4 MiB of several kinds, about
#                            3 % changed, 1 % inserted, some removed), 300 and
#                            1536 MiB, each in a tree with a few small files
#   libmergedlo              libreoffice-core 4:7.4.7-1+deb12u13 -> +deb12u14 (69 MB)
#   libcrypto ... mariadbd   the five pairs of bench/diff_size.sh (4.7 to 26 MB)
#   small30000               30,000 small files, about 10 % changed (ours only)
# For each: our patch in the default mode, with --fast, and with --threads 1
# (which must be the same bytes as the default); xdelta3 and zstd. Every
# output is applied and compared: ours by `qtr_author verify` against the
# new tree (timed, beside xdelta3's decode of its own delta), theirs by their
# own decoders and cmp. Times are whole-process wall and CPU (user + system)
# seconds and peak resident memory from /usr/bin/time; the payload is the
# large file's payload resource (the others' output file). With
# QTR_BENCH_BEFORE=PATH/qtr_author an earlier build's default mode runs too,
# for its payload, time and page loads. QTR_BENCH_PAIRS="archive300 ..."
# picks pairs.
#   bench/author_scale.sh NATIVE_BUILD [WORK_DIR]
set -euo pipefail
native=$(cd "$1" && pwd)
work=${2:-$native/author_scale_work}
tool=$native/tools/qtr_author
make_archive=$native/bench/bench_make_archive
for f in "$tool" "$make_archive" "$native/tests/unit/make_test_stub"; do
  [ -x "$f" ] || { echo "author_scale: build $f first" >&2; exit 1; }
done
for t in xdelta3 zstd cmp; do
  command -v $t >/dev/null || { echo "author_scale: $t missing (scripts/setup.sh)" >&2; exit 1; }
done
before=${QTR_BENCH_BEFORE:-}
pairs_wanted=${QTR_BENCH_PAIRS:-"archive300 archive1536 libmergedlo libcrypto libpython postgres qemu mariadbd small30000"}
mkdir -p "$work/debs" "$work/x" "$work/trees" "$work/out"
cd "$work"
stub=$work/stub.exe
"$native/tests/unit/make_test_stub" "$stub"

fetch() {  # package version: extracts into x/<package>_<version>
  local dir=x/$1_$2
  [ -d "$dir" ] && return
  (cd debs && apt-get download -q "$1=$2" >/dev/null 2>&1)
  mkdir -p "$dir"
  dpkg-deb -x debs/$1_${2/:/%3a}_*.deb "$dir"
}
tree_of() {  # name old_file new_file: a tree pair holding the file under its own name
  local t=trees/$1
  [ -d $t ] && return
  mkdir -p $t/old $t/new
  ln -f "$2" $t/old/ 2>/dev/null || cp "$2" $t/old/
  ln -f "$3" $t/new/ 2>/dev/null || cp "$3" $t/new/
}
lib=usr/lib/x86_64-linux-gnu
declare -A main  # pair -> the large file's path in its tree
for p in $pairs_wanted; do
  case $p in
    archive300 | archive1536)
      mib=${p#archive}
      [ -d trees/$p ] || "$make_archive" $mib $mib trees/$p/old trees/$p/new >/dev/null
      main[$p]=data/assets.pak ;;
    libmergedlo)
      fetch libreoffice-core 4:7.4.7-1+deb12u13
      fetch libreoffice-core 4:7.4.7-1+deb12u14
      tree_of $p x/libreoffice-core_4:7.4.7-1+deb12u13/usr/lib/libreoffice/program/libmergedlo.so \
        x/libreoffice-core_4:7.4.7-1+deb12u14/usr/lib/libreoffice/program/libmergedlo.so
      main[$p]=libmergedlo.so ;;
    libcrypto)
      fetch libssl3 3.0.20-1~deb12u2
      fetch libssl3 3.0.22-1~deb12u2
      tree_of $p x/libssl3_3.0.20-1~deb12u2/$lib/libcrypto.so.3 x/libssl3_3.0.22-1~deb12u2/$lib/libcrypto.so.3
      main[$p]=libcrypto.so.3 ;;
    libpython)
      fetch libpython3.11 3.11.2-6+deb12u8
      fetch libpython3.11 3.11.2-6+deb12u9
      tree_of $p x/libpython3.11_3.11.2-6+deb12u8/$lib/libpython3.11.so.1.0 \
        x/libpython3.11_3.11.2-6+deb12u9/$lib/libpython3.11.so.1.0
      main[$p]=libpython3.11.so.1.0 ;;
    postgres)
      fetch postgresql-15 15.18-0+deb12u1
      fetch postgresql-15 15.20-0+deb12u1
      tree_of $p x/postgresql-15_15.18-0+deb12u1/usr/lib/postgresql/15/bin/postgres \
        x/postgresql-15_15.20-0+deb12u1/usr/lib/postgresql/15/bin/postgres
      main[$p]=postgres ;;
    qemu)
      fetch qemu-system-x86 1:7.2+dfsg-7+deb12u15
      fetch qemu-system-x86 1:7.2+dfsg-7+deb12u18+b3
      tree_of $p x/qemu-system-x86_1:7.2+dfsg-7+deb12u15/usr/bin/qemu-system-x86_64 \
        x/qemu-system-x86_1:7.2+dfsg-7+deb12u18+b3/usr/bin/qemu-system-x86_64
      main[$p]=qemu-system-x86_64 ;;
    mariadbd)
      fetch mariadb-server-core 1:10.11.18-0+deb12u1
      fetch mariadb-server-core 1:10.11.19-0+deb12u1
      tree_of $p x/mariadb-server-core_1:10.11.18-0+deb12u1/usr/sbin/mariadbd \
        x/mariadb-server-core_1:10.11.19-0+deb12u1/usr/sbin/mariadbd
      main[$p]=mariadbd ;;
    small30000)
      [ -d trees/$p ] || "$make_archive" --small 30000 30000 trees/$p/old trees/$p/new >/dev/null
      main[$p]= ;;
    *) echo "author_scale: unknown pair $p" >&2; exit 2 ;;
  esac
done

measure() {  # output file for "<wall> <user> <system> <KiB>" (and .out for what it prints), then the command
  local into=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$into" "$@" >"$into.out" 2>&1
}
figures() {  # time file: "wall cpu MiB"
  awk '{ printf "%s %.2f %.0f", $1, $2 + $3, $4 / 1024 }' "$1"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# What our run made: the large file's payload bytes and its page loads / pages.
our_payload() {  # out prefix, main path
  local id
  id=$(awk -v f="/$2" '$1 == "updated" && $2 == f { for (i = 1; i <= NF; ++i) if ($i == "payload") { sub(":", "", $(i + 1)); print $(i + 1) } }' "$1.t.out")
  stat -c %s "$1.res/$id.bin"
}
our_loads() {  # out prefix, main path: "loads/pages"
  awk -v f="/$2" '$1 == "updated" { on = $2 == f; next } on && $1 == "applying:" { print $2 "/" $6; exit }' "$1.t.out"
}
ours() {  # pair, label, tool, extra options: makes out/<pair>.<label>.exe
  local o=out/$1.$2
  rm -rf $o.res
  measure $o.t "$3" --old trees/$1/old --new trees/$1/new --from 1.00 --to 1.01 --stub "$stub" \
    --out $o.exe --out-dir $o.res "${@:4}"
}

rows=() ratios=() determinism=() before_rows=() small_rows=()
for p in $pairs_wanted; do
  o=out/$p
  ours $p default "$tool"
  ours $p one "$tool" --threads 1
  same=no
  cmp -s $o.default.exe $o.one.exe && same=yes
  if [ -z "${main[$p]}" ]; then  # a tree of small files: ours only
    ours $p fast "$tool" --fast
    measure $o.verify.t "$tool" verify $o.default.exe --old trees/$p/old --new trees/$p/new
    read -r d_wall d_cpu d_mib <<<"$(figures $o.default.t)"
    read -r one_wall one_cpu one_mib <<<"$(figures $o.one.t)"
    read -r f_wall f_cpu f_mib <<<"$(figures $o.fast.t)"
    read -r v_wall _ <<<"$(figures $o.verify.t)"
    b_cell=
    if [ -n "$before" ]; then
      ours $p before "$before"
      read -r b_wall b_cpu b_mib <<<"$(figures $o.before.t)"
      b_cell=" $(stat -c %s $o.before.exe) B, $b_wall s, $b_cpu s, $b_mib MiB |"
    fi
    small_rows+=("| $p | $(stat -c %s $o.default.exe) B, $d_wall s, $d_cpu s, $d_mib MiB | $f_wall s, $f_cpu s, $f_mib MiB | $one_wall s, $one_cpu s, $one_mib MiB | $(ratio $d_wall $one_wall) | $same | $v_wall s |$b_cell")
    continue
  fi
  ours $p fast "$tool" --fast
  measure $o.verify.t "$tool" verify $o.default.exe --old trees/$p/old --new trees/$p/new
  grep -q "every edition passed" $o.verify.t.out || { echo "author_scale: verify of $p failed" >&2; exit 1; }
  old=trees/$p/old/${main[$p]} new=trees/$p/new/${main[$p]}
  window=$(stat -c %s "$old")
  measure $o.xd.t xdelta3 -9 -e -f -B "$window" -s "$old" "$new" $o.xd
  measure $o.xdd.t xdelta3 -d -f -B "$window" -s "$old" $o.xd $o.xd.new
  cmp -s $o.xd.new "$new" || { echo "author_scale: xdelta3 output wrong for $p" >&2; exit 1; }
  rm -f $o.xd.new
  measure $o.zst.t zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o $o.zst
  zstd -q -d -f --long=31 --patch-from="$old" $o.zst -o $o.zst.new
  cmp -s $o.zst.new "$new" || { echo "author_scale: zstd output wrong for $p" >&2; exit 1; }
  rm -f $o.zst.new

  d_size=$(our_payload $o.default "${main[$p]}")
  f_size=$(our_payload $o.fast "${main[$p]}")
  read -r d_wall d_cpu d_mib <<<"$(figures $o.default.t)"
  read -r f_wall f_cpu f_mib <<<"$(figures $o.fast.t)"
  read -r one_wall one_cpu one_mib <<<"$(figures $o.one.t)"
  read -r x_wall x_cpu x_mib <<<"$(figures $o.xd.t)"
  read -r xd_wall _ <<<"$(figures $o.xdd.t)"
  read -r z_wall z_cpu z_mib <<<"$(figures $o.zst.t)"
  read -r v_wall _ <<<"$(figures $o.verify.t)"
  x_size=$(stat -c %s $o.xd) z_size=$(stat -c %s $o.zst)
  rows+=("| $p | $(stat -c %s "$new") | $d_size B, $d_wall s, $d_cpu s, $d_mib MiB | $f_size B, $f_wall s, $f_cpu s, $f_mib MiB | $one_wall s, $one_cpu s, $one_mib MiB | $x_size B, $x_wall s, $x_cpu s, $x_mib MiB | $z_size B, $z_wall s, $z_cpu s, $z_mib MiB |")
  ratios+=("| $p | $(ratio $d_wall $x_wall) | $(ratio $f_wall $x_wall) | $(ratio $d_wall $z_wall) | $(ratio $d_mib $x_mib) | $(ratio $d_size $x_size) | $(ratio $d_size $z_size) | $(ratio $v_wall $xd_wall) ($v_wall s / $xd_wall s) | $(our_loads $o.default "${main[$p]}") | $same |")
  if [ -n "$before" ]; then
    ours $p before "$before"
    b_size=$(our_payload $o.before "${main[$p]}")
    read -r b_wall b_cpu b_mib <<<"$(figures $o.before.t)"
    before_rows+=("| $p | $b_size B, $b_wall s, $b_mib MiB, $(our_loads $o.before "${main[$p]}") loads | $d_size B, $d_wall s, $d_mib MiB, $(our_loads $o.default "${main[$p]}") loads | $(ratio $d_size $b_size) | $(ratio $d_wall $b_wall) | $(ratio $d_mib $b_mib) |")
  fi
done

if [ ${#rows[@]} -gt 0 ]; then
  echo "| pair | new bytes | ours (default) | ours (--fast) | ours (--threads 1) | xdelta3 -9 -B | zstd -19 --long=31 |"
  echo "|---|---|---|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
  echo
  echo "| pair | wall / xdelta3 | --fast wall / xdelta3 | wall / zstd | peak / xdelta3 | payload / xdelta3 | payload / zstd | verify / xdelta3 decode | page loads / pages | same bytes on 1 thread |"
  echo "|---|---|---|---|---|---|---|---|---|---|"
  printf '%s\n' "${ratios[@]}"
fi
if [ ${#before_rows[@]} -gt 0 ]; then
  echo
  echo "| pair | before (payload, wall, peak, loads) | now | payload now / before | wall now / before | peak now / before |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${before_rows[@]}"
fi
if [ ${#small_rows[@]} -gt 0 ]; then
  echo
  if [ -n "$before" ]; then
    echo "| tree | ours (default): patch, wall, cpu, peak | --fast | --threads 1 | wall / --threads 1 | same bytes on 1 thread | verify | before |"
    echo "|---|---|---|---|---|---|---|---|"
  else
    echo "| tree | ours (default): patch, wall, cpu, peak | --fast | --threads 1 | wall / --threads 1 | same bytes on 1 thread | verify |"
    echo "|---|---|---|---|---|---|---|"
  fi
  printf '%s\n' "${small_rows[@]}"
fi
