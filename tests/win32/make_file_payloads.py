#!/usr/bin/env python3
"""Writes the payload resources of the file-entry tests and the .rc that
carries them: an old and a new file, the new file whole and deflated, a diff
stream from old to new plain and deflated, a deflated diff that rebuilds a
different file, a cut-off zlib stream and a small file."""
import sys
import zlib
from pathlib import Path


def lcg_bytes(seed, count):
    out = bytearray(count)
    x = seed
    for i in range(count):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def number(n):
    if 1 <= n <= 252:
        return bytes([n - 1])
    if 253 <= n <= 508:
        return bytes([252, n - 253])
    if n <= 0xFFFF:
        return bytes([253]) + n.to_bytes(2, "big")
    return bytes([254]) + n.to_bytes(4, "big")


def literals(data):
    # Doubling every escape byte is always read back as one literal 0xA7.
    return data.replace(b"\xa7", b"\xa7\xa7")


def diff(old_size, replaced, inserted, tail):
    stream = bytearray()
    stream += b"\xa7\xa3" + number(1000)
    stream += b"\xa7\xa6" + literals(replaced)
    stream += b"\xa7\xa3" + number(700000 - 1000 - len(replaced))
    stream += b"\xa7\xa5" + literals(inserted)
    stream += b"\xa7\xa3" + number(old_size - 700000)
    stream += b"\xa7\xa5" + literals(tail)
    return bytes(stream)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    old = lcg_bytes(1, (3 << 19) + 123)  # 1.5 MiB and a bit: several 1 MiB blocks
    replaced = lcg_bytes(2, 10)
    inserted = lcg_bytes(3, 5000) + b"\xa7\xa2\xa7\xa7\xa7"
    tail = lcg_bytes(4, 3000)
    new = old[:1000] + replaced + old[1010:700000] + inserted + old[700000:] + tail
    good = diff(len(old), replaced, inserted, tail)
    wrong = diff(len(old), replaced, inserted, tail[:-1] + bytes([tail[-1] ^ 1]))
    files = {
        6101: ("old.bin", old),
        6102: ("new.bin", new),
        6103: ("new.z", zlib.compress(new, 9)),
        6104: ("diff.bin", good),
        6105: ("diff.z", zlib.compress(good, 9)),
        6106: ("wrong_diff.z", zlib.compress(wrong, 9)),
        6107: ("cut.z", zlib.compress(new, 9)[:20000]),
        6108: ("small.bin", b"Quarrytide bundle\r\n"),
    }
    lines = []
    for rid, (name, data) in files.items():
        (out / name).write_bytes(data)
        lines.append('%d DATA "%s"' % (rid, (out / name).as_posix()))
    (out / "file_payloads.rc").write_text("\n".join(lines) + "\n")


main()
