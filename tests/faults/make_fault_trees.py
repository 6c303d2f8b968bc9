#!/usr/bin/env python3
"""Writes the installation trees of the fault sweep into OUT: two editions
(a/ and b/, told apart by qtr.exe), each as old/ (1.00) and new/ (1.01).
Between them, every kind of entry the patcher applies:
  maps/coast/harbour.map  added in folders that do not exist yet, 1.3 MB,
                          inflated in two 1 MiB steps
  data/world.dat          updated by a diff, 2.3 MiB, so that it is read,
                          rebuilt and written in several 1 MiB steps
  data/sky.dat            updated by a whole new file of the old size (its
                          checksum is read first)
  data/music.dat          updated by a whole new file, stored uncompressed
  data/old.txt            deleted
  qtr.exe                 the key file of each edition's group, updated by
                          a diff
  data/keep.dat           unchanged
The sweep makes qtr.exe and data/old.txt read-only and leaves a stale
temporary file beside them; those are properties of an installation, not of
the trees.
    make_fault_trees.py OUT"""
import os
import random
import shutil
import sys

out = sys.argv[1]
shutil.rmtree(out, ignore_errors=True)
rng = random.Random(3030)


def noise(count):
    return rng.randbytes(count)


def text(count, word):
    line = b"".join(b"%s %06d quarry tide harbour\r\n" % (word, i) for i in range(count // 30 + 1))
    return line[:count]


world = noise(2_400_000)
new_world = world[:1_100_000] + text(150_000, b"world") + world[1_100_000:] + text(40_000, b"tail")
sky_size = 400_000
common_old = {
    "data/world.dat": world,
    "data/sky.dat": noise(sky_size),
    "data/music.dat": noise(150_000),
    "data/old.txt": b"obsolete since 1.01\r\n",
    "data/keep.dat": text(20_000, b"keep"),
}
common_new = {
    "data/world.dat": new_world,
    "data/sky.dat": text(sky_size, b"sky"),
    "data/music.dat": noise(170_000),
    "maps/coast/harbour.map": text(1_300_000, b"harbour"),
    "data/keep.dat": common_old["data/keep.dat"],
}
for edition in ("a", "b"):
    exe = noise(180_000)
    new_exe = exe[:60_000] + noise(6_000) + exe[60_000:170_000] + noise(2_000)
    for tree, files in (("old", dict(common_old, **{"qtr.exe": exe})),
                        ("new", dict(common_new, **{"qtr.exe": new_exe}))):
        for path, data in files.items():
            full = os.path.join(out, edition, tree, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
