#!/usr/bin/env bash
# The patcher raises the system timer resolution to 1 ms for its run and
# lowers it again before it ends, on a run that patches and on one that ends
# with a notice. Wine cannot show the resolution itself: NtQueryTimerResolution
# reports 1 ms whatever a process asks for, and timeBeginPeriod and
# timeEndPeriod succeed even unmatched. So the requests are read from Wine's
# relay trace of the real patcher's calls: one timeBeginPeriod(1) before its
# first box and first file operation, one timeEndPeriod(1) after its last.
#   timer_resolution_test.sh UIDRIVER PATCHER PHASES_PATCH_DIR
set -euo pipefail
uidriver=$1 patcher=$2 fixtures=$3
. "$(dirname "$0")/relay_trace.sh"
relay_trace_setup qtr_timer "$fixtures" \
  'winmm.timeBeginPeriod;winmm.timeEndPeriod;shell32.SHFileOperationW;user32.MessageBoxW'

fail() {
  echo "timer resolution ($1): $2" >&2
  grep -a -E 'Call|Ret ' "$trace" | head -40 >&2 || true
  exit 1
}
lines() { grep -a -n -E "$1" "$trace" | cut -d: -f1 || true; }

# The first run patches the installation (boxes and file operations), the
# second finds it patched and ends with a notice (boxes only).
for run in patching already-patched; do
  WINEDEBUG=+relay wine "$uidriver" --answer 6 --timeout 60000 -- "$patcher" >/dev/null 2>"$trace" ||
    fail $run "the patcher did not end with exit code 0"
  begins=$(lines 'Call winmm\.timeBeginPeriod\(')
  ends=$(lines 'Call winmm\.timeEndPeriod\(')
  [ "$(echo "$begins" | grep -c .)" = 1 ] || fail $run "not exactly one timeBeginPeriod"
  [ "$(echo "$ends" | grep -c .)" = 1 ] || fail $run "not exactly one timeEndPeriod"
  grep -aqE 'Call winmm\.timeBeginPeriod\(0*1\)' "$trace" || fail $run "timeBeginPeriod not asked for 1 ms"
  grep -aqE 'Call winmm\.timeEndPeriod\(0*1\)' "$trace" || fail $run "timeEndPeriod not of 1 ms"
  work=$(lines 'Call (user32\.MessageBoxW|shell32\.SHFileOperationW)|Ret  user32\.MessageBoxW')
  [ -n "$work" ] || fail $run "no box seen"
  [ "$begins" -lt "$(echo "$work" | head -1)" ] || fail $run "raised only after the run began"
  [ "$ends" -gt "$(echo "$work" | tail -1)" ] || fail $run "lowered before the last box was answered"
  operations=$(lines 'Call shell32\.SHFileOperationW' | grep -c . || true)
  case $run in
    patching) [ "$operations" -gt 0 ] || fail $run "no file operation seen" ;;
    *) [ "$operations" = 0 ] || fail $run "files were touched" ;;
  esac
done
echo "timer resolution raised and restored on both runs"
