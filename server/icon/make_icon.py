#!/usr/bin/env python3
"""Draws the module icon (a console window with a Python prompt) and writes it as an .ico with
32-bit images of 16, 32, 48, 64, 128 and 256 pixels (the largest PNG-compressed).

Usage: make_icon.py OUTPUT.ico [PREVIEW.png]   (Python 3 standard library only)
       make_icon.py --png SIZE OUTPUT.png       one image of SIZE pixels (the package's images)
"""
import struct
import sys
import zlib

SIZES = [16, 32, 48, 64, 128, 256]
SAMPLES = 4  # per axis, for smooth edges

BODY = (0x1E, 0x22, 0x2E)
TITLE = (0x30, 0x6B, 0xD9)
PROMPT = (0xFF, 0xD4, 0x3B)
CURSOR = (0xF2, 0xF4, 0xF8)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= half_width ** 2


def colour_at(x, y, size):
    """Colour of the topmost shape at (x, y) in unit coordinates, or None."""
    # Small sizes get bolder strokes so they stay legible.
    stroke = 0.085 if size <= 16 else 0.07 if size <= 32 else 0.06
    if not in_rounded_rect(x, y, 0.04, 0.10, 0.96, 0.90, 0.10):
        return None
    if y < 0.26:
        return TITLE
    if near_segment(x, y, 0.20, 0.40, 0.40, 0.56, stroke) or \
            near_segment(x, y, 0.40, 0.56, 0.20, 0.72, stroke):
        return PROMPT
    if 0.48 <= x <= 0.78 and 0.66 <= y <= 0.66 + 2 * stroke:
        return CURSOR
    return BODY


def render(size):
    """Rows top-down of (r, g, b, a), straight alpha."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                  (py + (sy + 0.5) / SAMPLES) / size, size)
                    if c:
                        r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
            if a:
                row.append((r // a, g // a, b // a, a * 255 // (SAMPLES * SAMPLES)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_entry(rows):
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + xor + bytes(mask)


def png(rows):
    size = len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + \
            struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) + \
        chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def main():
    if sys.argv[1] == '--png':
        with open(sys.argv[3], 'wb') as f:
            f.write(png(render(int(sys.argv[2]))))
        return
    images = {size: render(size) for size in SIZES}
    entries = [(size, png(images[size]) if size == 256 else bmp_entry(images[size]))
               for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in entries)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)
    if len(sys.argv) > 2:
        with open(sys.argv[2], 'wb') as f:
            f.write(png(images[256]))


if __name__ == '__main__':
    main()
