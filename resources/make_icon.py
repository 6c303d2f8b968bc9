#!/usr/bin/env python3
"""Writes the patcher's icon: 32x32, 32-bit, a tide of blue over quarry stone."""
import struct
import sys

SIZE = 32


def pixel(x, y):
    # Stone below, water above a wave line, a pale crest along it.
    wave = 14 + round(3 * __import__("math").sin(x / 32 * 6.283))
    if y < wave - 1:
        return (200, 140, 40, 255)   # BGRA: blue water
    if y <= wave:
        return (240, 230, 220, 255)  # crest
    shade = 110 + ((x * 7 + y * 13) % 5) * 8
    return (shade - 20, shade, shade + 10, 255)  # stone


def main(path):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bitmaps are stored bottom-up
        rows.append(b"".join(struct.pack("4B", *pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    mask = b"\0" * (SIZE * 4)  # AND mask: 32 rows of 4 bytes, all opaque
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    with open(path, "wb") as out:
        out.write(directory + image)


if __name__ == "__main__":
    main(sys.argv[1])
