#!/usr/bin/env python3
"""Gluing must stay linear in the number of pictures: glue folders of 500,
1000 and 2000 (and more, if asked) small pictures and print the time per
picture. Usage: bench/glue_scaling.py PATH-TO-GLUMIXER [--kind bmp|png] [COUNTS...]"""
import argparse
import os
import shutil
import struct
import subprocess
import tempfile
import time
import zlib


def bmp(w, h, seed):
    stride = (w * 3 + 3) & ~3
    rows = bytearray()
    for y in range(h):
        row = bytearray()
        for x in range(w):
            row += bytes(((x * 7 + seed) & 255, (y * 5 + seed * 3) & 255, (seed * 11) & 255))
        row += b"\0" * (stride - len(row))
        rows += row
    header = b"BM" + struct.pack("<IHHI", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 0, 0, 0, 0)
    return header + info + rows


def png(w, h, seed):
    raw = bytearray()
    for y in range(h):
        raw.append(1)
        for x in range(w):
            raw += bytes(((x * 7 + seed) & 255, (y * 5) & 255, (seed * 11) & 255, (x * y + seed) & 255))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + chunk(b"IEND", b""))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--kind", default="bmp", choices=["bmp", "png"])
    ap.add_argument("--size", type=int, default=32)
    ap.add_argument("--per-row", type=int, default=16)
    ap.add_argument("counts", nargs="*", type=int, default=[500, 1000, 2000])
    args = ap.parse_args()
    make = bmp if args.kind == "bmp" else png
    print(f"| pictures | seconds | ms per picture |")
    print(f"|---:|---:|---:|")
    for n in args.counts:
        folder = tempfile.mkdtemp(prefix="glx_scaling_")
        try:
            for i in range(n):
                with open(os.path.join(folder, f"p{i:05d}.{args.kind}"), "wb") as f:
                    f.write(make(args.size, args.size, i))
            best = None
            for _ in range(3):
                for leftover in ("patterns.xml", f"out.{args.kind}"):
                    p = os.path.join(folder, leftover)
                    if os.path.exists(p):
                        os.remove(p)
                start = time.perf_counter()
                subprocess.run([args.tool, os.path.join(folder, f"p00000.{args.kind}"), f"H{args.per_row}",
                                f"out.{args.kind}"], check=True, stdin=subprocess.DEVNULL)
                took = time.perf_counter() - start
                best = took if best is None else min(best, took)
            print(f"| {n} | {best:.3f} | {1000 * best / n:.3f} |")
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    main()
