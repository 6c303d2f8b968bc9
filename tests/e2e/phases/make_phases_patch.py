#!/usr/bin/env python3
"""Writes the patch of the patch-phase scenarios into OUTDIR: a 1.00 and a
1.01 installation tree (before/, after/), an executable of an unknown variant,
the pack documents and payloads, and one main manifest per scenario
(main_<name>.xml). In the order of the file plan: data/map.dat (updated by a
deflated diff), bundles/patch.bundle (added, deflated) and data/old.txt
(deleted) for everyone; then, in a group keyed by the CRC-32 of qtr.exe,
qtr.exe (updated by a deflated diff) and data/readme.txt (updated by a whole
new file)."""
import random
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
    return data.replace(b"\xa7", b"\xa7\xa7")


def diffed(seed, size):
    """An old file, a new one made of changed, moved and inserted bytes, and
    the diff stream from one to the other."""
    old = lcg_bytes(seed, size)
    replaced, inserted, tail = lcg_bytes(seed + 1, 16), lcg_bytes(seed + 2, 4000), lcg_bytes(seed + 3, 2500)
    half = size // 2
    new = old[:5000] + replaced + old[5016:half] + inserted + old[half:] + tail
    stream = (b"\xa7\xa3" + number(5000) + b"\xa7\xa6" + literals(replaced) +
              b"\xa7\xa3" + number(half - 5016) + b"\xa7\xa5" + literals(inserted) +
              b"\xa7\xa3" + number(size - half) + b"\xa7\xa5" + literals(tail))
    return old, new, stream


def crc(data):
    return "%08x" % (zlib.crc32(data) & 0xFFFFFFFF)


def big_patch(header):
    """A patch of several files of a few MB each, to be interrupted at chosen
    points (main_big.xml, one group for everyone). In the order of the file
    plan: data/world.dat (updated by a deflated diff), maps/coast/harbour.map
    (added in new folders, deflated), data/old.txt (deleted), data/sky.dat
    (updated by a deflated whole file of its old size, so that its CRC is
    read first) and data/terrain.dat (updated by a plain diff)."""
    rng = random.Random(2026)
    world = rng.randbytes(3 << 20)
    inserted = rng.randbytes(1 << 20)
    half = len(world) // 2
    new_world = world[:half] + inserted + world[half:]
    world_diff = (b"\xa7\xa3" + number(half) + b"\xa7\xa5" + literals(inserted) +
                  b"\xa7\xa3" + number(len(world) - half))
    sky = bytes(range(256)) * (8 << 10)
    new_sky = rng.randbytes(2 << 20)
    harbour = rng.randbytes(3 << 19)
    terrain = rng.randbytes(2 << 20)
    tail = rng.randbytes(1 << 19)
    new_terrain = terrain + tail
    terrain_diff = b"\xa7\xa3" + number(len(terrain)) + b"\xa7\xa5" + literals(tail)
    packed_world_diff = zlib.compress(world_diff, 1)
    packed_sky = zlib.compress(new_sky, 1)
    packed_harbour = zlib.compress(harbour, 1)
    old_txt = b"obsolete\r\n"

    def updated(subpath, old, new, rid, diff=None, packed=None):
        text = ('<file subpath="%s" crc_org="%s" size_org="%d" crc="%s" size="%d" id="%d" diff="%d" '
                % (subpath, crc(old), len(old), crc(new), len(new), rid, diff is not None))
        if diff is not None:
            text += 'diff_size="%d" ' % len(diff)
        if packed is not None:
            return text + 'comp="1" comp_size="%d"/>' % len(packed)
        return text + 'comp="0"/>'

    world_entry = updated("data/world.dat", world, new_world, 5021, world_diff, packed_world_diff)
    sky_entry = updated("data/sky.dat", sky, new_sky, 5022, packed=packed_sky)
    terrain_entry = updated("data/terrain.dat", terrain, new_terrain, 5024, terrain_diff)
    harbour_entry = ('<file subpath="maps/coast/harbour.map" crc="%s" size="%d" id="5023" comp="1" '
                     'comp_size="%d"/>' % (crc(harbour), len(harbour), len(packed_harbour)))
    packs = "".join('<pack root="" id="%d"/>' % p for p in (5020, 5025, 5026))
    return {
        "big/before/data/world.dat": world, "big/before/data/sky.dat": sky,
        "big/before/data/terrain.dat": terrain, "big/before/data/old.txt": old_txt,
        "big/after/data/world.dat": new_world, "big/after/data/sky.dat": new_sky,
        "big/after/data/terrain.dat": new_terrain, "big/after/maps/coast/harbour.map": harbour,
        "5020.xml": ('<patch><updated>%s</updated></patch>' % world_entry).encode(),
        "5025.xml": ('<patch><added>%s</added><deleted><file subpath="data/old.txt"/></deleted></patch>'
                     % harbour_entry).encode(),
        "5026.xml": ('<patch><updated>%s</updated></patch>' % (sky_entry + terrain_entry)).encode(),
        "5021.bin": packed_world_diff, "5022.bin": packed_sky, "5023.bin": packed_harbour,
        "5024.bin": terrain_diff,
        "main_big.xml": (header + '<group required_space="15000000">%s</group>\n</patch>\n' % packs).encode(),
    }


