#!/usr/bin/env python3
"""Writes the BMP fixtures of the raster tests.

Every valid fixture NAME.bmp comes with NAME.expect: the first line "width
height", then one line per pixel row, top row first, each pixel as RRGGBB.
Malformed files go to ../malformed/bmp/, named by what is wrong with them;
tests/raster/malformed_test.cpp lists the failure each one must raise. Run from anywhere; writes beside itself.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def file_header(total, offset, kind=b"BM"):
    return kind + struct.pack("<IHHI", total, 0, 0, offset)


def info40(w, h, bpp, compression=0, size_image=0, used=0, size=40, masks=None, xppm=2835, yppm=2835):
    """An information header of `size` bytes (40, 52, 56, 108 or 124)."""
    hdr = struct.pack("<IiiHHIIiiII", size, w, h, 1, bpp, compression, size_image, xppm, yppm, used, 0)
    if size > 40:
        m = masks or (0, 0, 0)
        extra = struct.pack("<III", *m)
        if size >= 56:
            extra += struct.pack("<I", 0)  # alpha mask
        hdr += extra
        hdr += b"\0" * (size - len(hdr))
    return hdr


def pad_row(row):
    return row + b"\0" * ((4 - len(row) % 4) % 4)


def pack_indices(indices, bpp):
    out = bytearray()
    per = 8 // bpp
    for i in range(0, len(indices), per):
        byte = 0
        for k in range(per):
            v = indices[i + k] if i + k < len(indices) else 0
            byte |= v << (8 - bpp * (k + 1))
        out.append(byte)
    return bytes(out)


def write(name, data, pixels=None):
    with open(os.path.join(HERE, name + ".bmp"), "wb") as f:
        f.write(data)
    if pixels is not None:
        h = len(pixels)
        w = len(pixels[0])
        with open(os.path.join(HERE, name + ".expect"), "w") as f:
            f.write("%d %d\n" % (w, h))
            for row in pixels:
                f.write(" ".join("%02X%02X%02X" % p for p in row) + "\n")


MALFORMED = os.path.join(HERE, "..", "malformed", "bmp")


def write_bad(name, data):
    os.makedirs(MALFORMED, exist_ok=True)
    with open(os.path.join(MALFORMED, name + ".bmp"), "wb") as f:
        f.write(data)


def table_bytes(colors, entry=4):
    out = b""
    for r, g, b in colors:
        out += bytes([b, g, r]) + (b"\0" if entry == 4 else b"")
    return out


def palette(n):
    return [((i * 37 + 11) % 256, (i * 91 + 7) % 256, (255 - i * 13) % 256) for i in range(n)]


def indexed(name, w, h, bpp, used=0, top_down=False, os2=False):
    n = used or (1 << bpp)
    pal = palette(n)
    grid = [[(x + 3 * y) % n for x in range(w)] for y in range(h)]
    rows = [pad_row(pack_indices(r, bpp)) for r in grid]
    data = b"".join(rows if top_down else reversed(rows))
    if os2:
        table = table_bytes(palette(1 << bpp) if not used else pal, 3)
        hdr = struct.pack("<IHHHH", 12, w, h, 1, bpp)
    else:
        table = table_bytes(pal)
        hdr = info40(w, -h if top_down else h, bpp, used=used)
    offset = 14 + len(hdr) + len(table)
    write(name, file_header(offset + len(data), offset) + hdr + table + data,
          [[pal[i] for i in r] for r in grid])


def colour_at(x, y):
    return ((x * 50 + 5) % 256, (y * 80 + 30) % 256, (x * y * 20 + 100) % 256)


def truecolour(name, w, h, bpp, header=40, top_down=False, masks=None, compression=0, gap=b""):
    pixels = [[colour_at(x, y) for x in range(w)] for y in range(h)]
    rows = []
    for r in pixels:
        if bpp == 24:
            raw = b"".join(bytes([b, g, rr]) for rr, g, b in r)
        else:
            raw = b"".join(bytes([b, g, rr, 0xEE]) for rr, g, b in r)  # unused byte ignored
        rows.append(pad_row(raw))
    data = b"".join(rows if top_down else reversed(rows))
    hdr = info40(w, -h if top_down else h, bpp, compression=compression, size=header, masks=masks)
    if header == 40 and compression == 3:
        hdr += struct.pack("<III", *masks)
    offset = 14 + len(hdr) + len(gap)
    write(name, file_header(offset + len(data), offset) + hdr + gap + data, pixels)


def widen(v, bits):
    out = v << (8 - bits)
    pos = 8 - bits
    while pos > 0:
        pos -= bits
        out |= (v << pos) if pos >= 0 else (v >> -pos)
    return out & 0xFF


def sixteen(name, w, h, layout, header=40):
    rb, gb, bb = layout  # bits of red, green, blue
    masks = (((1 << rb) - 1) << (gb + bb), ((1 << gb) - 1) << bb, (1 << bb) - 1)
    pixels, rows = [], []
    for y in range(h):
        prow, raw = [], b""
        for x in range(w):
            r, g, b = (x * 7 + y) % (1 << rb), (x * 3 + y * 11) % (1 << gb), (x + y * 5) % (1 << bb)
            v = (r << (gb + bb)) | (g << bb) | b
            raw += struct.pack("<H", v)
            prow.append((widen(r, rb), widen(g, gb), widen(b, bb)))
        pixels.append(prow)
        rows.append(pad_row(raw))
    data = b"".join(reversed(rows))
    bitfields = layout != (5, 5, 5)
    hdr = info40(w, h, 16, compression=3 if bitfields else 0, size=header, masks=masks if bitfields else None)
    if bitfields and header == 40:
        hdr += struct.pack("<III", *masks)
    offset = 14 + len(hdr)
    write(name, file_header(offset + len(data), offset) + hdr + data, pixels)


def rle(name, w, h, bpp, ops):
    """ops: ('run', count, value) | ('abs', [indices]) | ('eol',) | ('delta', dx, dy) | ('eob',).
    Builds the encoded data and, alongside, the picture a decoder must produce
    (rows counted from the bottom, pixels never reached stay index 0)."""
    n = 1 << bpp
    pal = palette(n)
    grid = [[0] * w for _ in range(h)]  # grid[row from bottom][x]
    x = y = 0
    out = bytearray()

    def put(v):
        nonlocal x
        if x < w and y < h:
            grid[y][x] = v
        x += 1

    for op in ops:
        if op[0] == "run":
            _, count, value = op
            out += bytes([count, value])
            for i in range(count):
                put(value if bpp == 8 else ((value >> 4) if i % 2 == 0 else (value & 15)))
        elif op[0] == "abs":
            idx = op[1]
            out += bytes([0, len(idx)])
            if bpp == 8:
                body = bytes(idx)
            else:
                body = pack_indices(idx, 4)
            if len(body) % 2:
                body += b"\0"
            out += body
            for v in idx:
                put(v)
        elif op[0] == "eol":
            out += b"\0\0"
            x, y = 0, y + 1
        elif op[0] == "delta":
            out += bytes([0, 2, op[1], op[2]])
            x += op[1]
            y += op[2]
        elif op[0] == "eob":
            out += b"\0\1"
    data = bytes(out)
    hdr = info40(w, h, bpp, compression=1 if bpp == 8 else 2, size_image=len(data))
    table = table_bytes(pal)
    offset = 14 + len(hdr) + len(table)
    write(name, file_header(offset + len(data), offset) + hdr + table + data,
          [[pal[i] for i in grid[h - 1 - r]] for r in range(h)])


def main():
    indexed("idx1_13x3", 13, 3, 1)
    indexed("idx4_5x3", 5, 3, 4)
    indexed("idx8_5x3", 5, 3, 8)
    indexed("idx8_used16", 6, 4, 8, used=16)
    indexed("idx8_topdown", 5, 3, 8, top_down=True)
    indexed("os2_idx4", 7, 2, 4, os2=True)
    indexed("os2_idx8", 3, 3, 8, os2=True)
    truecolour("rgb24_3x2", 3, 2, 24)
    truecolour("rgb24_5x3", 5, 3, 24)
    truecolour("rgb24_topdown", 5, 3, 24, top_down=True)
    truecolour("rgb24_v5_124", 4, 3, 24, header=124)
    truecolour("rgb24_gap", 3, 2, 24, gap=b"\xAB" * 12)  # pixel offset leaves a gap
    truecolour("bgrx32_40", 3, 3, 32)
    truecolour("bitfields32_40", 3, 2, 32, compression=3, masks=(0xFF0000, 0xFF00, 0xFF))
    truecolour("bitfields32_52", 3, 2, 32, header=52, compression=3, masks=(0xFF0000, 0xFF00, 0xFF))
    truecolour("bitfields32_56", 3, 2, 32, header=56, compression=3, masks=(0xFF0000, 0xFF00, 0xFF))
    truecolour("bitfields32_108", 2, 2, 32, header=108, compression=3, masks=(0xFF0000, 0xFF00, 0xFF))
    sixteen("rgb16_555", 5, 3, (5, 5, 5))
    sixteen("rgb16_565_40", 5, 3, (5, 6, 5))
    sixteen("rgb16_565_124", 3, 3, (5, 6, 5), header=124)
    sixteen("rgb16_444_40", 3, 2, (4, 4, 4))
    rle("rle8", 7, 4, 8, [("run", 3, 5), ("abs", [1, 2, 3]), ("eol",), ("delta", 2, 1), ("run", 2, 9),
                           ("eol",), ("abs", [7, 8, 9, 10, 11, 12, 13]), ("run", 4, 200), ("eob",)])
    rle("rle4", 9, 3, 4, [("run", 5, 0x1A), ("abs", [3, 4, 5]), ("eol",), ("delta", 3, 0),
                           ("abs", [6, 7, 8, 9]), ("eol",), ("run", 12, 0x2F), ("eob",)])

    # Malformed files, named by cause.
    good = open(os.path.join(HERE, "rgb24_3x2.bmp"), "rb").read()
    write_bad("type_BA", b"BA" + good[2:])
    write_bad("truncated_file_header", good[:10])
    write_bad("truncated_info_header", good[:30])
    write_bad("planes_2", good[:26] + struct.pack("<H", 2) + good[28:])
    write_bad("bpp_7", good[:28] + struct.pack("<H", 7) + good[30:])
    write_bad("compression_jpeg", good[:30] + struct.pack("<I", 4) + good[34:])
    write_bad("header_size_20", good[:14] + struct.pack("<I", 20) + good[18:])
    write_bad("negative_width", good[:18] + struct.pack("<i", -3) + good[22:])
    idx = open(os.path.join(HERE, "idx8_5x3.bmp"), "rb").read()
    write_bad("truncated_colour_table", idx[:54 + 100])
    write_bad("colours_used_huge", idx[:46] + struct.pack("<I", 0xFFFFFFF0) + idx[50:])
    hdr = info40(20000, 20000, 24)
    write_bad("oversize_20000x20000", file_header(54, 54) + hdr)
    hdr = info40(70000, 70000, 32)
    write_bad("oversize_70000x70000", file_header(54, 54) + hdr)
    # Inside the size limit, but the data could not fill 1/64 of the picture:
    # 76 bytes of rows for 268 MB, and one run and an end code for 16.7
    # million run-length pixels.
    hdr = info40(5, 16777219, 24)
    write_bad("pixels_missing_5x16777219", file_header(130, 54) + hdr + b"\x11" * 76)
    table = table_bytes(palette(256))
    hdr = info40(4096, 4096, 8, compression=1, size_image=4)
    write_bad("rle8_data_missing_4096x4096",
              file_header(14 + 40 + len(table) + 4, 14 + 40 + len(table)) + hdr + table + b"\xff\x07\x00\x01")


if __name__ == "__main__":
    main()
