#!/usr/bin/env python3
"""Draws the launcher icon glumixer.png: four pictures glued into a 2 x 2
sheet, on a transparent background. Standard library only.
Usage: make_icon.py OUT.png [SIZE]
"""
import struct
import sys
import zlib

TILES = [(0xE0, 0x4A, 0x3C), (0x3C, 0x9A, 0xE0), (0x4C, 0xB0, 0x50), (0xF0, 0xB4, 0x28)]


def pixel(x, y, size):
    margin = size // 16
    gap = size // 16
    cell = (size - 2 * margin - gap) // 2
    radius = cell // 6
    for i, colour in enumerate(TILES):
        left = margin + (i % 2) * (cell + gap)
        top = margin + (i // 2) * (cell + gap)
        if left <= x < left + cell and top <= y < top + cell:
            # Rounded corners: outside the corner circle is transparent.
            cx = min(max(x, left + radius), left + cell - 1 - radius)
            cy = min(max(y, top + radius), top + cell - 1 - radius)
            if (x - cx) ** 2 + (y - cy) ** 2 > radius * radius:
                return (0, 0, 0, 0)
            # A light frame like a picture's border.
            edge = min(x - left, y - top, left + cell - 1 - x, top + cell - 1 - y)
            if edge < max(1, size // 32):
                return tuple(min(255, c + 60) for c in colour) + (255,)
            return colour + (255,)
    return (0, 0, 0, 0)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def main():
    out = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 64
    raw = b"".join(b"\x00" + b"".join(bytes(pixel(x, y, size)) for x in range(size)) for y in range(size))
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(out, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    main()
