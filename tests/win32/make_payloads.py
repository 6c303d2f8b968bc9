#!/usr/bin/env python3
"""Writes the payloads of the payload tests: each payload as it is carried in
the test program's resources, the plain bytes it must give, and an .rc file
naming the payloads under their resource ids."""
import random
import sys
import zlib
from pathlib import Path

MIB = 1 << 20
out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
rng = random.Random(2026)


def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n)) if n < 4096 else rng.randbytes(n)


def stream_of_length(length):
    """Incompressible plain bytes whose zlib stream is exactly `length` bytes."""
    size = length - 64
    while True:
        plain = noise(size)
        packed = zlib.compress(plain, 9)
        if len(packed) == length:
            return plain, packed
        size += length - len(packed)


payloads = {}
text = b"".join(b"line %06d of the sample text\r\n" % i for i in range(120000))
payloads[6001] = ("plain", text[: 3 * MIB + 17], text[: 3 * MIB + 17])
plain, packed = stream_of_length(2 * MIB)
payloads[6002] = ("ends_at_chunk", packed, plain)
exact = (text * 2)[: 3 * MIB]
payloads[6003] = ("exact_output", zlib.compress(exact, 6), exact)
small = text[:200000]
good = bytearray(zlib.compress(small, 6))
good[-1] ^= 0x01
payloads[6004] = ("wrong_adler", bytes(good), b"")
raw = zlib.compressobj(6, zlib.DEFLATED, -15)
payloads[6005] = ("raw_deflate", raw.compress(small) + raw.flush(), b"")
gz = zlib.compressobj(6, zlib.DEFLATED, 31)
payloads[6006] = ("gzip", gz.compress(small) + gz.flush(), b"")
payloads[6007] = ("truncated", zlib.compress(small, 6)[:-100], b"")
# A stream followed by bytes that are no part of it.
payloads[6008] = ("trailing_bytes", zlib.compress(small, 6) + b"garbage after the stream", small)

rc = []
for rid, (name, carried, expected) in payloads.items():
    (out / f"{name}.payload").write_bytes(carried)
    (out / f"{name}.expected").write_bytes(expected)
    rc.append(f'{rid} DATA "{(out / (name + ".payload")).as_posix()}"')
(out / "payloads.rc").write_text("LANGUAGE 9, 1\n" + "\n".join(rc) + "\n")
