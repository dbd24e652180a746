#!/usr/bin/env python3
"""Writes the example house's wall texture: a 64x64 brick pattern as PNG. Run once; the
result is kept in examples/."""
import struct
import sys
import zlib

W = H = 64
rows = []
for y in range(H):
    row = bytearray([0])  # filter: none
    course = y // 8
    for x in range(W):
        shifted = (x + (8 if course % 2 else 0)) % 16
        mortar = y % 8 == 7 or shifted == 15
        if mortar:
            r, g, b = 225, 218, 200
        else:
            shade = ((x // 16 + course) * 37) % 20
            r, g, b = 178 - shade, 92 - shade // 2, 70 - shade // 2
        row += bytes((r, g, b))
    rows.append(bytes(row))

def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

png = b"\x89PNG\r\n\x1a\n"
png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
png += chunk(b"IEND", b"")
open(sys.argv[1] if len(sys.argv) > 1 else "house-walls.png", "wb").write(png)
