#!/usr/bin/env bash
# Makes the demo patch: generates the sample installation (1.00 and 1.01 of
# the censored and uncensored editions) from the sample game executables and
# runs the authoring tool on it.
#   scripts/make_demo_patch.sh NATIVE_BUILD WIN32_BUILD OUT_DIR [--twice] [--wine]
# NATIVE_BUILD holds qtr_author and qtr_demo_trees, WIN32_BUILD the stub
# patcher and the sample game. Writes OUT_DIR/trees/, OUT_DIR/qtr_demo_patch.exe
# and its documents and payloads in OUT_DIR/resources/. With --twice the
# patch is made a second time and must come out byte for byte the same.
# With --wine each edition's 1.00 tree is installed in the Wine prefix
# ($WINEPREFIX, started with scripts/wine_env.sh), the patch is run there
# through WIN32_BUILD's uidriver.exe, answering Yes, and the patched tree
# must equal the edition's 1.01 tree byte for byte.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
native=$1 win32=$2 out=$3
shift 3
twice= wine_check=
for option in "$@"; do
  case $option in
    --twice) twice=--twice ;;
    --wine) wine_check=1 ;;
    *) echo "make_demo_patch: unknown option $option" >&2; exit 2 ;;
  esac
done
for f in "$native/tools/qtr_author" "$native/demo/qtr_demo_trees" "$win32/resources/qtr_patch_stub.exe" \
         "$win32/demo/sample_game/qtr_sample_game_1_00.exe" "$win32/demo/sample_game/qtr_sample_game_1_01.exe"; do
  [ -f "$f" ] || { echo "make_demo_patch: missing $f (build both trees first)" >&2; exit 1; }
done
mkdir -p "$out"
"$native/demo/qtr_demo_trees" "$win32/demo/sample_game/qtr_sample_game_1_00.exe" \
  "$win32/demo/sample_game/qtr_sample_game_1_01.exe" "$out/trees"

author() {
  "$native/tools/qtr_author" \
    --old "$out/trees/censored/1.00" --new "$out/trees/censored/1.01" --name censored \
    --old "$out/trees/uncensored/1.00" --new "$out/trees/uncensored/1.01" --name uncensored \
    --key-file qtr.exe --from 1.00 --to 1.01 \
    --stub "$win32/resources/qtr_patch_stub.exe" "$@"
}
author --out "$out/qtr_demo_patch.exe" --out-dir "$out/resources"
if [ "$twice" = --twice ]; then
  author --out "$out/qtr_demo_patch.again.exe" --out-dir "$out/resources.again" > /dev/null
  cmp "$out/qtr_demo_patch.exe" "$out/qtr_demo_patch.again.exe"
  diff -r "$out/resources" "$out/resources.again"
  rm -rf "$out/qtr_demo_patch.again.exe" "$out/resources.again"
  echo "make_demo_patch: made twice, byte-identical"
fi
if [ -n "$wine_check" ]; then
  drive=${WINEPREFIX:?set WINEPREFIX and start scripts/wine_env.sh}/drive_c
  key='HKLM\SOFTWARE\Morrow\QTR'
  for edition in censored uncensored; do
    rm -rf "$drive/QTR"
    cp -r "$out/trees/$edition/1.00" "$drive/QTR"
    wine reg add "$key" /v InstallDir /t REG_SZ /d 'C:\QTR' /f >/dev/null 2>&1
    wine reg add "$key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
    wine reg add "$key" /v Lang /t REG_SZ /d 0x409 /f >/dev/null 2>&1
    wine "$win32/tests/e2e/uidriver.exe" --answer 6 --timeout 300000 -- "$out/qtr_demo_patch.exe" \
      > "$out/wine-$edition.jsonl" 2>/dev/null
    grep -q '"exit":0,' "$out/wine-$edition.jsonl" || { echo "make_demo_patch: $edition: patcher failed" >&2; exit 1; }
    diff -r "$drive/QTR" "$out/trees/$edition/1.01" ||
      { echo "make_demo_patch: $edition: patched tree differs from 1.01" >&2; exit 1; }
    wine reg query "$key" /v Version 2>/dev/null | grep -q '1\.01' ||
      { echo "make_demo_patch: $edition: version not recorded" >&2; exit 1; }
    echo "make_demo_patch: $edition patched under Wine, equal to 1.01"
  done
  rm -rf "$drive/QTR"
fi
