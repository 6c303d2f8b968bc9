#!/usr/bin/env bash
# Makes the demo patch: generates the sample installation (1.00 and 1.01 of
# the censored and uncensored editions) from the sample game executables and
# runs the authoring tool on it.
#   scripts/make_demo_patch.sh NATIVE_BUILD WIN32_BUILD OUT_DIR [--twice]
# NATIVE_BUILD holds qtr_author and qtr_demo_trees, WIN32_BUILD the stub
# patcher and the sample game. Writes OUT_DIR/trees/, OUT_DIR/qtr_demo_patch.exe
# and its documents and payloads in OUT_DIR/resources/. With --twice the
# patch is made a second time and must come out byte for byte the same.
set -euo pipefail
if [ $# -lt 3 ]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
native=$1 win32=$2 out=$3 twice=${4:-}
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
