#!/usr/bin/env bash
# The whole fault sweep: the scenario patch of tests/faults run by the fault
# harness once for every call of a clean run with every fault that call can
# meet on a real machine (error results, short reads and writes, a power cut
# right at the call), and once for every allocation of the install phase
# failing, each followed by a run without faults that must finish the patch.
# CTest runs a sample of it (fault_sweep_sample); this runs every row and
# prints the table. 8 to 16 minutes on two cores.
#   scripts/fault_sweep.sh [--defect]
# --defect sweeps the harness whose patcher has the deliberate defect of
# tests/faults/defect_remove_target_first.patch instead, and lists the rows
# that catch it. The rows and the table are written to build/faults/.
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
harness=qtr_fault_harness out=build/faults/sweep mode=--full
case "${1:-}" in
  --defect) harness=qtr_fault_harness_defect out=build/faults/defect ;;
  "") ;;
  *) sed -n '2,13p' "$0" >&2; exit 2 ;;
esac

bash scripts/setup.sh
. scripts/wine_env.sh
configure() {  # configure <dir> [cmake args...]
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DQTR_WERROR=ON "$@" >/dev/null
}
configure build/native
jobs=$(nproc); [ "$jobs" -gt 2 ] && jobs=2
ninja -C build/native -j"$jobs" qtr_author
if [ "$QTR_WINE_ARCH" = win32 ]; then toolchain=mingw-i686; else toolchain=mingw-x86_64; fi
configure "$QTR_WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/$toolchain.cmake -DQTR_NATIVE_BUILD="$QTR_ROOT/build/native"
ninja -C "$QTR_WIN_BUILD" -j"$jobs" qtr_fault_harness qtr_fault_harness_defect qtr_fault_sweep
wine_env_start
faults=$QTR_WIN_BUILD/tests/faults
rm -rf "$out"
status=0
wine "$faults/qtr_fault_sweep.exe" $mode "$faults/$harness.exe" "$faults/fault_patch" "$out" || status=$?
echo "rows: $out/rows.txt, table: $out/table.txt"
if [ "$harness" = qtr_fault_harness_defect ]; then
  # Here the sweep succeeds when it fails: the defect must be seen.
  [ $status != 0 ] && echo "the defect was seen" && exit 0
  echo "the defect was NOT seen"; exit 1
fi
exit $status
