#!/usr/bin/env python3
"""Draws the program icon and writes src/app/resources/app.ico.

The artwork is a rounded square with a teal-to-deep-blue gradient carrying white level bars,
the picture of a live audio signal. Nine images, 32-bit with alpha: 16 to 48 px as DIB
entries (what every Windows version reads), 256 px as PNG.

Shapes are drawn with signed distance functions: a pixel's coverage is its centre's distance
to the edge, clamped to one pixel, which gives clean antialiasing. Below 64 px the bars use a
hand-fitted layout whose edges fall on whole pixels, so the small sizes stay sharp instead
of smeared; the tray shows the 16 to 24 px images.

Python 3 standard library only. Only + - * / and sqrt are used on floats (all exactly
rounded), so the pixels are the same on every machine and every run. The PNG's deflate
stream comes from the zlib that Python links; another zlib build may pack the same pixels
into other bytes, so --check compares the PNG's decoded data, not its compressed form.

    make_icon.py            write the icon (default: src/app/resources/app.ico)
    make_icon.py OUT.ico    write it elsewhere
    make_icon.py --check    exit 1 when the checked-in icon differs from what this draws
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 128, 256)
PNG_FROM = 256  # images this large or larger are stored as PNG

TOP = (18, 150, 168)     # teal at the top edge
BOTTOM = (12, 62, 128)   # deep blue at the bottom edge
GLYPH = (255, 255, 255)

# Bar heights relative to the tallest bar: a symmetric swell, loudest in the middle.
BAR_PROFILE_5 = (0.38, 0.70, 1.0, 0.70, 0.38)

# Pixel-fitted bar layouts for the small sizes:
# size -> (bar width, gap, bar heights). Widths and heights are even so that the glyph sits
# exactly on the centre line of an even-sized image. 16 px has room for three bars only.
SMALL_LAYOUTS = {
    16: (2, 2, (6, 10, 6)),
    20: (2, 1, (4, 8, 12, 8, 4)),
    24: (2, 2, (6, 10, 14, 10, 6)),
    32: (2, 3, (8, 12, 18, 12, 8)),
    40: (4, 2, (8, 16, 22, 16, 8)),
    48: (4, 3, (10, 18, 26, 18, 10)),
}


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def rounded_rect_distance(px, py, x0, y0, x1, y1, r):
    """Signed distance (negative inside) from (px, py) to a rounded rectangle."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    qx = abs(px - cx) - ((x1 - x0) / 2 - r)
    qy = abs(py - cy) - ((y1 - y0) / 2 - r)
    ox, oy = max(qx, 0.0), max(qy, 0.0)
    return math.sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - r


def coverage(d):
    return clamp01(0.5 - d)


def tile_geometry(size):
    """The background tile: (x0, y0, x1, y1, corner radius)."""
    margin = int(size * 0.04)  # 0 up to 24 px, so the tray icon uses every pixel
    extent = size - 2 * margin
    return (margin, margin, size - margin, size - margin, extent * 0.2)


def bar_rects(size):
    """The level bars as (x0, y0, x1, y1) rectangles, ends rounded by half the width."""
    if size in SMALL_LAYOUTS:
        width, gap, heights = SMALL_LAYOUTS[size]
    else:
        width, gap = size * 0.085, size * 0.05
        tallest = size * 0.54
        heights = tuple(tallest * f for f in BAR_PROFILE_5)
    total = len(heights) * width + (len(heights) - 1) * gap
    x = (size - total) / 2
    rects = []
    for h in heights:
        y0 = (size - h) / 2
        rects.append((x, y0, x + width, y0 + h))
        x += width + gap
    return rects, width / 2


def render(size):
    """Returns the image as rows of (r, g, b, a) tuples, straight (not premultiplied) alpha."""
    tx0, ty0, tx1, ty1, tr = tile_geometry(size)
    bars, bar_radius = bar_rects(size)
    rows = []
    for y in range(size):
        py = y + 0.5
        t = clamp01((py - ty0) / (ty1 - ty0))
        bg = tuple(TOP[i] + (BOTTOM[i] - TOP[i]) * t for i in range(3))
        row = []
        for x in range(size):
            px = x + 0.5
            tile = coverage(rounded_rect_distance(px, py, tx0, ty0, tx1, ty1, tr))
            glyph = 0.0
            for (bx0, by0, bx1, by1) in bars:
                glyph = max(glyph, coverage(
                    rounded_rect_distance(px, py, bx0, by0, bx1, by1, bar_radius)))
            # The bars lie inside the tile: composite white over the tile colour.
            glyph = min(glyph, tile)
            alpha = tile
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            colour = [(GLYPH[i] * glyph + bg[i] * (tile - glyph)) / alpha for i in range(3)]
            row.append(tuple(int(c + 0.5) for c in colour) + (int(alpha * 255 + 0.5),))
        rows.append(row)
    return rows


def dib_entry(rows):
    """A 32-bit icon DIB: header with doubled height, BGRA rows bottom-up, then the AND mask.

    Windows versions that honour alpha ignore the mask; the rest draw the pixels the mask
    leaves opaque, so it marks the pixels that are at least half transparent."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for (r, g, b, a) in row:
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data
            + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def png_entry(rows):
    """An RGBA PNG; every row uses the Paeth filter, which suits the smooth gradient."""
    size = len(rows)
    raw = bytearray()
    previous = bytes(size * 4)
    for row in rows:
        line = bytes(v for pixel in row for v in pixel)
        raw.append(4)
        for i, v in enumerate(line):
            left = line[i - 4] if i >= 4 else 0
            upper_left = previous[i - 4] if i >= 4 else 0
            raw.append((v - paeth(left, previous[i], upper_left)) & 0xFF)
        previous = line
    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', ihdr)
            + png_chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + png_chunk(b'IEND', b''))


def build_icon():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, png_entry(rows) if size >= PNG_FROM else dib_entry(rows)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256 in the directory
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def comparable(icon):
    """The icon with each PNG image's compressed data replaced by its decompressed rows."""
    count = struct.unpack_from('<H', icon, 4)[0]
    parts = [icon[:6]]
    for i in range(count):
        entry = 6 + 16 * i
        length, offset = struct.unpack_from('<II', icon, entry + 8)
        parts.append(icon[entry:entry + 8])  # sizes, planes and depth; not where data lies
        data = icon[offset:offset + length]
        if data.startswith(b'\x89PNG'):
            pos, chunks, idat = 8, [], b''
            while pos < len(data):
                size, kind = struct.unpack_from('>I4s', data, pos)
                body = data[pos + 8:pos + 8 + size]
                if kind == b'IDAT':
                    idat += body
                else:
                    chunks.append(kind + body)
                pos += 12 + size
            data = b''.join(chunks) + zlib.decompress(idat)
        parts.append(data)
    return parts


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.normpath(os.path.join(here, '..', '..', 'src', 'app', 'resources',
                                            'app.ico'))
    icon = build_icon()
    if argv[1:2] == ['--check']:
        with open(default, 'rb') as f:
            if comparable(f.read()) != comparable(icon):
                print(f'{default} differs from what {os.path.basename(__file__)} draws; '
                      'run it to regenerate', file=sys.stderr)
                return 1
        return 0
    path = argv[1] if len(argv) > 1 else default
    with open(path, 'wb') as f:
        f.write(icon)
    print(f'wrote {path} ({len(icon)} bytes, {len(SIZES)} images)')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
