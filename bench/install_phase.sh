#!/usr/bin/env bash
# The demo patch's install phase against a plain copy of the same files, and
# the patcher's peak private memory, measured in one run under Wine.
#   bench/install_phase.sh [RUNS]     (needs scripts/demo.sh run once before)
# Install phase: from the first progress state with the status "Installing:"
# to the success box, as the UI driver records them. Plain copy: CopyFileW of
# the edition's whole 1.01 tree (what the patch writes and more).
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
runs=${1:-3}
demo=build/demo
[ -f "$demo/qtr_demo_patch.exe" ] || { echo "install_phase: run scripts/demo.sh first" >&2; exit 1; }
export WINEPREFIX=$QTR_ROOT/build/wine-bench
. scripts/wine_env.sh
ninja -C "$QTR_WIN_BUILD" uidriver bench_copy_tree >/dev/null
wine_env_start
drive=$WINEPREFIX/drive_c
key='HKLM\SOFTWARE\Morrow\QTR'
tree="$demo/trees/censored"
for run in $(seq "$runs"); do
  rm -rf "$drive/QTR" "$drive/copy"
  cp -r "$tree/1.00" "$drive/QTR"
  wine reg add "$key" /v InstallDir /t REG_SZ /d 'C:\QTR' /f >/dev/null 2>&1
  wine reg add "$key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  wine reg add "$key" /v Lang /t REG_SZ /d 0x409 /f >/dev/null 2>&1
  sync
  copy_ms=$(wine "$QTR_WIN_BUILD/bench/bench_copy_tree.exe" "Z:$QTR_ROOT/$tree/1.01" 'C:\copy' | tr -d '\r')
  wine "$QTR_WIN_BUILD/tests/e2e/uidriver.exe" --answer 6 --timeout 300000 -- "$demo/qtr_demo_patch.exe" \
    > "$demo/bench-run.jsonl" 2>/dev/null || true
  python3 - "$demo/bench-run.jsonl" "$copy_ms" <<'PY'
import json, sys
start = end = peak = None
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    if "progress" in r and start is None and r["progress"]["status"] == "Installing:":
        start = r["progress"]["ms"]
    elif "box" in r and start is not None and end is None:
        end = r["box"]["ms"]
    elif "exit" in r:
        peak = r["peak_private_bytes"]
copy = float(sys.argv[2])
install = end - start
print(f"install phase {install} ms, plain copy {copy:.0f} ms: {install / copy:.2f}x; "
      f"peak private memory {peak / 1048576:.1f} MiB ({peak / (16 * 1048576):.2f} of the 16 MiB target)")
PY
done
