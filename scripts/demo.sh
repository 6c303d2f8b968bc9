#!/usr/bin/env bash
# Sets everything up and runs the demo patch end to end on a machine without
# a display: builds the patcher and the authoring tool, generates the sample
# installation (1.00 and 1.01 of both editions), makes the demo patch, installs
# each edition's 1.00 in a Wine prefix with its registry values, runs the
# patcher under the UI driver (answering its start question Yes) and prints
# what happened: the boxes shown, the files changed, the registry written,
# and a screenshot of the progress window during the install phase.
# With a display, the same patcher (build/demo/qtr_demo_patch.exe) can be run
# by hand: wine build/demo/qtr_demo_patch.exe
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
jobs=$(nproc)
bash scripts/setup.sh

configure() {
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}
export WINEPREFIX=$QTR_ROOT/build/wine-demo
. scripts/wine_env.sh
echo "demo: building the authoring tool and the patcher"
configure build/native
ninja -C build/native -j"$jobs" qtr_author qtr_demo_trees >/dev/null
toolchain=cmake/mingw-i686.cmake
if [ "$QTR_WINE_ARCH" = win64 ]; then
  echo "demo: this machine runs no 32-bit code: the demo runs the patcher's x86_64 build under 64-bit Wine"
  toolchain=cmake/mingw-x86_64.cmake
fi
configure "$QTR_WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE=$toolchain
ninja -C "$QTR_WIN_BUILD" -j"$jobs" qtr_patch_stub qtr_sample_game_1_00 qtr_sample_game_1_01 uidriver >/dev/null

out=build/demo
echo "demo: generating the sample installation and making the patch"
bash scripts/make_demo_patch.sh build/native "$QTR_WIN_BUILD" "$out"
patch="$out/qtr_demo_patch.exe"

wine_env_start
drive=$WINEPREFIX/drive_c
game_key='HKLM\SOFTWARE\Morrow\QTR'
uninstall_key=$(sed -n 's/.*<reg_version2 key="\([^"]*\)".*/\1/p' "$out/resources/5001.xml")
uninstall_key="HKLM\\$uninstall_key"

reg_value() {  # reg_value KEY NAME: the value's data, or "(absent)"
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print; f = 1 } END { if (!f) print "(absent)" }'
}

run_edition() {  # run_edition EDITION LANGUAGE STATUS_WHILE_INSTALLING
  local edition=$1 language=$2 installing=$3
  local dir="$drive/Games/Quarrytide"
  echo
  echo "=== $edition edition, installed 1.00, language $language"
  rm -rf "$dir"; mkdir -p "$(dirname "$dir")"
  cp -r "$out/trees/$edition/1.00" "$dir"
  wine reg add "$game_key" /v InstallDir /t REG_SZ /d 'C:\Games\Quarrytide' /f >/dev/null 2>&1
  wine reg add "$game_key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  wine reg add "$game_key" /v Lang /t REG_SZ /d "$language" /f >/dev/null 2>&1
  wine reg add "$uninstall_key" /v DisplayVersion /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  local before; before=$(mktemp -d)
  cp -r "$dir/." "$before/"
  local shot="$QTR_ROOT/$out/progress-$edition.png"
  rm -f "$shot"
  set +e
  wine "$QTR_WIN_BUILD/tests/e2e/uidriver.exe" --answer 6 --timeout 300000 \
    --shot-status "$installing" --shot "$shot" -- "$patch" > "$out/run-$edition.jsonl" 2>/dev/null
  set -e
  python3 - "$out/run-$edition.jsonl" <<'PY'
import json, sys
last = None
for line in open(sys.argv[1], encoding="utf-8"):
    record = json.loads(line)
    if "box" in record:
        box = record["box"]
        buttons = ", ".join(f'{b["label"]} ({b["id"]})' for b in box["buttons"])
        owner = f'owned by "{box["owner_caption"]}"' if box["owned"] else "no owner"
        print(f'box: [{box["caption"]}] {box["text"]!r}  buttons: {buttons}; icon {box["icon"]}, '
              f'{"topmost" if box["topmost"] else "not topmost"}, {owner}')
    elif "progress" in record:
        p = record["progress"]
        if p["status"] and p["current_file"]:
            last = f'{p["status"]} {p["current_file"]}  {p["current_percent"]} / {p["overall_percent"]}'
    elif "exit" in record:
        if last:
            print(f"last progress state: {last}")
        print(f'exit code: {record["exit"]}')
PY
  echo "files changed:"
  diff -rq "$before" "$dir" | sed "s#$before#1.00#; s#$dir#patched#" | sed 's/^/  /' || true
  if diff -r "$dir" "$out/trees/$edition/1.01" >/dev/null; then
    echo "  the patched installation equals $edition 1.01 byte for byte"
  else
    echo "  the patched installation DIFFERS from $edition 1.01" && exit 1
  fi
  echo "registry: Version=$(reg_value "$game_key" Version), DisplayVersion=$(reg_value "$uninstall_key" DisplayVersion)"
  [ -f "$shot" ] && echo "screenshot of the install phase: $out/progress-$edition.png"
  rm -rf "$before"
}

run_edition censored 0x0409 "Installing:"
run_edition uncensored 0x040c "Installation:"
echo
echo "demo: done"
