#!/usr/bin/python3
"""Draws the programs' icons and writes them as .ico files into resources/.

Usage: tools/make_icons.py [output directory]   (default: resources/ of the tree)

The pictures are described as shapes with signed distance functions and
rasterised here with the standard library only, so the files can be made
again on any machine. The output is deterministic: the same script writes
the same bytes. The .ico files are checked in; run this after changing a
design and commit the result.

Files written:
  installer.ico        keyboard and mouse with a download arrow; eight images
                       (32, 16 px at 4 bits; 48, 32, 16 at 8 bits; 48, 32, 16
                       at 32 bits), both icon groups of the installer
  daemon.ico           stopwatch; 256 (PNG), 48, 32, 24, 16 px at 32 bits,
                       the daemon's class icon
  daemon_small.ico     the stopwatch in the eight-image set, the daemon's
                       small class icon
"""

import math
import os
import struct
import sys
import zlib

# ---------------------------------------------------------------------------
# Shapes: each is a function (x, y) -> signed distance in icon units (the
# icon spans 0..1 in both directions, y downwards); negative inside.


def Circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def RoundRect(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hw, hh = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def Distance(x, y):
        qx, qy = abs(x - cx) - hw, abs(y - cy) - hh
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return Distance


def Capsule(ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def Distance(x, y):
        t = ((x - ax) * dx + (y - ay) * dy) / length2 if length2 else 0.0
        t = min(max(t, 0.0), 1.0)
        return math.hypot(x - ax - t * dx, y - ay - t * dy) - r
    return Distance


def ConvexPolygon(points):
    # Maximum of the edge half-plane distances: exact inside and along the
    # edges, slightly rounded past the corners, which antialiasing hides.
    edges = []
    n = len(points)
    area = sum(points[i][0] * points[(i + 1) % n][1] - points[(i + 1) % n][0] * points[i][1] for i in range(n))
    sign = 1.0 if area > 0 else -1.0
    for i in range(n):
        (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
        length = math.hypot(bx - ax, by - ay)
        nx, ny = sign * (by - ay) / length, -sign * (bx - ax) / length
        edges.append((ax, ay, nx, ny))
    return lambda x, y: max((x - ax) * nx + (y - ay) * ny for ax, ay, nx, ny in edges)


def Inset(shape, amount):
    return lambda x, y: shape(x, y) + amount


def Intersect(a, b):
    return lambda x, y: max(a(x, y), b(x, y))


# ---------------------------------------------------------------------------
# Designs: a design is a function (size) -> list of layers (shape, rgb),
# painted in order. Sizes get their own detail so that the small images
# stay legible rather than being shrunk copies of the large one.

SLATE = (0x33, 0x33, 0x66)
SLATE_EDGE = (0x00, 0x00, 0x33)
KEY = (0xFF, 0xFF, 0xFF)
MOUSE = (0xCC, 0xCC, 0xCC)
MOUSE_EDGE = (0x33, 0x33, 0x33)
GREEN = (0x00, 0x99, 0x33)
GREEN_EDGE = (0x00, 0x66, 0x00)
BLUE = (0x00, 0x66, 0xCC)
BLUE_EDGE = (0x00, 0x33, 0x99)
FACE = (0xFF, 0xFF, 0xFF)
HAND = (0x33, 0x33, 0x33)
RED = (0xCC, 0x00, 0x00)


def Px(size, pixels):
    """A length of the given number of pixels at this size, in icon units."""
    return pixels / size


def InstallerDesign(size):
    edge = Px(size, max(1.0, size / 32))
    layers = []

    body = RoundRect(0.03, 0.36, 0.80, 0.82, 0.07)
    layers.append((body, SLATE_EDGE))
    layers.append((Inset(body, edge), SLATE))

    # Key caps: a grid and a space bar, fewer and bigger keys when small.
    columns, rows = (5, 3) if size >= 32 else (3, 2)
    left, right, top, bottom = 0.09, 0.74, 0.43, 0.66
    gap = max(Px(size, 1.0), 0.03)
    keyWidth = (right - left - gap * (columns - 1)) / columns
    keyHeight = (bottom - top - gap * (rows - 1)) / rows
    for row in range(rows):
        for column in range(columns):
            x0 = left + column * (keyWidth + gap)
            y0 = top + row * (keyHeight + gap)
            layers.append((RoundRect(x0, y0, x0 + keyWidth, y0 + keyHeight, min(keyWidth, keyHeight) * 0.2), KEY))
    layers.append((RoundRect(0.22, bottom + gap, 0.56, bottom + gap + keyHeight * 0.8, keyHeight * 0.2), KEY))

    # Mouse, resting on the keyboard's right end.
    mouse = RoundRect(0.62, 0.46, 0.97, 0.97, 0.16)
    layers.append((mouse, MOUSE_EDGE))
    layers.append((Inset(mouse, edge), MOUSE))
    layers.append((Intersect(Capsule(0.795, 0.46, 0.795, 0.66, edge / 2), mouse), MOUSE_EDGE))
    layers.append((Intersect(Capsule(0.60, 0.66, 0.99, 0.66, edge / 2), mouse), MOUSE_EDGE))

    # Download arrow into the keyboard.
    shaft = RoundRect(0.33, 0.02, 0.49, 0.24, 0.015)
    head = ConvexPolygon([(0.62, 0.20), (0.41, 0.42), (0.20, 0.20)])
    whole = lambda x, y: min(shaft(x, y), head(x, y))
    layers.append((whole, GREEN_EDGE))
    layers.append((Inset(whole, edge), GREEN))
    return layers


def DaemonDesign(size):
    edge = Px(size, max(1.0, size / 32))
    cx, cy, r = 0.5, 0.56, 0.41
    layers = []

    # Crown and side button behind the case.
    layers.append((RoundRect(0.40, 0.03, 0.60, 0.12, 0.03), BLUE_EDGE))
    layers.append((RoundRect(0.45, 0.08, 0.55, 0.18, 0.0), BLUE_EDGE))
    if size >= 24:
        layers.append((Capsule(0.77, 0.24, 0.84, 0.16, 0.045), BLUE_EDGE))

    case = Circle(cx, cy, r)
    ring = max(Px(size, 2.0), 0.08) if size >= 24 else Px(size, 1.5)
    layers.append((case, BLUE_EDGE))
    layers.append((Inset(case, edge), BLUE))
    layers.append((Inset(case, ring), FACE))

    # Hour marks: twelve on large images, four on middle ones, none on 16.
    marks = 12 if size >= 48 else (4 if size >= 24 else 0)
    inner = r - ring - (0.10 if marks == 12 else 0.08)
    for i in range(marks):
        angle = 2 * math.pi * i / marks
        s, c = math.sin(angle), math.cos(angle)
        long = (i % 3 == 0)
        r0 = inner if long or marks == 4 else inner + 0.04
        r1 = r - ring - 0.03
        width = Px(size, 1.0) if size < 48 else (0.025 if long else 0.015)
        layers.append((Capsule(cx + s * r0, cy - c * r0, cx + s * r1, cy - c * r1, width / 2), HAND))

    # Hands: one at twelve, a red one at four; a hub over both.
    hand = max(Px(size, 1.5), 0.05)
    layers.append((Capsule(cx, cy, cx, cy - (r - ring) * 0.75, hand / 2), HAND))
    angle = 2 * math.pi * 4 / 12
    reach = (r - ring) * 0.80
    layers.append((Capsule(cx, cy, cx + math.sin(angle) * reach, cy - math.cos(angle) * reach, max(Px(size, 1.0), 0.025) / 2), RED))
    layers.append((Circle(cx, cy, max(Px(size, 1.2), 0.05)), HAND))
    return layers


# ---------------------------------------------------------------------------
# Rasterising


def Render(layers, size, smooth=True, remap=None):
    """Returns rows of (r, g, b, a) with straight alpha, a in 0..255.

    Coverage comes from the distance at the pixel centre, which is enough
    for antialiasing these smooth shapes. With smooth=False every layer has
    hard edges, for the palette images; remap replaces design colours
    whose nearest palette entry would be the wrong hue.
    """
    remap = remap or {}
    rows = []
    for j in range(size):
        row = []
        y = (j + 0.5) / size
        for i in range(size):
            x = (i + 0.5) / size
            r = g = b = a = 0.0
            for shape, color in layers:
                color = remap.get(color, color)
                coverage = 0.5 - shape(x, y) * size
                if coverage <= 0.0:
                    continue
                coverage = min(coverage, 1.0)
                if not smooth:
                    coverage = 1.0 if coverage >= 0.5 else 0.0
                    if coverage == 0.0:
                        continue
                outA = coverage + a * (1.0 - coverage)
                r = (color[0] * coverage + r * a * (1.0 - coverage)) / outA
                g = (color[1] * coverage + g * a * (1.0 - coverage)) / outA
                b = (color[2] * coverage + b * a * (1.0 - coverage)) / outA
                a = outA
            row.append((int(round(r)), int(round(g)), int(round(b)), int(round(a * 255))))
        rows.append(row)
    return rows


# The case blue lies nearer to dark cyan than to blue in RGB distance.
VGA_REMAP = {BLUE: (0x00, 0x00, 0xFF)}

VGA16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# 8-bit palette: the 6x6x6 colour cube (the design colours lie on it) and a
# ramp of greys for the antialiased edges between them.
CUBE256 = [(r * 0x33, g * 0x33, b * 0x33) for r in range(6) for g in range(6) for b in range(6)]
CUBE256 += [(v, v, v) for v in (round(255 * k / 41) for k in range(1, 41))]


def Nearest(palette, color):
    best, bestDistance = 0, None
    for index, entry in enumerate(palette):
        d = sum((p - q) * (p - q) for p, q in zip(entry, color))
        if bestDistance is None or d < bestDistance:
            best, bestDistance = index, d
    return best


def Dib(pixels, bits):
    """One icon image in DIB form: header, palette, colour rows, AND mask."""
    size = len(pixels)
    palette = {4: VGA16, 8: CUBE256}.get(bits, [])
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    table += b'\0' * (4 * ((1 << bits) - len(palette)) if palette else 0)

    cache = {}
    colorRows, maskRows = [], []
    colorStride = ((size * bits + 31) // 32) * 4
    maskStride = ((size + 31) // 32) * 4
    for row in reversed(pixels):  # DIB rows run bottom-up
        mask = bytearray(maskStride)
        for i, (r, g, b, a) in enumerate(row):
            if a < 128:
                mask[i // 8] |= 0x80 >> (i % 8)
        if bits == 32:
            line = b''.join(struct.pack('<BBBB', b, g, r, a) for r, g, b, a in row)
        else:
            indices = []
            for r, g, b, a in row:
                if a < 128:
                    indices.append(0)  # transparent: black under a set mask bit
                    continue
                key = (r, g, b)
                if key not in cache:
                    cache[key] = Nearest(palette, key)
                indices.append(cache[key])
            if bits == 8:
                line = bytes(indices)
            else:
                line = bytes((indices[k] << 4) | (indices[k + 1] if k + 1 < size else 0) for k in range(0, size, 2))
        colorRows.append(line + b'\0' * (colorStride - len(line)))
        maskRows.append(bytes(mask))
    return header + table + b''.join(colorRows) + b''.join(maskRows)


def Png(pixels):
    size = len(pixels)

    def Chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = bytearray()
    previous = bytes(size * 4)
    for row in pixels:
        line = bytes(v for pixel in row for v in pixel)
        # Per row the cheaper of the filters None, Sub and Up, judged by the
        # usual sum of absolute differences.
        candidates = [
            (0, line),
            (1, bytes((line[k] - (line[k - 4] if k >= 4 else 0)) & 0xFF for k in range(len(line)))),
            (2, bytes((line[k] - previous[k]) & 0xFF for k in range(len(line)))),
        ]
        kind, filtered = min(candidates, key=lambda c: (sum(v if v < 128 else 256 - v for v in c[1]), c[0]))
        raw.append(kind)
        raw += filtered
        previous = line
    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + Chunk(b'IHDR', ihdr) + Chunk(b'IDAT', zlib.compress(bytes(raw), 9))
            + Chunk(b'IEND', b''))


def Ico(design, formats):
    """formats: list of (size, bits); size 256 is stored as PNG."""
    images = []
    for size, bits in formats:
        pixels = Render(design(size), size, smooth=(bits == 32), remap=VGA_REMAP if bits == 4 else None)
        data = Png(pixels) if size == 256 else Dib(pixels, bits)
        images.append((size, bits, data))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16 if bits == 4 else 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, _, data in images)


CLASSIC_SET = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]
LARGE_SET = [(256, 32), (48, 32), (32, 32), (24, 32), (16, 32)]

FILES = [
    ('installer.ico', InstallerDesign, CLASSIC_SET),
    ('daemon.ico', DaemonDesign, LARGE_SET),
    ('daemon_small.ico', DaemonDesign, CLASSIC_SET),
]


def Main(argv):
    outputDir = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'resources')
    os.makedirs(outputDir, exist_ok=True)
    for name, design, formats in FILES:
        path = os.path.join(outputDir, name)
        data = Ico(design, formats)
        with open(path, 'wb') as f:
            f.write(data)
        print('%s: %d bytes' % (os.path.normpath(path), len(data)))
    return 0


if __name__ == '__main__':
    sys.exit(Main(sys.argv))
