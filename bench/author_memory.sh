#!/usr/bin/env bash
# Peak memory of qtr_author making a patch of one large changed file, as a
# ratio to that file's size, in the default mode and with --fast.
#   bench/author_memory.sh [MIB]      (default 256; needs build/native and a stub)
# The old file is generated data (game-like: compressible, with repeats);
# the new one has bytes changed in place, a block inserted and one moved.
# Peak memory is the maximum resident set size /usr/bin/time reports.
set -euo pipefail
export QTR_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$QTR_ROOT"
mib=${1:-256}
tool=build/native/tools/qtr_author
stub=build/native/tests/unit/cli/stub.exe
[ -x "$tool" ] || { echo "author_memory: build build/native first" >&2; exit 1; }
[ -f "$stub" ] || build/native/tests/unit/make_test_stub "$stub"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/old" "$work/new"
python3 - "$work" "$mib" <<'PY'
import os, random, sys
work, mib = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
block = bytes(rng.randrange(48) for _ in range(1 << 16))
chunks = []
for i in range(mib * 16):
    b = bytearray(block)
    for _ in range(64):
        b[rng.randrange(len(b))] = rng.randrange(256)
    chunks.append(bytes(b))
old = b"".join(chunks)
new = bytearray(old)
for _ in range(20000):
    new[rng.randrange(len(new))] ^= 0x33
cut = len(new) // 3
new[cut:cut] = os.urandom(1 << 20)
move = bytes(new[len(new) // 2: len(new) // 2 + (4 << 20)])
del new[len(new) // 2: len(new) // 2 + (4 << 20)]
new[1 << 20:1 << 20] = move
open(os.path.join(work, "old", "archive.pak"), "wb").write(old)
open(os.path.join(work, "new", "archive.pak"), "wb").write(bytes(new))
PY
size=$(stat -c %s "$work/new/archive.pak")
for mode in default --fast; do
  extra=(); [ "$mode" = --fast ] && extra=(--fast)
  /usr/bin/time -v "$tool" --old "$work/old" --new "$work/new" --from 1.00 --to 1.01 --stub "$stub" \
    --out "$work/patch.exe" --quiet "${extra[@]}" 2> "$work/time.txt"
  peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
  seconds=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time.txt")
  python3 -c "import sys; p=int(sys.argv[1])*1024; s=int(sys.argv[2]); print(f'{sys.argv[3]}: peak {p/2**20:.0f} MiB for a {s/2**20:.0f} MiB file: {p/s:.2f}x the file; {sys.argv[4]} wall; patch {int(sys.argv[5])/2**20:.1f} MiB')" \
    "$peak_kib" "$size" "$mode" "$seconds" "$(stat -c %s "$work/patch.exe")"
done
