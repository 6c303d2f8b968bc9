#!/usr/bin/env python3
"""Writes a release matrix: editions x languages, each cell OUT/<edition>-<lang>
with its 1.00 and 1.01 trees, where no single file tells the cells apart.

    make_matrix_trees.py OUT [--languages en,fr,de] [--scale N] [--only-kib N]

The executable depends on the edition only, the localised files on the
language only; 1.01 changes files of every kind: one for everyone, one added
for everyone, the executable by edition, the localised text by language, a
file that differs in every cell but two (the English cells share theirs), a
file added for one language (French, or the second language), a file deleted
in one edition, and a file that exists in one edition only. --scale
multiplies the sizes (1: about 2 MB per cell); --only-kib sets the size of
the file only the second edition has (150 KiB times the scale).
Prints one line per cell: its name and the registry value of its language."""
import argparse
import os
import random
import shutil

LANGUAGE_IDS = {"de": "0x0407", "en": "0x0409", "es": "0x0c0a", "fr": "0x040c",
                "it": "0x0410", "ja": "0x0411", "pl": "0x0415", "ru": "0x0419"}
EDITIONS = ("censored", "uncensored")


SIX_BITS = bytes(i & 63 for i in range(256))


def blob(seed, size):
    """Compressible bytes, like game data: the same seed gives the same bytes."""
    return random.Random(seed).randbytes(size).translate(SIX_BITS)


def edited(data, seed):
    """A new version: a few bytes changed and a run inserted, as a rebuild does."""
    rng = random.Random(seed)
    out = bytearray(data)
    for _ in range(40):
        out[rng.randrange(len(out))] ^= 0x5A
    at = rng.randrange(len(out))
    out[at:at] = rng.randbytes(len(out) // 50 + 16)
    return bytes(out)


def cell_trees(edition, language, languages, scale, only_kib):
    e = EDITIONS.index(edition)
    lang = languages.index(language)
    k = 1024 * scale
    exe = blob(100 + e, 400 * k)
    text = blob(200 + lang, 120 * k)
    # The English cells of both editions share their cell file.
    cell_seed = 300 + (0 if language == "en" else 10 * (e + 1) + lang + 1)
    cell = blob(cell_seed, 60 * k)
    old = {
        "qtr.exe": exe,
        "data/common.pak": blob(1, 500 * k),
        "data/unchanged.pak": blob(2, 300 * k),
        "data/intro.bik": blob(3, 80 * k),
        "data/cell.dat": cell,
        "lang/text.dat": text,
        "lang/font.dat": blob(400 + lang, 20 * k),
    }
    if edition == "uncensored":
        old["uncut/gore.pak"] = blob(500, 1024 * only_kib if only_kib else 150 * k)
    new = dict(old)
    new["qtr.exe"] = edited(exe, 110 + e)
    new["data/common.pak"] = edited(old["data/common.pak"], 11)
    new["bundles/patch.bundle"] = blob(4, 40 * k)
    new["lang/text.dat"] = edited(text, 210 + lang)
    new["data/cell.dat"] = edited(cell, cell_seed + 1000)
    if language == ("fr" if "fr" in languages else languages[min(1, len(languages) - 1)]):
        new["lang/extra.dat"] = blob(600, 30 * k)
    if edition == "uncensored":
        del new["data/intro.bik"]
        new["uncut/gore.pak"] = edited(old["uncut/gore.pak"], 510)
    return old, new


def write_tree(root, files):
    for path, data in files.items():
        full = os.path.join(root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--languages", default="en,fr,de")
    parser.add_argument("--scale", type=int, default=1)
    parser.add_argument("--only-kib", type=int, default=0)
    args = parser.parse_args()
    languages = args.languages.split(",")
    shutil.rmtree(args.out, ignore_errors=True)
    for edition in EDITIONS:
        for language in languages:
            name = f"{edition}-{language}"
            old, new = cell_trees(edition, language, languages, args.scale, args.only_kib)
            write_tree(os.path.join(args.out, name, "1.00"), old)
            write_tree(os.path.join(args.out, name, "1.01"), new)
            print(name, LANGUAGE_IDS[language])


if __name__ == "__main__":
    main()
