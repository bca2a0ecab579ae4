#!/usr/bin/env python3
"""Writes the self-extractor's icon (stub.ico): a parcel with a zip band
down its middle and a green arrow coming out of it, at 32x32 (one image: the stub carries one icon),
32 bits per pixel with alpha, drawn from shapes so every run gives the same
file.   make_stub_icon.py OUT.ico"""
import struct
import sys

BOX = (196, 140, 74)        # cardboard
BOX_DARK = (140, 96, 46)    # its outline and flap fold
BAND = (70, 70, 78)         # the zip band
TEETH = (220, 220, 228)     # the zip's teeth
ARROW = (36, 160, 60)       # the arrow out of the box
ARROW_DARK = (20, 100, 36)


def pixel(x, y, n):
    """Colour (r, g, b, a) at (x, y), y from the top, in an n x n image."""
    s = n / 32.0  # everything is drawn on a 32-unit grid
    u, v = x / s, y / s
    # Arrow in the top right corner: a shaft and a head pointing up-right.
    if 19 <= u < 31 and 1 <= v < 13:
        du, dv = u - 19, 13 - v  # distance from the arrow's tail corner
        if abs(du - dv) < 2.2 and du < 9:
            return ARROW + (255,)
        if (u >= 24 and v < 4) or (u >= 28 and v < 8):
            if u + (13 - v) > 36:
                return ARROW_DARK + (255,)
    # The box body.
    left, right, top, bottom = 2, 25, 10, 30
    if left <= u < right and top <= v < bottom:
        edge = u < left + 1 or u >= right - 1 or v < top + 1 or v >= bottom - 1
        if edge:
            return BOX_DARK + (255,)
        if top + 1 <= v < top + 4:
            return BOX_DARK + (255,) if int(u) % 6 == 0 else BOX + (255,)
        mid = (left + right) / 2.0
        if abs(u - mid) < 2.5:
            if abs(u - mid) < 1 and int(v) % 2 == 0:
                return TEETH + (255,)
            return BAND + (255,)
        return BOX + (255,)
    return (0, 0, 0, 0)


def image(n, pixel=pixel):
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for y in range(n - 1, -1, -1):  # bottom-up rows
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            pixels += bytes((b, g, r, a))
    mask = bytearray()
    row = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):
        bits = bytearray(row)
        for x in range(n):
            if pixel(x, y, n)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def write_icon(path, pixel=pixel, sizes=(32,)):
    """Writes an .ico of one 32-bit image per size, drawn by pixel(x, y, n)."""
    images = [image(n, pixel) for n in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    write_icon(sys.argv[1])
