#!/usr/bin/env python3
"""Draws the program's icon, a gear lever over an H gate: as a 16-colour .ico with a
32x32 and a 16x16 image for Windows, and as a smooth PNG or an SVG for Linux desktops.
Deterministic: the same script always writes the same bytes.

Usage: make_icon.py OUTPUT.ico | OUTPUT.svg | OUTPUT.png SIZE
"""
import struct
import sys
import zlib

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, LIGHT_GREY, DARK_GREY, RED, WHITE = 0, 7, 8, 9, 15
CLEAR = None


# The picture on a 32-unit square, bottom first: ('rect', x0, y0, x1, y1, colour) and
# ('disc', cx, cy, r, colour).
SHAPES = [
    # The H gate: three slots joined by a crossbar.
    ('rect', 6, 14, 8, 30, DARK_GREY),
    ('rect', 15, 14, 17, 30, DARK_GREY),
    ('rect', 24, 14, 26, 30, DARK_GREY),
    ('rect', 6, 21, 26, 23, DARK_GREY),
    # The lever: a shaft up from the gate and a red knob with a highlight.
    ('rect', 15, 9, 17, 22, BLACK),
    ('disc', 16, 8, 6.5, BLACK),
    ('disc', 16, 8, 5.5, RED),
    ('disc', 14, 6, 1.6, WHITE),
    ('rect', 14, 21, 19, 24, LIGHT_GREY),
]


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

    for shape in SHAPES:
        (rect if shape[0] == 'rect' else disc)(*shape[1:])
    return px


def inside(shape, x, y):
    if shape[0] == 'rect':
        return shape[1] <= x < shape[3] and shape[2] <= y < shape[4]
    dx, dy = x - shape[1], y - shape[2]
    return dx * dx + dy * dy <= shape[3] * shape[3]


def png(size):
    """An RGBA PNG, each pixel the mean of 4x4 samples, so edges are smooth."""
    n = 4
    rows = b''
    for y in range(size):
        rows += b'\0'
        for x in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    ux, uy = (x + (sx + 0.5) / n) * 32 / size, (y + (sy + 0.5) / n) * 32 / size
                    hit = [shape for shape in SHAPES if inside(shape, ux, uy)]
                    if hit:
                        cr, cg, cb = PALETTE[hit[-1][-1]]
                        r, g, b, a = r + cr, g + cg, b + cb, a + 1
            rows += bytes([r // a, g // a, b // a, 255 * a // (n * n)] if a else [0, 0, 0, 0])

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) +
            chunk(b'IEND', b''))


def svg():
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">']
    for shape in SHAPES:
        fill = '#%02x%02x%02x' % PALETTE[shape[-1]]
        if shape[0] == 'rect':
            x0, y0, x1, y1 = shape[1:5]
            parts.append(f'<rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" fill="{fill}"/>')
        else:
            parts.append(f'<circle cx="{shape[1]}" cy="{shape[2]}" r="{shape[3]}" fill="{fill}"/>')
    return ('\n'.join(parts) + '\n</svg>\n').encode()


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


def ico():
    images = [image(32), image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    return out


def main():
    path = sys.argv[1]
    data = svg() if path.endswith('.svg') else png(int(sys.argv[2])) if path.endswith('.png') else ico()
    with open(path, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
