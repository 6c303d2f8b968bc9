#!/usr/bin/env bash
# Sets everything up and runs every test: native unit tests (plain and under
# ASan/UBSan), short fuzzing runs, and the Win32 unit and end-to-end tests of
# the real executables under Wine on a private Xvfb display.
#   QTR_FUZZ_SECONDS  seconds per fuzz target (default 10)
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
jobs=$(nproc)
fuzz_seconds=${QTR_FUZZ_SECONDS:-10}

bash scripts/setup.sh

# Each step says how long the run has taken so far.
step() { printf '\n=== %s (at %ds)\n' "$*" "$SECONDS"; }

configure() {  # configure <dir> [cmake args...]
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DQTR_WERROR=ON "$@" >/dev/null
}

step "native build and unit tests"
configure build/native
ninja -C build/native -j"$jobs"
ctest --test-dir build/native -j"$jobs" --output-on-failure
# Seeded pairs and the diff writer's streams for them, rebuilt under Wine by
# the patcher's own applier further down.
rm -rf build/roundtrip && mkdir -p build/roundtrip
build/native/tools/qtr_roundtrip_fixtures build/roundtrip
export QTR_ROUNDTRIP_DIR="$QTR_ROOT/build/roundtrip"

step "native unit tests under ASan and UBSan"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DQTR_SANITIZE=ON
ninja -C build/asan -j"$jobs"
# The 60,533-payload resource-count test takes minutes under the sanitizers
# and exercises no memory path the other tests leave out; the plain build
# runs it.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/asan -j"$jobs" --output-on-failure \
  -E '^BuildPatch\.CarriesAsManyFilesAsResourceIdsHold$'

# The display and a new Wine prefix start while the fuzzers run, which take
# the same time whatever else runs.
. scripts/wine_env.sh
wine_env_begin

step "fuzzing, ${fuzz_seconds}s per target"
CC=clang CXX=clang++ configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQTR_FUZZ=ON
ninja -C build/fuzz -j"$jobs" fuzzers
# One target per core at a time, each on a copy of its corpus.
fuzz_one() {  # fuzz_one <target binary>
  local fuzzer=$1 name=${1##*/fuzz_} work
  work=$(mktemp -d)
  cp -r tests/fuzz/corpus/"$name"/. "$work"/ 2>/dev/null || true
  local status=0
  "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=0 -artifact_prefix="build/fuzz/crash-$name-" \
    "$work" >"build/fuzz/$name.log" 2>&1 || status=$?
  rm -rf "$work"
  if [ $status != 0 ]; then echo "fuzz_$name failed:"; tail -40 "build/fuzz/$name.log"; return 1; fi
  echo "fuzz_$name: $(grep -E '^#[0-9]+.*DONE' "build/fuzz/$name.log" | tail -1)"
}
fuzz_pids=()
for fuzzer in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  if [ ${#fuzz_pids[@]} -ge "$jobs" ]; then wait "${fuzz_pids[0]}" || exit 1; fuzz_pids=("${fuzz_pids[@]:1}"); fi
  fuzz_one "$fuzzer" & fuzz_pids+=($!)
done
for pid in "${fuzz_pids[@]}"; do wait "$pid" || exit 1; done

step "Win32 build"
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DQTR_NATIVE_BUILD="$QTR_ROOT/build/native"
if [ "$QTR_WINE_ARCH" = win32 ]; then
  ninja -C build/win32 -j"$jobs"
else
  # This machine runs no 32-bit code: the patcher is built for Windows as it
  # ships and its imports are checked; its tests run on the x86_64 build of
  # the same sources under 64-bit Wine.
  ninja -C build/win32 -j"$jobs" qtr_patch_stub qtr_sample_game_1_00 qtr_sample_game_1_01
  ctest --test-dir build/win32 -R patcher_imports_only_system_dlls --output-on-failure
  step "x86_64 build of the same sources, for the tests (this machine runs no 32-bit code)"
  configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DQTR_NATIVE_BUILD="$QTR_ROOT/build/native"
  ninja -C build/win64 -j"$jobs"
fi

step "Win32 unit tests and end-to-end scenarios under Wine ($QTR_WINE_ARCH), the packages beside them"
wine_env_ready
# What a studio installs (tests/package/package_test.sh) is made and run
# while the scenarios run: it shares nothing with them but the cores. Its
# Windows package holds the x86_64 qtr_author.exe, which a machine that runs
# 32-bit code builds here for it alone.
packages() {
  if [ "$QTR_WINE_ARCH" = win32 ]; then
    configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DQTR_NATIVE_BUILD="$QTR_ROOT/build/native"
    ninja -C build/win64 -j"$jobs" qtr_author
  fi
  bash tests/package/package_test.sh build/native build/win32 build/win64 build/package
}
packages > build/package.log 2>&1 &
packages_pid=$!
# One Wine prefix holds the registry, the named objects and the display the
# tests use: they run one at a time (their RESOURCE_LOCK), and only the
# Windows authoring tool's test, which uses none of them, runs beside them.
ctest --test-dir "$QTR_WIN_BUILD" -j2 --output-on-failure
step "packages: installed, the Debian package and the Windows package, each run on the demo"
if ! wait "$packages_pid"; then
  cat build/package.log
  echo "test: the packages failed"
  exit 1
fi
grep '^package_test: ' build/package.log
step "done"
