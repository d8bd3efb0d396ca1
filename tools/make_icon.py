#!/usr/bin/env python3
"""Draws the program's icon, a film strip whose first frame is being mended
by a green check mark, on a 32x32 grid of 16 colours, and writes it
- for Windows as a 32x32 16-colour .ico (velmora.ico);
- for the Linux desktop as an SVG of the same grid (velmora.svg) and as PNGs
  in the icon theme's usual sizes: velmora.png (32x32), velmora-N.png for
  N = 16, 22, 24, 48, 64, 128, 256. Whole multiples of 32 repeat each pixel;
  the other sizes give each pixel the share of the grid it covers, as an SVG
  renderer does.

Usage: tools/make_icon.py [output directory]   (default: assets/)
"""

import os
import struct
import sys
import zlib

SIZE = 32

# The standard 16-colour palette, so the icon looks the same on every display.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_GREEN, NAVY, TEAL, SILVER, GRAY = 0, 2, 4, 6, 7, 8
LIME, YELLOW, BLUE, AQUA, WHITE = 10, 11, 12, 14, 15
TRANSPARENT = None


def fill(pixels, left, top, right, bottom, colour):
    """Fills the rectangle [left, right] x [top, bottom], clipped to the icon."""
    for y in range(max(top, 0), min(bottom, SIZE - 1) + 1):
        for x in range(max(left, 0), min(right, SIZE - 1) + 1):
            pixels[y][x] = colour


def draw():
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    # The strip: a black band with sprocket holes along both edges.
    fill(pixels, 0, 5, 31, 26, BLACK)
    for x in range(1, SIZE, 4):
        fill(pixels, x, 7, x + 1, 8, SILVER)
        fill(pixels, x, 23, x + 1, 24, SILVER)
    # Two frames: the first is the mended one (bright), the second still dull.
    fill(pixels, 2, 11, 14, 20, AQUA)
    fill(pixels, 4, 13, 12, 18, BLUE)
    fill(pixels, 17, 11, 29, 20, TEAL)
    fill(pixels, 19, 13, 27, 18, NAVY)
    # A yellow seam where the first frame's header was written over.
    fill(pixels, 2, 11, 2, 20, YELLOW)
    fill(pixels, 3, 11, 3, 20, YELLOW)
    # The check mark, white-rimmed so it stands out from the strip.
    check = [(19, 24), (20, 25), (21, 26), (22, 27), (23, 26), (24, 25), (25, 24), (26, 23),
             (27, 22), (28, 21), (29, 20), (30, 19)]
    for x, y in check:
        fill(pixels, x - 2, y - 2, x + 2, y + 2, WHITE)
    for x, y in check:
        fill(pixels, x - 1, y - 1, x + 1, y + 1, DARK_GREEN)
    for x, y in check:
        fill(pixels, x, y - 1, x, y, LIME)
    return pixels


def ico(pixels):
    """One 32x32 4-bit image: colours bottom-up, then the transparency mask."""
    colours = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        indices = [BLACK if p is TRANSPARENT else p for p in row]
        for x in range(0, SIZE, 2):
            colours.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for x, p in enumerate(row):
            if p is TRANSPARENT:
                bits |= 1 << (SIZE - 1 - x)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(colours) + len(mask),
                         0, 0, 16, 0)
    image = header + palette + bytes(colours) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def rgba(p):
    return (0, 0, 0, 0) if p is TRANSPARENT else PALETTE[p] + (255,)


def png_file(side, raw):
    """A PNG of side x side RGBA pixels; raw holds its rows, each led by its
    filter byte."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def png(pixels, scale):
    """The grid with every pixel repeated scale x scale times."""
    raw = bytearray()
    for row in pixels:
        line = bytearray([0])  # no filter
        for p in row:
            line += bytes(rgba(p)) * scale
        raw += bytes(line) * scale
    return png_file(SIZE * scale, raw)


def png_sized(pixels, side):
    """The grid drawn on side x side pixels: each pixel gets the colours of the
    grid cells it covers, weighted by the area covered (alpha-weighted, so
    transparent cells do not darken the edges)."""
    if side % SIZE == 0:
        return png(pixels, side // SIZE)

    def spans(index):
        """The grid cells that output pixel `index` covers, with their share."""
        start, end = index * SIZE / side, (index + 1) * SIZE / side
        cells = []
        for cell in range(int(start), min(SIZE, int(end) + 1)):
            share = min(end, cell + 1) - max(start, cell)
            if share > 1e-9:
                cells.append((cell, share))
        return cells

    raw = bytearray()
    for y in range(side):
        line = bytearray([0])
        for x in range(side):
            red = green = blue = alpha = 0.0
            for cy, wy in spans(y):
                for cx, wx in spans(x):
                    r, g, b, a = rgba(pixels[cy][cx])
                    weight = wx * wy * a / 255
                    red, green, blue, alpha = red + r * weight, green + g * weight, \
                        blue + b * weight, alpha + weight
            area = (SIZE / side) ** 2
            if alpha > 0:
                line += bytes((round(red / alpha), round(green / alpha), round(blue / alpha),
                               round(255 * alpha / area)))
            else:
                line += bytes(4)
        raw += line
    return png_file(side, raw)


def svg(pixels):
    """The grid as an SVG: one rectangle per run of equal pixels in a row."""
    rects = []
    for y, row in enumerate(pixels):
        x = 0
        while x < SIZE:
            end = x
            while end + 1 < SIZE and row[end + 1] == row[x]:
                end += 1
            if row[x] is not TRANSPARENT:
                colour = "#%02x%02x%02x" % PALETTE[row[x]]
                rects.append(f'  <rect x="{x}" y="{y}" width="{end - x + 1}" height="1" '
                             f'fill="{colour}"/>')
            x = end + 1
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            f'<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" '
            f'viewBox="0 0 {SIZE} {SIZE}" shape-rendering="crispEdges">\n'
            "  <title>Velmora</title>\n" + "\n".join(rects) + "\n</svg>\n").encode()


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "assets")
    os.makedirs(out, exist_ok=True)
    pixels = draw()
    outputs = {"velmora.ico": ico(pixels), "velmora.svg": svg(pixels),
               "velmora.png": png(pixels, 1)}
    for side in (16, 22, 24, 48, 64, 128, 256):
        outputs[f"velmora-{side}.png"] = png_sized(pixels, side)
    for name, data in outputs.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
