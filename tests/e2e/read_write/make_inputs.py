#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Writes the inputs and reference outputs of this case: one 4 x 3 RGB PNG per view and frame
# (in_<view>.<frame>.png) and the same pixels as binary PPM (expected_<view>.<frame>.ppm).
# Standard library only; run it again only to change the case.
import struct
import zlib

W, H = 4, 3


def pixels(view, frame):
    # Top row first, as both files store it; every pixel of every file differs.
    return [[((x * 60 + view * 20) % 256, (y * 90 + frame * 7) % 256, (x * y * 13 + view * 50 + frame) % 256)
             for x in range(W)] for y in range(H)]


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def ppm(rows):
    return b"P6\n%d %d\n255\n" % (W, H) + bytes(v for row in rows for px in row for v in px)


for view in (1, 2):
    for frame in (1, 2):
        rows = pixels(view, frame)
        with open("in_cam%d.%04d.png" % (view, frame), "wb") as f:
            f.write(png(rows))
        with open("expected_cam%d.%04d.ppm" % (view, frame), "wb") as f:
            f.write(ppm(rows))
