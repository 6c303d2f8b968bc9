#!/usr/bin/env python3
"""Writes the patch of the small-files benchmark into OUTDIR: COUNT files of
about 2 KB in folders of 100 (data/zoneNN/tiles/tNNN.dat), their 1.00 and
1.01 trees (before/, after/), one pack document (5002.xml) that updates every
file, the payloads (10000.bin on, one per file) and the main manifest
(5001.xml). The payloads take turns over the three kinds a patch carries for
a small change: a deflated diff, a raw diff and a deflated whole file.
   make_small_files_patch.py OUTDIR [COUNT]"""
import random
import sys
import zlib
from pathlib import Path

FIRST_PAYLOAD = 10000


def number(n):
    """A number of the diff stream's variable-length form."""
    if 1 <= n <= 252:
        return bytes([n - 1])
    if 253 <= n <= 508:
        return bytes([252, n - 253])
    return bytes([253]) + n.to_bytes(2, "big")


def literals(data):
    return data.replace(b"\xa7", b"\xa7\xa7")


def crc(data):
    return "%08x" % (zlib.crc32(data) & 0xFFFFFFFF)


def small_file(rng, index):
    """A game data file of about 2 KB: records with text and numbers."""
    records = [b"tile %05d %08x %s\r\n" % (index, rng.getrandbits(32), rng.randbytes(12).hex().encode())
               for _ in range(rng.randint(40, 52))]
    return b"".join(records)


def changed(rng, old):
    """The new version of a file and the diff stream that makes it: one record
    rewritten in place and a few bytes appended, so its size changes."""
    at = rng.randrange(0, len(old) - 48)
    replaced = rng.randbytes(24)
    tail = b"v101 %08x\r\n" % rng.getrandbits(32)
    new = old[:at] + replaced + old[at + 24:] + tail
    stream = (b"\xa7\xa3" + number(at) + b"\xa7\xa6" + literals(replaced) +
              b"\xa7\xa3" + number(len(old) - at - 24) + b"\xa7\xa5" + literals(tail))
    return new, stream


def entry(path, old, new, stream, payload_id, kind):
    common = 'subpath="%s" crc_org="%s" size_org="%d" crc="%s" size="%d" id="%d"' % (
        path, crc(old), len(old), crc(new), len(new), payload_id)
    if kind == 0:
        packed = zlib.compress(stream, 9)
        attributes = 'diff="1" diff_size="%d" comp="1" comp_size="%d"' % (len(stream), len(packed))
    elif kind == 1:
        packed = stream
        attributes = 'diff="1" diff_size="%d" comp="0"' % len(stream)
    else:
        packed = zlib.compress(new, 9)
        attributes = 'diff="0" comp="1" comp_size="%d"' % len(packed)
    return "<file %s %s/>" % (common, attributes), packed


def main():
    out = Path(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    rng = random.Random(12)
    files = {}
    entries = []
    for i in range(count):
        path = "data/zone%02d/tiles/t%03d.dat" % (i // 100, i % 100)
        old = small_file(rng, i)
        new, stream = changed(rng, old)
        element, payload = entry(path, old, new, stream, FIRST_PAYLOAD + i, i % 3)
        entries.append(element)
        files["before/" + path] = old
        files["after/" + path] = new
        files["%d.bin" % (FIRST_PAYLOAD + i)] = payload
    files["5002.xml"] = ("<patch><updated>%s</updated></patch>\n" % "\n".join(entries)).encode()
    files["5001.xml"] = ('<?xml version="1.0" encoding="UTF-8"?>\n<patch>\n'
                         '<version from="1.00" to="1.01"/>\n'
                         '<reg_path key="SOFTWARE\\QtrSmallFiles" value="InstallDir"/>\n'
                         '<reg_version key="SOFTWARE\\QtrSmallFiles" value="Version"/>\n'
                         '<reg_version2 key="SOFTWARE\\QtrSmallFiles" value="DisplayVersion"/>\n'
                         '<reg_language key="SOFTWARE\\QtrSmallFiles" value="Lang"/>\n'
                         '<group required_space="%d"><pack root="" id="5002"/></group>\n'
                         '</patch>\n' % (count * 4096)).encode()
    for name, data in files.items():
        (out / name).parent.mkdir(parents=True, exist_ok=True)
        (out / name).write_bytes(data)


main()