def main():
    out = Path(sys.argv[1])
    for sub in ("before/data", "after/data", "after/bundles"):
        (out / sub).mkdir(parents=True, exist_ok=True)

    old_exe, new_exe, diff = diffed(11, 300000)
    old_map, new_map, map_diff = diffed(21, 120000)
    old_readme = b"Quarrytide 1.00\r\n" * 40
    new_readme = b"Quarrytide 1.01: the quarry floods at high tide.\r\n" * 30
    bundle = b"".join(b"bundle record %05d\r\n" % i for i in range(3000))
    old_txt = b"obsolete\r\n"

    files = {
        "before/qtr.exe": old_exe, "before/data/readme.txt": old_readme, "before/data/old.txt": old_txt,
        "before/data/map.dat": old_map,
        "after/qtr.exe": new_exe, "after/data/readme.txt": new_readme, "after/bundles/patch.bundle": bundle,
        "after/data/map.dat": new_map,
        "other_qtr.exe": lcg_bytes(99, 300000),
    }
    packed_bundle = zlib.compress(bundle, 9)
    packed_diff = zlib.compress(diff, 9)
    files["5003.bin"] = packed_bundle
    files["5005.bin"] = packed_diff
    files["5008.bin"] = new_readme
    packed_map_diff = zlib.compress(map_diff, 9)
    files["5014.bin"] = packed_map_diff

    added = ('<file subpath="/bundles/patch.bundle" crc="%s" size="%d" id="5003" comp="1" comp_size="%d"/>'
             % (crc(bundle), len(bundle), len(packed_bundle)))
    readme = ('<file subpath="data\\readme.txt" crc_org="%s" size_org="%d" crc="%s" size="%d" id="5008" '
              'diff="0" comp="0"/>' % (crc(old_readme), len(old_readme), crc(new_readme), len(new_readme)))
    deleted = '<file subpath="data/old.txt"/>'
    exe = ('<file subpath="/qtr.exe" crc_org="%s" size_org="%d" crc="%s" size="%d" id="5005" diff="1" '
           'diff_size="%d" comp="1" comp_size="%d"/>'
           % (crc(old_exe), len(old_exe), crc(new_exe), len(new_exe), len(diff), len(packed_diff)))

    map_entry = ('<file subpath="data/map.dat" crc_org="%s" size_org="%d" crc="%s" size="%d" id="5014" '
                 'diff="1" diff_size="%d" comp="1" comp_size="%d"/>'
                 % (crc(old_map), len(old_map), crc(new_map), len(new_map), len(map_diff), len(packed_map_diff)))

    def pack(a="", u="", d=""):
        return ('<?xml version="1.0"?>\n<patch><added>%s</added><updated>%s</updated><deleted>%s</deleted>'
                '</patch>\n' % (a, u, d)).encode()

    files["5013.xml"] = pack(u=map_entry)
    files["5002.xml"] = pack(added, d=deleted)
    files["5004.xml"] = pack(u=exe + readme)
    files["5010.xml"] = b"<packet><added/></packet>"
    files["5011.xml"] = pack(added.replace('crc="%s" ' % crc(bundle), ""))
    files["5012.xml"] = pack(added.replace('id="5003"', 'id="5099"'))

    header = ('<?xml version="1.0" encoding="UTF-8"?>\n<patch>\n'
              '<version from="1.00" to="1.01"/>\n'
              '<reg_path key="SOFTWARE\\QtrPhases" value="InstallDir"/>\n'
              '<reg_version key="SOFTWARE\\QtrPhases" value="Version"/>\n'
              '<reg_version2 key="SOFTWARE\\QtrPhases\\Uninstall" value="DisplayVersion"/>\n'
              '<reg_language key="SOFTWARE\\QtrPhases" value="Lang"/>\n')

    def common(space="4000", packs=(5013, 5002)):
        return ('<group required_space="%s">%s</group>\n'
                % (space, "".join('<pack root="" id="%d"/>' % p for p in packs)))

    variant = ('<group name="A" filename="qtr.exe" crc="%s" crc2="%s" required_space="310000">'
               '<pack root="" id="5004"/></group>\n' % (crc(old_exe), crc(new_exe)))
    # Never matches; its pack is not carried, so reading it would fail.
    other = ('<group name="B" filename="/qtr.exe" crc="deadbeef" crc2="feedface" required_space="1">'
             '<pack root="" id="5006"/></group>\n')
    manifests = {
        "good": common() + variant + other,
        "no_space": common("9000000000000000000") + variant,
        "negative_space": common("-400000") + variant,
        "empty_plan": other,
        "bad_pack": common(packs=[5010]),
        "bad_file": common(packs=[5011]),
        "no_payload": common(packs=[5012]),
        "no_crc2": '<group name="A" filename="qtr.exe" crc="%s" required_space="1"/>\n' % crc(old_exe),
    }
    for name, groups in manifests.items():
        files["main_%s.xml" % name] = (header + groups + "</patch>\n").encode()

    files.update(big_patch(header))
    for name, data in files.items():
        (out / name).parent.mkdir(parents=True, exist_ok=True)
        (out / name).write_bytes(data)


main()
