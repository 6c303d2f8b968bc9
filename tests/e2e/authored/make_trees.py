#!/usr/bin/env python3
"""Writes OUT/old and OUT/new: a small installation before and after a
release whose changes the authoring tool once got wrong. A readme renamed only
in case (and changed), a saved file that becomes empty, a changed library, a
music file added in a new folder, a level deleted (its folder stays), and a
file that does not change.
    make_trees.py OUT"""
import os
import random
import shutil
import sys

out = sys.argv[1]
shutil.rmtree(out, ignore_errors=True)
rng = random.Random(1101)
library = bytes(rng.randrange(64) for _ in range(300_000))
edited = bytearray(library)
for _ in range(40):
    edited[rng.randrange(len(edited))] ^= 0x5A
edited[100_000:100_000] = bytes(rng.randrange(256) for _ in range(5_000))

trees = {
    "old": {
        "Data/Readme.TXT": b"Quarrytide 1.00: read me first.\n",
        "save/slot1.dat": b"the state of a saved game",
        "bin/game.dll": library,
        "maps/old_level.map": b"a level that 1.01 removes",
        "keep.txt": b"unchanged",
    },
    "new": {
        "Data/README.txt": b"Quarrytide 1.01: read me first, again.\n",
        "save/slot1.dat": b"",
        "bin/game.dll": bytes(edited),
        "music/theme.ogg": bytes(rng.randrange(256) for _ in range(20_000)),
        "keep.txt": b"unchanged",
    },
}
for tree, files in trees.items():
    for path, data in files.items():
        full = os.path.join(out, tree, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
