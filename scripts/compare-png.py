#!/usr/bin/env python3
"""Compares two RGB or RGBA PNGs of the same size and depth sample by sample.

Usage: compare-png.py A.png B.png [TOLERANCE]
TOLERANCE is in 8-bit codes (default 0.5): the largest difference allowed, scaled to the
files' depth. Prints the largest difference found; exits 1 when it is over the tolerance.
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, bits, colour, _, _, interlace = header
    if colour not in (2, 6) or interlace != 0 or bits not in (8, 16):
        sys.exit(f"{path}: only 8- or 16-bit RGB or RGBA without interlacing is compared")
    bpp = (3 if colour == 2 else 4) * bits // 8
    stride = width * bpp
    raw = zlib.decompress(idat)
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    flat = b"".join(rows)
    if bits == 16:
        return (width, height, bits, colour), struct.unpack(f">{len(flat) // 2}H", flat)
    return (width, height, bits, colour), flat


def main():
    a_shape, a = read_png(sys.argv[1])
    b_shape, b = read_png(sys.argv[2])
    tolerance = float(sys.argv[3]) if len(sys.argv) > 3 else 0.5
    if a_shape != b_shape:
        sys.exit(f"sizes differ: {a_shape} and {b_shape}")
    scale = 65535 / 255 if a_shape[2] == 16 else 1
    worst = max(abs(x - y) for x, y in zip(a, b)) / scale
    print(f"largest difference {worst:.4f} 8-bit codes (allowed {tolerance})")
    sys.exit(0 if worst <= tolerance else 1)


main()
