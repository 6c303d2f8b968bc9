#!/usr/bin/env bash
# The install phase of a patch against a plain copy of the same files, and
# the patcher's peak private memory, measured in one run under Wine.
#   bench/install_phase.sh [RUNS]                    the demo patch (run scripts/demo.sh once before)
#   bench/install_phase.sh RUNS OLD_FILE NEW_FILE    a patch that updates one file, made here by
#                                                    qtr_author (build/native) from two one-file trees
# Install phase: from the first progress state with the status "Installing:"
# to the first with "Success!" (set once every file is in place and the
# version recorded), and to the success box, as the UI driver records them.
# Plain copy: CopyFileW of the whole new tree (what the patch writes and more).
#   QTR_BENCH_OTHER_STUB  with OLD and NEW, a patcher stub (e.g. one built from an earlier commit):
#                         the same patch is made with it as well and measured
#                         in every run, right after this build's.
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
runs=${1:-3}
demo=build/demo
export WINEPREFIX=$QTR_ROOT/build/wine-bench
. scripts/wine_env.sh
ninja -C "$QTR_WIN_BUILD" uidriver bench_copy_tree qtr_patch_stub >/dev/null
if [ $# -ge 3 ]; then
  patch=build/install_phase/patch.exe
  tree=build/install_phase/trees
  rm -rf build/install_phase && mkdir -p "$tree/1.00" "$tree/1.01"
  cp "$2" "$tree/1.00/server.bin"
  cp "$3" "$tree/1.01/server.bin"
  build/native/tools/qtr_author --old "$tree/1.00" --new "$tree/1.01" --from 1.00 --to 1.01 \
    --stub "$QTR_WIN_BUILD/resources/qtr_patch_stub.exe" --out "$patch" --stats
  if [ -n "${QTR_BENCH_OTHER_STUB:-}" ]; then
    build/native/tools/qtr_author --old "$tree/1.00" --new "$tree/1.01" --from 1.00 --to 1.01 \
      --stub "$QTR_BENCH_OTHER_STUB" --out build/install_phase/other.exe --quiet
  fi
else
  patch=$demo/qtr_demo_patch.exe
  tree=$demo/trees/censored
  [ -f "$patch" ] || { echo "install_phase: run scripts/demo.sh first" >&2; exit 1; }
fi
log=build/install_phase-run.jsonl
wine_env_start
drive=$WINEPREFIX/drive_c
key='HKLM\SOFTWARE\Morrow\QTR'
# measure PATCH COPY_MS: patches a fresh 1.00 tree and prints the figures.
measure() {
  rm -rf "$drive/QTR"
  cp -r "$tree/1.00" "$drive/QTR"
  wine reg add "$key" /v InstallDir /t REG_SZ /d 'C:\QTR' /f >/dev/null 2>&1
  wine reg add "$key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  wine reg add "$key" /v Lang /t REG_SZ /d 0x409 /f >/dev/null 2>&1
  sync
  wine "$QTR_WIN_BUILD/tests/e2e/uidriver.exe" --answer 6 --timeout 300000 -- "$1" \
    > "$log" 2>/dev/null || true
  python3 - "$log" "$2" "$(basename "$1")" <<'PY'
import json, sys
start = done = end = peak = None
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    if "progress" in r and start is None and r["progress"]["status"] == "Installing:":
        start = r["progress"]["ms"]
    elif "progress" in r and start is not None and done is None and r["progress"]["status"] == "Success!":
        done = r["progress"]["ms"]
    elif "box" in r and start is not None and end is None:
        end = r["box"]["ms"]
    elif "exit" in r:
        peak = r["peak_private_bytes"]
copy = float(sys.argv[2])
to_status = f"{done - start} ms ({(done - start) / copy:.1f}x)" if done is not None else "not seen"
print(f"{sys.argv[3]}: install phase to \"Success!\" {to_status}, to the box {end - start} ms "
      f"({(end - start) / copy:.1f}x), plain copy {copy:.0f} ms; "
      f"peak private memory {peak / 1048576:.1f} MiB ({peak / (16 * 1048576):.2f} of the 16 MiB target)")
PY
}
for run in $(seq "$runs"); do
  rm -rf "$drive/copy"
  sync
  copy_ms=$(wine "$QTR_WIN_BUILD/bench/bench_copy_tree.exe" "Z:$QTR_ROOT/$tree/1.01" 'C:\copy' | tr -d '\r')
  measure "$patch" "$copy_ms"
  if [ -n "${QTR_BENCH_OTHER_STUB:-}" ] && [ -f build/install_phase/other.exe ]; then
    measure build/install_phase/other.exe "$copy_ms"
  fi
done
