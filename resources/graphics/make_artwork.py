#!/usr/bin/env python3
"""Draws the VELMOR logo (logo.bmp) and the application icon (app.ico).

The build uses the committed files; run this script only to change the artwork:

    python3 resources/graphics/make_artwork.py [output-folder]

or build the CMake target `regenerate_artwork`. The output is deterministic, so an
unchanged script rewrites byte-identical files.

Every shape is a set of closed polygons rasterised with 4 x 4 supersampling. The logo is
drawn with a transparent key (pure green): a pixel belongs to the artwork when at least
half of its samples do, and then it takes the mean colour of its artwork samples only.
Edges therefore blend between reds and never toward the key, which would leave a green or
brown fringe once the key is cut out.
"""

import math
import os
import struct
import sys

SUPERSAMPLING = 4

KEY = (0, 255, 0)
BRAND_RED = (227, 0, 11)


def shade(factor):
    """A darker shade of the brand red: both channels scaled, green stays 0."""
    return (round(BRAND_RED[0] * factor), 0, round(BRAND_RED[2] * factor))


# Geometry ---------------------------------------------------------------------------------


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def arc(cx, cy, rx, ry, start_deg, end_deg, steps):
    """Points along an elliptic arc; angles in degrees, y grows downward."""
    points = []
    for i in range(steps + 1):
        a = math.radians(start_deg + (end_deg - start_deg) * i / steps)
        points.append((cx + rx * math.cos(a), cy + ry * math.sin(a)))
    return points


def rounded_rect(x0, y0, x1, y1, radius, steps=12):
    r = min(radius, (x1 - x0) / 2, (y1 - y0) / 2)
    return (
        arc(x1 - r, y0 + r, r, r, -90, 0, steps)
        + arc(x1 - r, y1 - r, r, r, 0, 90, steps)
        + arc(x0 + r, y1 - r, r, r, 90, 180, steps)
        + arc(x0 + r, y0 + r, r, r, 180, 270, steps)
    )


def right_rounded_rect(x0, y0, x1, y1, radius, steps=12):
    """A rectangle whose two right corners are rounded (the bowl of R)."""
    r = min(radius, (x1 - x0), (y1 - y0) / 2)
    return (
        [(x0, y0)]
        + arc(x1 - r, y0 + r, r, r, -90, 0, steps)
        + arc(x1 - r, y1 - r, r, r, 0, 90, steps)
        + [(x0, y1)]
    )


def circle(cx, cy, r, steps=96):
    return arc(cx, cy, r, r, 0, 360, steps)[:-1]


def bezier(p0, p1, p2, p3, steps):
    points = []
    for i in range(steps + 1):
        t = i / steps
        u = 1 - t
        points.append(
            (
                u**3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t**3 * p3[0],
                u**3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t**3 * p3[1],
            )
        )
    return points


def tapered_band(centre, width_at):
    """A band around a centre line whose width follows width_at(t), t from 0 to 1."""
    upper, lower = [], []
    n = len(centre)
    for i, (x, y) in enumerate(centre):
        a = centre[max(i - 1, 0)]
        b = centre[min(i + 1, n - 1)]
        dx, dy = b[0] - a[0], b[1] - a[1]
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length, dx / length
        half = width_at(i / (n - 1)) / 2
        upper.append((x + nx * half, y + ny * half))
        lower.append((x - nx * half, y - ny * half))
    return upper + lower[::-1]


def transform(shapes, dx=0.0, dy=0.0, scale=1.0, slant=0.0, baseline=0.0):
    """Scales, shears (italic: x moves right as y rises above the baseline) and moves."""
    def point(x, y):
        return (x * scale + (baseline - y * scale) * slant + dx, y * scale + dy)

    return [[[point(x, y) for x, y in contour] for contour in shape] for shape in shapes]


# Letters of the wordmark, upright, in font units: cap height 100, baseline at y = 100,
# top at y = 0. Each letter returns (shapes, advance width); a shape is a list of contours
# filled by the even-odd rule, so a second contour inside the first cuts a counter.

STEM = 25.0


def letter_v():
    w = 104.0
    v = [(0, 0), (27, 0), (w / 2, 66), (w - 27, 0), (w, 0), (w / 2 + 15, 100), (w / 2 - 15, 100)]
    return [[v]], w


def letter_e():
    w = 78.0
    return [
        [rect(0, 0, STEM, 100)],
        [rect(0, 0, w, 22)],
        [rect(0, 39, w - 8, 60)],
        [rect(0, 78, w, 100)],
    ], w


def letter_l():
    w = 74.0
    return [[rect(0, 0, STEM, 100)], [rect(0, 78, w, 100)]], w


def letter_m():
    w = 118.0
    v = [(0, 0), (STEM + 4, 0), (w / 2, 46), (w - STEM - 4, 0), (w, 0)]
    v += [(w / 2 + 9, 76), (w / 2 - 9, 76)]
    return [[rect(0, 0, STEM, 100)], [rect(w - STEM, 0, w, 100)], [v]], w


