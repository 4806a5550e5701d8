#!/usr/bin/env python3
"""Draws the framework's images: the route-stop pin, the route-leg button icons,
one icon per way type and the on-map logo, as small PNGs at scale 2 ("name@2x.png") beside this
script.

    Ambrell/resources/draw-images.py [OUTPUT_FOLDER]

Plain Python (no imaging library), so anyone can redraw them. Shapes are
filled with 4 x 4 samples per pixel: edges are anti-aliased, and a pixel that
a shape covers whole has exactly that shape's colour.
"""

import math
import os
import struct
import sys
import zlib

SCALE = 2
SAMPLES = 4

PIN_RED = (0xEF, 0x44, 0x44)
INK = (0x37, 0x41, 0x51)
WHITE = (0xFF, 0xFF, 0xFF)


# Shapes take points in the image's point space (not pixels) and answer
# whether a point lies inside.

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, outer, inner):
    return lambda x, y: inner * inner <= (x - cx) ** 2 + (y - cy) ** 2 <= outer * outer


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


def line(x0, y0, x1, y1, width):
    """A stroke with round caps."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    half = width / 2

    def inside(x, y):
        t = 0 if length2 == 0 else max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


def polyline(points, width):
    parts = [line(*points[i], *points[i + 1], width) for i in range(len(points) - 1)]
    return lambda x, y: any(part(x, y) for part in parts)


def union(*shapes):
    return lambda x, y: any(shape(x, y) for shape in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def render(width, height, layers):
    """layers: (shape, rgb) bottom first. Returns rows of straight RGBA bytes."""
    w, h = width * SCALE, height * SCALE
    rows = []
    step = 1.0 / SAMPLES
    for py in range(h):
        row = bytearray()
        for px in range(w):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) * step) / SCALE
                    y = (py + (sy + 0.5) * step) / SCALE
                    for shape, colour in reversed(layers):
                        if shape(x, y):
                            r += colour[0]
                            g += colour[1]
                            b += colour[2]
                            a += 1
                            break
            n = SAMPLES * SAMPLES
            if a == 0:
                row += bytes(4)
            else:
                # Straight colour: the mean of the covering samples' colours.
                row += bytes((round(r / a), round(g / a), round(b / a), round(255 * a / n)))
        rows.append(bytes(row))
    return w, h, rows


def write_png(path, w, h, rows):
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def pin():
    # A round head over a point, 28 x 33 points: the size stop icons are shown at.
    cx, cy, r = 14, 13, 12
    tip = (14, 32.5)
    # The sides leave the head where their tangents meet the tip.
    d = tip[1] - cy
    angle = math.asin(r / d)
    sx = r * math.cos(angle)
    sy = r * math.sin(angle)
    body = polygon([(cx - sx, cy + sy), (cx + sx, cy + sy), tip])
    return 28, 33, [(union(circle(cx, cy, r), body), PIN_RED)]


def icon(shapes):
    """A 20 x 20 point icon in the ink colour on a transparent ground."""
    return 20, 20, [(shape, INK) for shape in shapes]


def arrow(points_left):
    chevron = [(12.5, 4.5), (6.5, 10), (12.5, 15.5)] if points_left else [(7.5, 4.5), (13.5, 10), (7.5, 15.5)]
    return icon([polyline(chevron, 2.6)])


def door_arrow(inward):
    frame = polyline([(11, 3), (17, 3), (17, 17), (11, 17)], 2)
    if inward:
        shaft = line(2.5, 10, 12, 10, 2)
        head = polyline([(8.5, 6.5), (12, 10), (8.5, 13.5)], 2)
    else:
        shaft = line(13, 10, 3.5, 10, 2)
        head = polyline([(7, 6.5), (3.5, 10), (7, 13.5)], 2)
    return icon([frame, shaft, head])


def parking():
    sign = minus(rect(2, 2, 18, 18), rect(3.6, 3.6, 16.4, 16.4))
    stem = rect(7, 5.5, 9, 14.5)
    bowl = minus(union(circle(10.5, 8.5, 3.2), rect(8, 5.3, 10.5, 11.7)),
                 union(circle(10.5, 8.5, 1.3), rect(8.8, 7.2, 10.5, 9.8)))
    return icon([sign, stem, bowl])


def way_icons():
    figure = union(circle(8, 4.5, 1.8), line(8, 7.5, 8, 12.5, 2.2))
    wheelchair = union(ring(9, 13.5, 4, 2.6), circle(7, 4, 1.7), line(7, 7, 7, 11, 2), line(7, 11, 12.5, 11, 2),
                       line(12.5, 11, 14.5, 15.5, 2))
    return {
        "unclassified": icon([ring(10, 10, 7, 5)]),
        "footway": icon([circle(7.5, 6.5, 2.2), circle(12.5, 13.5, 2.2), rect(6, 9, 9, 12), rect(11, 16, 14, 18)]),
        "residential": icon([polygon([(3, 10), (10, 3), (17, 10)]), rect(5, 10, 15, 17)]),
        "service": icon([ring(10, 10, 6.5, 3), rect(9, 1.5, 11, 5), rect(9, 15, 11, 18.5), rect(1.5, 9, 5, 11),
                         rect(15, 9, 18.5, 11)]),
        "ramp": icon([polygon([(2, 16), (18, 16), (18, 6)])]),
        "steps": icon([polygon([(2, 17), (2, 14), (6, 14), (6, 10), (10, 10), (10, 6), (14, 6), (14, 2), (18, 2),
                                (18, 17)])]),
        "escalator": icon([line(3, 16, 17, 4, 3), figure]),
        "travelator": icon([rect(2, 13, 18, 16), polygon([(11, 5), (16, 8.5), (11, 12)]), rect(4, 7.5, 11, 9.5)]),
        "elevator": icon([minus(rect(3, 2, 17, 18), rect(4.6, 3.6, 15.4, 16.4)),
                          polygon([(10, 5), (13.5, 9), (6.5, 9)]), polygon([(10, 15), (13.5, 11), (6.5, 11)])]),
        "wheelchairramp": icon([wheelchair, polygon([(2, 19), (18, 19), (18, 17.5)])]),
        "wheelchairlift": icon([wheelchair, rect(1.5, 18, 18.5, 19.5)]),
        "ladder": icon([rect(5, 2, 7, 18), rect(13, 2, 15, 18), rect(7, 5, 13, 6.5), rect(7, 9.25, 13, 10.75),
                        rect(7, 13.5, 13, 15)]),
    }


def rounded_rect(x0, y0, x1, y1, r):
    return union(rect(x0 + r, y0, x1 - r, y1), rect(x0, y0 + r, x1, y1 - r), circle(x0 + r, y0 + r, r),
                 circle(x1 - r, y0 + r, r), circle(x0 + r, y1 - r, r), circle(x1 - r, y1 - r, r))


def logo():
    """The 90 x 32 point mark shown in a corner of the map: a pin beside a
    wordmark of plain strokes, on a white pill that keeps it legible over any
    map."""
    ground = rounded_rect(0.5, 0.5, 89.5, 31.5, 15.5)
    head = minus(circle(16, 13.5, 7.5), circle(16, 13.5, 3))
    tip = polygon([(9.6, 17.5), (22.4, 17.5), (16, 27)])
    wordmark = [
        minus(ring(33, 16, 5.5, 3.5), rect(35, 13.5, 39, 18.5)),
        ring(45, 16, 5.5, 3.5),
        union(rect(52, 10.5, 54, 21.5), line(53, 14, 58, 11, 2)),
        union(line(59, 10.5, 62.5, 21.5, 2), line(66, 10.5, 62.5, 21.5, 2)),
        union(ring(72.5, 16, 5.5, 3.5), rect(76, 10.5, 78, 21.5)),
        union(line(80, 10.5, 83.5, 17, 2), line(87, 10.5, 81, 23.5, 2)),
    ]
    return 90, 32, [(ground, WHITE), (union(head, tip), PIN_RED)] + [(part, INK) for part in wordmark]


def images():
    drawn = {
        "stop-pin": pin(),
        "previous": arrow(True),
        "next": arrow(False),
        "enter": door_arrow(True),
        "exit": door_arrow(False),
        "parking": parking(),
        "corvay-on-map-logo": logo(),
    }
    drawn.update(way_icons())
    return drawn


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, (width, height, layers) in sorted(images().items()):
        w, h, rows = render(width, height, layers)
        write_png(os.path.join(folder, f"{name}@{SCALE}x.png"), w, h, rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
