#!/usr/bin/env python3
"""Converts an 8-bit BMP written by tessera_summary (or any 8-bit uncompressed BMP) to PNG,
so that a result can be looked at in any image viewer. Standard library only.

Levels 1 to N are dark greys in the result's own grey palette (level 7 is the grey 7, 7, 7),
so the plain picture looks black. With --levels N the values are shown with distinct
colours instead: 0 (mesh lines) black, levels 1 to N a ramp from blue through green and
yellow to red, 254 (outside the study area of the mask) light grey, 255 (background) white.

Usage: bmp_to_png.py INPUT.bmp OUTPUT.png [--levels N] [--scale K]
"""

import argparse
import struct
import sys
import zlib


def read_bmp8(path):
    """Returns (rows as lists of bytes top row first, palette as 256 (r, g, b))."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM" or len(data) < 54:
        sys.exit("%s: not a BMP file" % path)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits, compression = struct.unpack_from("<HI", data, 28)
    if bits != 8 or compression != 0:
        sys.exit("%s: only uncompressed 8-bit BMP images are converted" % path)
    palette = [(data[54 + 4 * i + 2], data[54 + 4 * i + 1], data[54 + 4 * i]) for i in range(256)]
    stride = (width + 3) // 4 * 4
    rows = [data[offset + r * stride:offset + r * stride + width] for r in range(abs(height))]
    if height > 0:  # stored bottom-up
        rows.reverse()
    return rows, palette


def level_palette(levels):
    """0 black, 1..levels a blue-green-yellow-red ramp, 254 light grey, 255 white."""
    stops = [(43, 63, 160), (40, 150, 190), (80, 180, 80), (240, 220, 60), (200, 40, 30)]
    palette = [(128, 0, 128)] * 256  # any value outside the legend shows as purple
    palette[0] = (0, 0, 0)
    for v in range(1, levels + 1):
        t = (v - 1) / max(levels - 1, 1) * (len(stops) - 1)
        k = min(int(t), len(stops) - 2)
        f = t - k
        palette[v] = tuple(round(a + (b - a) * f) for a, b in zip(stops[k], stops[k + 1]))
    palette[254] = (200, 200, 200)
    palette[255] = (255, 255, 255)
    return palette


def png_bytes(rows, palette, scale):
    width, height = len(rows[0]) * scale, len(rows) * scale
    raw = bytearray()
    for row in rows:
        line = bytearray(b"\x00")  # filter type 0
        for v in row:
            line += bytes(palette[v]) * scale
        raw += bytes(line) * scale

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--levels", type=int, default=0, help="colour levels 1..N")
    parser.add_argument("--scale", type=int, default=1, help="enlarge each pixel K times")
    args = parser.parse_args()
    rows, palette = read_bmp8(args.input)
    if args.levels > 0:
        palette = level_palette(args.levels)
    with open(args.output, "wb") as f:
        f.write(png_bytes(rows, palette, max(args.scale, 1)))


if __name__ == "__main__":
    main()