def letter_o():
    w = 104.0
    return [[rounded_rect(0, 0, w, 100, 38), rounded_rect(STEM, 22, w - STEM, 78, 16)]], w


def letter_r():
    w = 92.0
    bowl = 60.0
    return [
        [rect(0, 0, STEM, 100)],
        [
            right_rounded_rect(0, 0, w - 4, bowl, 30),
            right_rounded_rect(STEM, 21, w - 4 - STEM, bowl - 20, 10),
        ],
        [[(40, bowl - 14), (67, bowl - 14), (w + 2, 100), (w - 25, 100)]],
    ], w


WORDMARK = [letter_v, letter_e, letter_l, letter_m, letter_o, letter_r]
LETTER_GAP = 12.0


def bolt(x0, y0, size):
    """A lightning bolt in a size x size box, as one shape."""
    s = size / 100.0
    pts = [(52, 0), (16, 58), (43, 58), (30, 100), (84, 36), (57, 36), (76, 0)]
    return [[(x0 + x * s, y0 + y * s) for x, y in pts]]


# Rasteriser -------------------------------------------------------------------------------


def spans(shape, yc):
    """The x intervals of one even-odd shape on the horizontal line y = yc."""
    xs = []
    for contour in shape:
        n = len(contour)
        for i in range(n):
            (ax, ay), (bx, by) = contour[i], contour[(i + 1) % n]
            if (ay <= yc < by) or (by <= yc < ay):
                xs.append(ax + (yc - ay) * (bx - ax) / (by - ay))
    xs.sort()
    return [(xs[k], xs[k + 1]) for k in range(0, len(xs) - 1, 2)]


def rasterise(width, height, layers):
    """Yields, per output row, the per-pixel sample coverage.

    layers: lists of shapes in painter's order; layer i + 1 covers layer i, and the shapes
    of one layer add up. A pixel's entry is an int when all its samples lie in one layer
    (0 = background), else a dict {layer: sample count}.
    """
    ss = SUPERSAMPLING
    prepared = []
    for index, shapes in enumerate(layers):
        for shape in shapes:
            ys = [p[1] for c in shape for p in c]
            prepared.append((min(ys), max(ys), shape, bytes([index + 1])))
    uniform = [bytes([v]) * (ss * ss) for v in range(256)]
    row_width = width * ss
    for py in range(height):
        subrows = []
        for j in range(ss):
            yc = py + (j + 0.5) / ss
            row = bytearray(row_width)
            for ymin, ymax, shape, value in prepared:
                if ymin <= yc <= ymax:
                    for x0, x1 in spans(shape, yc):
                        start = max(0, math.ceil(x0 * ss - 0.5))
                        end = min(row_width, math.ceil(x1 * ss - 0.5))
                        if end > start:
                            row[start:end] = value * (end - start)
            subrows.append(bytes(row))
        pixels = []
        for px in range(width):
            lo, hi = px * ss, px * ss + ss
            samples = b"".join(r[lo:hi] for r in subrows)
            if samples == uniform[samples[0]]:
                pixels.append(samples[0])
            else:
                counts = {}
                for v in samples:
                    counts[v] = counts.get(v, 0) + 1
                pixels.append(counts)
        yield pixels


def mix(weighted):
    total = sum(w for w, _ in weighted)
    return tuple(round(sum(w * c[i] for w, c in weighted) / total) for i in range(3))


# Logo -------------------------------------------------------------------------------------

LOGO_WIDTH, LOGO_HEIGHT = 1772, 263


