#!/usr/bin/env python3
"""Draws the example sprite set: shapes, gradients and letters on
transparent backgrounds, 48 x 48 RGBA PNGs written with the standard
library only. Run it again to regenerate examples/sprites/."""
import math
import os
import struct
import zlib

SIZE = 48
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "sprites")


def write_png(path, pixels, w, h):
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        for x in range(w):
            raw.extend(pixels[y * w + x])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def render(coverage, color):
    """coverage(x, y) in 0..1 (supersampled 4x4 for soft edges)."""
    px = []
    for y in range(SIZE):
        for x in range(SIZE):
            c = 0.0
            for sy in range(4):
                for sx in range(4):
                    c += coverage(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
            a = round(255 * c / 16)
            r, g, b = color(x, y)
            px.append((r, g, b, a))
    return px


def shade(base):
    def color(x, y):
        t = 0.65 + 0.35 * (1 - y / SIZE)
        return tuple(min(255, int(v * t)) for v in base)
    return color


def circle(x, y):
    return 1.0 if (x - 24) ** 2 + (y - 24) ** 2 <= 20 ** 2 else 0.0


def ring(x, y):
    d = math.hypot(x - 24, y - 24)
    return 1.0 if 12 <= d <= 20 else 0.0


def diamond(x, y):
    return 1.0 if abs(x - 24) + abs(y - 24) <= 21 else 0.0


def star(x, y):
    ang = math.atan2(y - 24, x - 24)
    r = math.hypot(x - 24, y - 24)
    limit = 12 + 9 * (0.5 + 0.5 * math.cos(5 * ang + math.pi / 2))
    return 1.0 if r <= limit else 0.0


def heart(x, y):
    u = (x - 24) / 18
    v = (26 - y) / 18
    return 1.0 if (u * u + v * v - 1) ** 3 - u * u * v ** 3 <= 0 else 0.0


def gradient_square(x, y):
    return 1.0 if 4 <= x < 44 and 4 <= y < 44 else 0.0


FONT = {
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
}


def letter(ch):
    rows = FONT[ch]

    def cov(x, y):
        gx = int((x - 9) // 6)
        gy = int((y - 3) // 6)
        if 0 <= gx < 5 and 0 <= gy < 7:
            return 1.0 if rows[gy][gx] == "1" else 0.0
        return 0.0
    return cov


def main():
    os.makedirs(OUT, exist_ok=True)
    sprites = [
        ("01_circle", circle, shade((230, 70, 60))),
        ("02_ring", ring, shade((60, 140, 230))),
        ("03_diamond", diamond, shade((250, 200, 40))),
        ("04_star", star, shade((255, 170, 30))),
        ("05_heart", heart, shade((220, 40, 110))),
        ("06_gradient", gradient_square, lambda x, y: (x * 5, y * 5, 255 - x * 5)),
        ("07_G", letter("G"), shade((40, 180, 90))),
        ("08_L", letter("L"), shade((40, 180, 90))),
        ("09_U", letter("U"), shade((40, 180, 90))),
        ("10_E", letter("E"), shade((40, 180, 90))),
    ]
    for name, cov, col in sprites:
        write_png(os.path.join(OUT, name + ".png"), render(cov, col), SIZE, SIZE)
    with open(os.path.join(OUT, "patterns.xml.txt"), "w", newline="\r\n") as f:
        for name, _, _ in sprites:
            f.write(name.split("_", 1)[1] + "\n")


if __name__ == "__main__":
    main()
