#!/usr/bin/env python3
"""Draws the launcher's icon (a satellite over an orbit on a blue disc) as a 16/32/48-pixel .ico."""
import math
import struct
import sys


def pixel(x, y, size):
    c = (size - 1) / 2.0
    r = math.hypot(x - c, y - c) / (size / 2.0)
    if r > 0.98:
        return (0, 0, 0, 0)
    # orbit: an ellipse ring tilted across the disc
    ex, ey = (x - c) / (size * 0.40), (y - c) / (size * 0.18)
    tx, ty = ex * 0.8 + ey * 0.6, -ex * 0.6 + ey * 0.8
    ring = abs(math.hypot(tx, ty) - 1.0)
    sat = math.hypot(x - size * 0.70, y - size * 0.30) / size
    if sat < 0.10:
        return (255, 214, 64, 255)
    if ring < 0.16:
        return (240, 248, 255, 255)
    shade = int(150 - 60 * r)
    return (20, 60 + shade // 3, shade + 80, 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(struct.pack("<BBBB", b, g, r, a)
                             for (r, g, b, a) in (pixel(x, y, size) for x in range(size))))
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\0" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1])
