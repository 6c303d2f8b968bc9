#!/usr/bin/env bash
# One patch for a release matrix of two editions by the game's eight
# languages (16 cells, no single file telling them apart) beside 16 patches
# made one cell at a time, in the same run: groups, key files, the bytes each
# cell's patcher reads to select its groups, payload bytes, authoring time and
# peak memory, the times as the ratio of the two.
#   bench/matrix.sh [SCALE] [RUNS]
# SCALE multiplies the trees' sizes (make_matrix_trees.py; 1: about 2 MB a
# cell, default 8), RUNS the timed rounds (default 3). Needs build/native's
# qtr_author and a stub patcher (build/win32 or build/win64).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
scale=${1:-8} runs=${2:-3}
tool=$root/build/native/tools/qtr_author
stub=$(ls "$root"/build/win32/resources/qtr_patch_stub.exe "$root"/build/win64/resources/qtr_patch_stub.exe \
  2>/dev/null | head -1 || true)
[ -x "$tool" ] && [ -n "$stub" ] || { echo "matrix.sh: build build/native and build/win32 (or win64) first" >&2; exit 1; }
work=$root/build/bench-matrix
rm -rf "$work" && mkdir -p "$work"
python3 "$root/tests/e2e/authored/make_matrix_trees.py" "$work/trees" --languages de,en,es,fr,it,ja,pl,ru \
  --scale "$scale" > "$work/cells.txt"
cells=$(cut -d' ' -f1 "$work/cells.txt")
args=()
for cell in $cells; do args+=(--old "$work/trees/$cell/1.00" --new "$work/trees/$cell/1.01" --name "$cell"); done
echo "matrix: 2 editions x 8 languages, $(du -sh "$work/trees" | cut -f1) of trees, scale $scale"

# One round: the matrix patch, then the 16 patches of one cell each. Each
# qtr_author run appends "seconds peak-KiB" to its list.
matrix=(--from 1.00 --to 1.01 --stub "$stub" --out "$work/matrix.exe")
round() {
  rm -rf "$work/matrix-out"
  /usr/bin/time -a -f '%e %M' -o "$work/matrix.times" "$tool" "${args[@]}" "${matrix[@]}" \
    --out-dir "$work/matrix-out" --quiet
  for cell in $cells; do
    rm -rf "$work/single-$cell"
    /usr/bin/time -a -f '%e %M' -o "$work/singles-$1.times" "$tool" --old "$work/trees/$cell/1.00" \
      --new "$work/trees/$cell/1.01" --from 1.00 --to 1.01 --stub "$stub" --out "$work/single-$cell.exe" \
      --out-dir "$work/single-$cell" --quiet
  done
}
: > "$work/matrix.times"
for r in $(seq "$runs"); do round "$r"; done
"$tool" "${args[@]}" "${matrix[@]}" --json > "$work/matrix.json"
python3 - "$work" "$runs" <<'EOF'
import json, os, statistics, sys
work, runs = sys.argv[1], int(sys.argv[2])
summary = json.load(open(os.path.join(work, "matrix.json")))
def payload_bytes(folder):
    return sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder) if f.endswith(".bin"))
def times(name):
    return [tuple(map(float, line.split())) for line in open(os.path.join(work, name)) if line.strip()]
matrix_t = times("matrix.times")
# A round of single patches: their seconds added, the largest peak.
singles_t = []
for r in range(1, runs + 1):
    runs_of_round = times(f"singles-{r}.times")
    singles_t.append((sum(t for t, _ in runs_of_round), max(k for _, k in runs_of_round)))
ratios = sorted(m[0] / s[0] for m, s in zip(matrix_t, singles_t))
singles_payload = sum(payload_bytes(os.path.join(work, d)) for d in os.listdir(work) if d.startswith("single-")
                      and os.path.isdir(os.path.join(work, d)))
groups = summary["groups"]
print(f"groups: {len(groups)} ({sum(1 for g in groups if g['filtered'])} keyed), key files: "
      + ", ".join(k["path"] for k in summary["key_files"]))
for g in groups:
    print(f"  pack {g['pack']}: {g.get('name', 'everyone')}" + (f" keyed by {g['key_file']}" if g["filtered"] else ""))
reads = [v["key_bytes_read"] for v in summary["variants"]]
print(f"bytes each cell's patcher reads to select its groups: {min(reads):,} to {max(reads):,}")
print(f"payloads: one patch {payload_bytes(os.path.join(work, 'matrix-out')):,} bytes, "
      f"16 patches {singles_payload:,} bytes")
print(f"authoring time, one patch / 16 patches, same rounds ({runs}): median {statistics.median(ratios):.2f} "
      f"(min {ratios[0]:.2f}, max {ratios[-1]:.2f}); one patch median {statistics.median(m[0] for m in matrix_t):.2f} s, "
      f"peak {max(m[1] for m in matrix_t) / 1024:.0f} MiB; 16 patches peak {max(s[1] for s in singles_t) / 1024:.0f} MiB")
EOF
