#!/usr/bin/env python3
"""Writes the desktop program's default self-extractor icon (ov.ico): a
blue disc with a white ring and a small gold notch, at 32x32, drawn from
shapes so every run gives the same file.   make_ov_icon.py OUT.ico"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'sfxstub'))
from make_stub_icon import write_icon  # noqa: E402

DISC = (40, 96, 184)
RIM = (22, 58, 120)
RING = (245, 245, 250)
NOTCH = (236, 180, 40)


def pixel(x, y, n):
    s = n / 32.0
    u, v = (x + 0.5) / s - 16, (y + 0.5) / s - 16
    r = (u * u + v * v) ** 0.5
    if r >= 15:
        return (0, 0, 0, 0)
    if r >= 14:
        return RIM + (255,)
    if 6.5 <= r < 10:
        if u > 4 and abs(v) < 2:
            return NOTCH + (255,)
        return RING + (255,)
    return DISC + (255,)


if __name__ == '__main__':
    write_icon(sys.argv[1], pixel)
