#!/usr/bin/env python3
"""Draws the daemon's icon (a crosshair on a dark blue disc) and writes it as a .ico with 16, 32 and 48 px images."""
import struct, sys, math

def image(size):
    rows = []
    c = (size - 1) / 2.0
    for y in range(size):
        row = b""
        for x in range(size):
            d = math.hypot(x - c, y - c)
            r = size / 2.0
            if d > r - 0.5:
                b, g, rr, a = 0, 0, 0, 0
            elif abs(x - c) < size / 16 + 0.5 or abs(y - c) < size / 16 + 0.5 or abs(d - r * 0.55) < size / 16 + 0.3:
                b, g, rr, a = 80, 200, 255, 255   # amber crosshair
            else:
                b, g, rr, a = 110, 40, 20, 255    # dark blue disc
            row += bytes((b, g, rr, a))
        rows.append(row)
    pixels = b"".join(reversed(rows))  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask

sizes = [16, 32, 48]
images = [image(s) for s in sizes]
out = struct.pack("<HHH", 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for s, img in zip(sizes, images):
    out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(img), offset)
    offset += len(img)
out += b"".join(images)
open(sys.argv[1], "wb").write(out)
