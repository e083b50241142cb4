#!/usr/bin/env python3
"""Draws the program's icon, a gear lever over an H gate, as a 16-colour .ico with a
32x32 and a 16x16 image. Deterministic: the same script always writes the same bytes.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, LIGHT_GREY, DARK_GREY, RED, WHITE = 0, 7, 8, 9, 15
CLEAR = None


def draw(size):
    """Returns rows (top first) of palette indices or CLEAR."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    def disc(cx, cy, r, colour):
        for y in range(size):
            for x in range(size):
                dx, dy = (x + 0.5) / s - cx, (y + 0.5) / s - cy
                if dx * dx + dy * dy <= r * r:
                    px[y][x] = colour

    # The H gate: three slots joined by a crossbar.
    for x in (6, 15, 24):
        rect(x, 14, x + 2, 30, DARK_GREY)
    rect(6, 21, 26, 23, DARK_GREY)
    # The lever: a shaft up from the gate and a red knob with a highlight.
    rect(15, 9, 17, 22, BLACK)
    disc(16, 8, 6.5, BLACK)
    disc(16, 8, 5.5, RED)
    disc(14, 6, 1.6, WHITE)
    rect(14, 21, 19, 24, LIGHT_GREY)
    return px


def image(size):
    rows = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor = b''
    and_mask = b''
    for row in reversed(rows):  # bitmaps are stored bottom row first
        nibbles = [0 if c is CLEAR else c for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b'\0' * (-len(line) % 4)
        bits = 0
        mask = b''
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is CLEAR else 0)
            if i % 8 == 7:
                mask += bytes([bits])
                bits = 0
        and_mask += mask + b'\0' * (-len(mask) % 4)
    return header + palette + xor + and_mask


def main():
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
