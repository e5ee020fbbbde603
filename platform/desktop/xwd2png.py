#!/usr/bin/env python3
"""Converts a true-colour window dump (xwd -silent) to PNG.

Used to refresh the dialog screenshots in docs/; standard library only.
Usage: xwd2png.py IN.xwd OUT.png
"""
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, version = fields[0], fields[1]
    if version != 7:
        raise ValueError("not an X11 window dump")
    width, height = fields[4], fields[5]
    byte_order, bpp, stride = fields[7], fields[11], fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if bpp not in (24, 32):
        raise ValueError("only true-colour dumps are supported")
    offset = header_size + 12 * ncolors
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    step = bpp // 8
    order = "<" if byte_order == 0 else ">"
    for y in range(height):
        row = bytearray([0])
        base = offset + y * stride
        for x in range(width):
            raw = data[base + x * step: base + x * step + step]
            value = int.from_bytes(raw, "little" if order == "<" else "big")
            for m, s in zip(masks, shifts):
                row.append((value & m) >> s)
        rows.append(bytes(row))
    return width, height, b"".join(rows)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def write_png(path, width, height, raw):
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    with open(sys.argv[1], "rb") as f:
        w, h, pixels = read_xwd(f.read())
    write_png(sys.argv[2], w, h, pixels)
