#!/usr/bin/env bash
# The install phase of a patch of 2,000 small updated files (about 2 KB each,
# in 20 nested folders) against a plain copy of the same files, in one run
# under Wine with unmanaged windows.
#   bench/small_files.sh [RUNS] [OTHER_PATCHER]
# The build is the one scripts/wine_env.sh picks: build/win32, or build/win64
# on a machine that runs no 32-bit code.
# OTHER_PATCHER, e.g. the same benchmark patcher built from an earlier commit,
# is measured in every run as well, right after this build's.
# Install phase: from the first progress state with the status "Installing:"
# to the first with "Success!", as the UI driver records them (it reads the
# window every QTR_BENCH_POLL_MS ms, 250 unless set: every read sends the
# window's thread several messages, which the patcher's own updates then wait
# behind, so the scenarios' 25 ms would weigh on what is measured). Plain
# copy: CopyFileW of the 2,000 new files into a new
# tree. Each run also checks what the user and the installation see: the
# patched tree equals the 1.01 tree, the recorded current-file lines are the
# entries' paths in plan order, and the overall bar only rises, to 100 when
# "Success!" shows.
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
runs=${1:-3}
other=${2:-}
poll=${QTR_BENCH_POLL_MS:-250}
export WINEPREFIX=$QTR_ROOT/build/wine-bench
. scripts/wine_env.sh
build=$QTR_WIN_BUILD
ninja -C "$build" uidriver bench_copy_tree bench_small_files >/dev/null
patch_dir=$build/bench/small_files
wine_env_start
drive=$WINEPREFIX/drive_c
key='HKLM\SOFTWARE\QtrSmallFiles'
# measure PATCHER COPY_MS: patches a fresh 1.00 tree and prints the figures.
measure() {
  rm -rf "$drive/QTRSMALL"
  cp -r "$patch_dir/before" "$drive/QTRSMALL"
  wine reg add "$key" /v InstallDir /t REG_SZ /d 'C:\QTRSMALL' /f >/dev/null 2>&1
  wine reg add "$key" /v Version /t REG_SZ /d 1.00 /f >/dev/null 2>&1
  wine reg add "$key" /v Lang /t REG_SZ /d 0x409 /f >/dev/null 2>&1
  sync
  wine "$build/tests/e2e/uidriver.exe" --answer 6 --timeout 600000 --poll "$poll" -- "$1" > "$patch_dir/run.jsonl" 2>/dev/null || true
  diff -r "$patch_dir/after" "$drive/QTRSMALL" >/dev/null || { echo "small_files: patched tree differs" >&2; exit 1; }
  python3 - "$patch_dir/run.jsonl" "$2" "$patch_dir/5002.xml" "$(basename "$1")" <<'PY'
import json, re, sys
paths = ["C:\\QTRSMALL\\" + p.replace("/", "\\")
         for p in re.findall(r'subpath="([^"]+)"', open(sys.argv[3], encoding="utf-8").read())]
index = {p: i for i, p in enumerate(paths)}
start = end = None
last_entry, last_overall, states, shown = -1, 0, 0, set()
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line).get("progress")
    if r is None or end is not None:
        continue
    if r["status"] == "Success!":
        end, last_overall = r["ms"], r["overall_bar"]
    elif r["status"] == "Installing:":
        start = r["ms"] if start is None else start
        states += 1
        if r["current_file"]:
            i = index.get(r["current_file"])
            assert i is not None and i >= last_entry, "current file out of plan order: " + r["current_file"]
            last_entry = i
            shown.add(i)
        assert r["overall_bar"] >= last_overall, "overall bar went back"
        last_overall = r["overall_bar"]
assert start is not None and end is not None, "no install phase recorded"
assert last_overall == 100, "the overall bar did not reach 100"
copy, install, n = float(sys.argv[2]), end - start, len(paths)
print(f"{sys.argv[4]}, {n} entries: install phase {install} ms ({install / n:.2f} ms per entry), "
      f"plain copy {copy:.0f} ms ({copy / n:.3f} ms per file): {install / copy:.1f}x; "
      f"{states} states recorded, {len(shown)} paths among them")
PY
}
for run in $(seq "$runs"); do
  rm -rf "$drive/copy"
  sync
  copy_ms=$(wine "$build/bench/bench_copy_tree.exe" "Z:$QTR_ROOT/$patch_dir/after" 'C:\copy' | tr -d '\r')
  measure "$build/bench/bench_small_files.exe" "$copy_ms"
  [ -z "$other" ] || measure "$other" "$copy_ms"
done
