#!/usr/bin/env python3
# Writes the builder's toolbox picture: a 16 x 16 bitmap with 4 bits per
# pixel (the 16-colour palette), a box with the letter T.
import struct, sys

W = H = 16
palette = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
GREY, DARK, BLUE, WHITE = 7, 8, 4, 15
rows = []
for y in range(H):  # top row first; stored bottom-up below
    row = []
    for x in range(W):
        c = GREY
        if 1 <= x <= 14 and 1 <= y <= 14:
            c = WHITE
            if x in (1, 14) or y in (1, 14):
                c = DARK
            elif 4 <= y <= 5 and 4 <= x <= 11:
                c = BLUE
            elif 6 <= y <= 12 and 7 <= x <= 8:
                c = BLUE
        row.append(c)
    rows.append(row)
pixels = b"".join(bytes((r[i] << 4) | r[i + 1] for i in range(0, W, 2)) for r in reversed(rows))
info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 0, len(pixels), 0, 0, 16, 0)
pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
offset = 14 + len(info) + len(pal)
header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
with open(sys.argv[1], "wb") as f:
    f.write(header + info + pal + pixels)
