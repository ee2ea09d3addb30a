#!/usr/bin/env python3
"""Draws the application icon, vantorel.png: a down arrow over a tray on a blue
rounded square, 64 by 64 pixels, anti-aliased by 4x4 supersampling.

Run it again after changing the drawing: python3 make_icon.py"""
import struct
import zlib

SIZE = 64
SAMPLES = 4


def inside_rounded_square(x, y):
    margin, radius = 3.0, 12.0
    lo, hi = margin + radius, SIZE - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    # Shaft, then a triangular head pointing down.
    if 27 <= x <= 37 and 12 <= y <= 34:
        return True
    if 34 <= y <= 46:
        half = (46 - y) * 13.0 / 12.0
        return abs(x - 32) <= half
    return False


def inside_tray(x, y):
    if 48 <= y <= 53 and 14 <= x <= 50:
        return True
    return 40 <= y <= 53 and (14 <= x <= 19 or 45 <= x <= 50)


def colour(x, y):
    if not inside_rounded_square(x, y):
        return None
    if inside_arrow(x, y) or inside_tray(x, y):
        return (255, 255, 255)
    # A gentle vertical gradient from light to deep blue.
    t = y / SIZE
    return (int(40 - 20 * t), int(140 - 60 * t), int(230 - 40 * t))


def pixel(px, py):
    r = g = b = a = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            c = colour(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
            if c is not None:
                r, g, b, a = r + c[0], g + c[1], b + c[2], a + 1
    if a == 0:
        return b"\0\0\0\0"
    return bytes((r // a, g // a, b // a, a * 255 // (SAMPLES * SAMPLES)))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


rows = b"".join(b"\0" + b"".join(pixel(x, y) for x in range(SIZE)) for y in range(SIZE))
png = (b"\x89PNG\r\n\x1a\n"
       + chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(rows, 9))
       + chunk(b"IEND", b""))
with open("vantorel.png", "wb") as out:
    out.write(png)