def logo_layers():
    """Returns (layers, paints); paints[i](x, y) colours layer i + 1 at a pixel centre."""
    cap = 176.0
    scale = cap / 100.0
    top = 30.0
    baseline = top + cap
    slant = math.tan(math.radians(14))

    letters = []
    x = 430.0
    for make in WORDMARK:
        shapes, advance = make()
        letters += transform(shapes, dx=x, dy=top, scale=scale, slant=slant, baseline=100 * scale)
        x += (advance + LETTER_GAP) * scale
    wordmark_right = x - LETTER_GAP * scale

    # A drop shadow in a deep red gives the letters depth without leaving the red family.
    shadow = transform(letters, dx=9, dy=7)

    # Speed streaks run from the emblem toward the V; a swoosh sweeps up under the word.
    streaks = transform(
        [
            [[(x0, y), (x0 + length, y - 8), (x0 + length, y + 8)]]
            for y, x0, length in ((70, 316, 104), (112, 296, 130), (154, 316, 98))
        ],
        slant=slant,
        baseline=baseline,
    )
    swoosh_centre = bezier(
        (330, baseline + 42),
        (900, baseline + 22),
        (1480, baseline + 40),
        (wordmark_right + 150, baseline - 40),
        160,
    )
    def swoosh_width(t):
        return 2 + 17 * math.sin(math.pi * min(t * 1.1, 1.0))

    swoosh = [[tapered_band(swoosh_centre, swoosh_width)]]

    # Emblem: a slanted badge with a rim and a deep-red bolt on its face.
    emblem = transform(
        [
            [rounded_rect(96, top + 4, 286, baseline - 4, 40)],
            [rounded_rect(114, top + 22, 268, baseline - 22, 26)],
            bolt(124, top + 28, 124),
        ],
        slant=slant,
        baseline=baseline,
    )
    badge, face, emblem_bolt = [emblem[0]], [emblem[1]], [emblem[2]]

    def vertical(top_colour, bottom_colour, y0, y1):
        def paint(_x, y):
            t = min(max((y - y0) / (y1 - y0), 0.0), 1.0)
            return tuple(round(a + (b - a) * t) for a, b in zip(top_colour, bottom_colour))

        return paint

    def flat(colour):
        return lambda _x, _y: colour

    layers = [shadow, swoosh, streaks, badge, face, emblem_bolt, letters]
    paints = [
        flat(shade(0.55)),
        vertical(shade(0.78), shade(0.62), baseline - 70, baseline + 40),
        flat(shade(0.72)),
        flat(shade(0.60)),
        vertical(BRAND_RED, shade(0.80), top, baseline),
        flat(shade(0.50)),
        vertical(BRAND_RED, shade(0.84), top, baseline),
    ]
    return layers, paints


def render_logo():
    layers, paints = logo_layers()
    half = SUPERSAMPLING * SUPERSAMPLING / 2
    rows = []
    for py, pixels in enumerate(rasterise(LOGO_WIDTH, LOGO_HEIGHT, layers)):
        row = []
        for px, p in enumerate(pixels):
            cx, cy = px + 0.5, py + 0.5
            if isinstance(p, int):
                row.append(KEY if p == 0 else paints[p - 1](cx, cy))
                continue
            covered = [(n, paints[layer - 1](cx, cy)) for layer, n in p.items() if layer != 0]
            if sum(n for n, _ in covered) < half:
                row.append(KEY)
            else:
                row.append(mix(covered))
        rows.append(row)
    return rows


def bmp_bytes(rows):
    """A 24-bit bottom-up BI_RGB bitmap file with a 40-byte info header."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        pixels += line + bytes(stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 0, 0, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + bytes(pixels)


# Icon -------------------------------------------------------------------------------------

ICON_SIZES = (16, 32, 48, 64, 128)
CHARCOAL_TOP = (58, 61, 68)
CHARCOAL_BOTTOM = (30, 32, 37)
WHITE = (250, 250, 250)


def icon_layers(size):
    s = size / 100.0

    def scaled(contours):
        return [[(x * s, y * s) for x, y in c] for c in contours]

    disc = [scaled([circle(50, 50, 44)])]
    ring = [scaled([circle(50, 50, 44), circle(50, 50, 38)])]
    mark = [scaled(bolt(22, 16, 68))]
    return [disc, ring, mark]


def render_icon(size):
    layers = icon_layers(size)

    def background(y):
        t = y / size
        return tuple(round(a + (b - a) * t) for a, b in zip(CHARCOAL_TOP, CHARCOAL_BOTTOM))

    def disc(y):
        t = y / size
        return tuple(round(a + (b - a) * t) for a, b in zip(BRAND_RED, shade(0.70)))

    paints = [disc, lambda _y: shade(0.55), lambda _y: WHITE]
    rows = []
    for py, pixels in enumerate(rasterise(size, size, layers)):
        cy = py + 0.5
        row = []
        for p in pixels:
            if isinstance(p, int):
                row.append(background(cy) if p == 0 else paints[p - 1](cy))
            else:
                colours = [background(cy)] + [paint(cy) for paint in paints]
                row.append(mix([(n, colours[layer]) for layer, n in p.items()]))
        rows.append(row)
    return rows


def icon_image(rows):
    """One icon image: BITMAPINFOHEADER (double height), 32-bit BGRA rows, AND mask."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for r, g, b in row:
            xor += bytes((b, g, r, 255))
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytes(mask_stride * size)
    info = struct.pack(
        "<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0
    )
    return info + bytes(xor) + and_mask


def ico_bytes(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, data = b"", b""
    for size, image in images:
        side = size % 256  # 256 pixels would be written as 0
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset + len(data))
        data += image
    return header + entries + data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(out, "logo.bmp"), "wb") as f:
        f.write(bmp_bytes(render_logo()))
    with open(os.path.join(out, "app.ico"), "wb") as f:
        f.write(ico_bytes([(size, icon_image(render_icon(size))) for size in ICON_SIZES]))


if __name__ == "__main__":
    main()
