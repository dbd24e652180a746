#!/usr/bin/env python3
"""Writes the command's 32x32 icon: a sheet of paper with a dashed fold line, as an uncompressed
RGBA TIFF. Run once; the result is kept in resources/foldra."""
import struct
import sys

W = H = 32
pixels = []
for y in range(H):
    for x in range(W):
        r, g, b, a = 0, 0, 0, 0
        inside = 4 <= x <= 27 and 3 <= y <= 28
        corner = x + (28 - y) > 50  # the folded-over top right corner
        if inside and not corner:
            r, g, b, a = 250, 248, 240, 255
            if x in (4, 27) or y in (3, 28):
                r, g, b = 60, 60, 70
            elif x == 15 and (y // 2) % 2 == 0:
                r, g, b = 200, 60, 40  # the fold
        elif inside and corner and x + (28 - y) <= 53:
            r, g, b, a = 180, 200, 230, 255
        pixels.append(bytes((r, g, b, a)))
data = b"".join(pixels)

entries = [
    (256, 3, 1, W), (257, 3, 1, H), (258, 3, 4, None), (259, 3, 1, 1), (262, 3, 1, 2),
    (273, 4, 1, None), (277, 3, 1, 4), (278, 3, 1, H), (279, 4, 1, len(data)), (284, 3, 1, 1),
    (338, 3, 1, 2),
]
header = 8
ifd_size = 2 + 12 * len(entries) + 4
bits_offset = header + ifd_size
data_offset = bits_offset + 8
out = bytearray(b"II*\x00" + struct.pack("<I", header))
out += struct.pack("<H", len(entries))
for tag, kind, count, value in entries:
    if tag == 258:
        value = bits_offset
    if tag == 273:
        value = data_offset
    if kind == 3 and count == 1:
        out += struct.pack("<HHIHH", tag, kind, count, value, 0)
    else:
        out += struct.pack("<HHII", tag, kind, count, value)
out += struct.pack("<I", 0)
out += struct.pack("<HHHH", 8, 8, 8, 8)
out += data
open(sys.argv[1] if len(sys.argv) > 1 else "quarnel_logo_32x32_g60.tif", "wb").write(bytes(out))
