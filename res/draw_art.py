#!/usr/bin/env python3
"""Draws the program's artwork and writes it next to this script.

    background.png, background-2x.png
                    the main dialog's picture at 550 x 250 and at 1100 x 500
                    (for screens of twice the pixels), for the Qt dialog and
                    the web page; Update.exe keeps the 2x one
    app.ico         32 x 32, 32-bit icon with alpha (the window and taskbar icon)
    app.png         the same icon at 256 x 256 (desktop entry, Qt window icon)
    app-48.png, app-64.png, app-128.png
                    the same icon at 48, 64 and 128 pixels (the desktop's
                    smaller sizes, installed beside the 256 one)

Everything is drawn from simple vector shapes by the small rasteriser below
(standard library only). There is no randomness, so running the script again
reproduces the files byte for byte.

Run from anywhere:  python3 res/draw_art.py
"""

import math
import os
import struct
import zlib

OUT_DIR = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------------------
# Rasteriser
# ---------------------------------------------------------------------------

def _q(v):
    """Rounds a coordinate so tiny floating point differences cannot change output."""
    return round(v * 4096.0) / 4096.0


def hexrgb(s):
    s = s.lstrip('#')
    return (int(s[0:2], 16) / 255.0, int(s[2:4], 16) / 255.0, int(s[4:6], 16) / 255.0)


class Canvas:
    """Premultiplied RGBA float canvas.

    Shapes are given in design units; `scale` maps them to pixels. Coverage is
    exact along each scan line and sampled on `sub` lines per pixel row, which
    gives smooth anti-aliased edges.
    """

    def __init__(self, width, height, scale=1.0, sub=5):
        self.w = width
        self.h = height
        self.k = scale
        self.sub = sub
        self.px = [0.0] * (width * height * 4)

    def fill(self, polys, paint, opacity=1.0, holes=()):
        """Fills the union of `polys` minus `holes` (nonzero winding)."""
        k = self.k
        edges = []
        for poly, want_ccw in [(p, True) for p in polys] + [(p, False) for p in holes]:
            pts = [(_q(x * k), _q(y * k)) for x, y in poly]
            if _signed_area(pts) < 0:
                pts.reverse()
            if not want_ccw:
                pts.reverse()
            n = len(pts)
            for i in range(n):
                x0, y0 = pts[i]
                x1, y1 = pts[(i + 1) % n]
                if y0 == y1:
                    continue
                d = 1 if y1 > y0 else -1
                if y0 > y1:
                    x0, y0, x1, y1 = x1, y1, x0, y0
                edges.append((y0, y1, x0, (x1 - x0) / (y1 - y0), d))
        if not edges:
            return
        ymin = max(0, int(math.floor(min(e[0] for e in edges))))
        ymax = min(self.h - 1, int(math.floor(max(e[1] for e in edges))))
        w = self.w
        sub = self.sub
        wgt = 1.0 / sub
        cov = [0.0] * (w + 1)
        solid = paint if isinstance(paint, tuple) else None
        for py in range(ymin, ymax + 1):
            row_edges = [e for e in edges if e[0] < py + 1 and e[1] > py]
            if not row_edges:
                continue
            lo, hi = w, -1
            for s in range(sub):
                sy = py + (s + 0.5) / sub
                xs = []
                for y0, y1, x0, dxdy, d in row_edges:
                    if y0 <= sy < y1:
                        xs.append((x0 + (sy - y0) * dxdy, d))
                if not xs:
                    continue
                xs.sort()
                wind = 0
                start = 0.0
                for x, d in xs:
                    before = wind
                    wind += d
                    if before == 0 and wind != 0:
                        start = x
                    elif before != 0 and wind == 0:
                        xa = max(0.0, start)
                        xb = min(float(w), x)
                        if xb <= xa:
                            continue
                        ia = int(xa)
                        ib = int(xb)
                        if ia == ib:
                            cov[ia] += (xb - xa) * wgt
                        else:
                            cov[ia] += (ia + 1 - xa) * wgt
                            for i in range(ia + 1, ib):
                                cov[i] += wgt
                            cov[ib] += (xb - ib) * wgt
                        lo = min(lo, ia)
                        hi = max(hi, ib)
            if hi < 0:
                continue
            hi = min(hi, w - 1)
            base = py * w * 4
            for x in range(lo, hi + 1):
                c = cov[x]
                if c <= 0.0:
                    continue
                cov[x] = 0.0
                a = min(c, 1.0) * opacity
                if solid is not None:
                    r, g, b = solid
                else:
                    r, g, b = paint((x + 0.5) / self.k, (py + 0.5) / self.k)
                i = base + x * 4
                px = self.px
                inv = 1.0 - a
                px[i] = r * a + px[i] * inv
                px[i + 1] = g * a + px[i + 1] * inv
                px[i + 2] = b * a + px[i + 2] * inv
                px[i + 3] = a + px[i + 3] * inv
            cov[w] = 0.0

    def rgba8(self, x, y):
        """Straight (not premultiplied) 8-bit RGBA of one pixel."""
        i = (y * self.w + x) * 4
        r, g, b, a = self.px[i:i + 4]
        if a <= 0.0:
            return (0, 0, 0, 0)
        return (_c8(r / a), _c8(g / a), _c8(b / a), _c8(a))


def _c8(v):
    return max(0, min(255, int(math.floor(v * 255.0 + 0.5))))


def _signed_area(pts):
    s = 0.0
    n = len(pts)
    for i in range(n):
        x0, y0 = pts[i]
        x1, y1 = pts[(i + 1) % n]
        s += x0 * y1 - x1 * y0
    return s / 2.0


# ---------------------------------------------------------------------------
# Shapes (each returns one polygon, a list of points)
# ---------------------------------------------------------------------------

def rect(x, y, w, h):
    return [(x, y), (x + w, y), (x + w, y + h), (x, y + h)]


def ellipse(cx, cy, rx, ry, n=96):
    return [(cx + rx * math.cos(2 * math.pi * i / n), cy + ry * math.sin(2 * math.pi * i / n))
            for i in range(n)]


def circle(cx, cy, r, n=96):
    return ellipse(cx, cy, r, r, n)


def rounded_rect(x, y, w, h, r, corners=(True, True, True, True), n=12):
    """Rounded rectangle; `corners` says which of top-left, top-right,
    bottom-right and bottom-left are rounded."""
    pts = []
    spec = [
        (x + r, y + r, math.pi, corners[0], (x, y)),
        (x + w - r, y + r, 1.5 * math.pi, corners[1], (x + w, y)),
        (x + w - r, y + h - r, 0.0, corners[2], (x + w, y + h)),
        (x + r, y + h - r, 0.5 * math.pi, corners[3], (x, y + h)),
    ]
    for cx, cy, a0, rounded, sharp in spec:
        if rounded and r > 0:
            for i in range(n + 1):
                a = a0 + 0.5 * math.pi * i / n
                pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
        else:
            pts.append(sharp)
    return pts


def rotated(poly, cx, cy, deg):
    a = math.radians(deg)
    ca, sa = math.cos(a), math.sin(a)
    return [(cx + (x - cx) * ca - (y - cy) * sa, cy + (x - cx) * sa + (y - cy) * ca)
            for x, y in poly]


def stroke(points, width, cap=True):
    """A polyline of the given width as a list of polygons (quads plus round joins)."""
    hw = width / 2.0
    polys = []
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        dx, dy = x1 - x0, y1 - y0
        ln = math.hypot(dx, dy)
        if ln == 0:
            continue
        nx, ny = -dy / ln * hw, dx / ln * hw
        polys.append([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)])
    joints = points if cap else points[1:-1]
    for x, y in joints:
        polys.append(circle(x, y, hw, 32))
    return polys


def arc_points(cx, cy, r, a0, a1, n=40):
    return [(cx + r * math.cos(math.radians(a0 + (a1 - a0) * i / n)),
             cy + r * math.sin(math.radians(a0 + (a1 - a0) * i / n))) for i in range(n + 1)]


def bezier(p0, p1, p2, p3, n=48):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        pts.append((u * u * u * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t * t * t * p3[0],
                    u * u * u * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t * t * t * p3[1]))
    return pts


def pin(cx, cy, r, tip_y):
    """Location pin: a circle that narrows smoothly into a point at (cx, tip_y)."""
    d = tip_y - cy
    # Tangent points from the tip to the circle.
    a = math.acos(r / d)
    start = 90 + math.degrees(a)  # left tangent, measured clockwise from +x (y down)
    end = 90 - math.degrees(a) + 360
    pts = arc_points(cx, cy, r, start, end, 96)
    pts.append((cx, tip_y))
    return pts


def vgrad(y0, y1, c0, c1):
    def paint(_x, y):
        t = min(1.0, max(0.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(c0, c1))
    return paint


# ---------------------------------------------------------------------------
# Palette
# ---------------------------------------------------------------------------

SKY_TOP = hexrgb('#b9d7ee')
SKY_LOW = hexrgb('#eef5fa')
HILL_FAR = hexrgb('#bcd6c0')
HILL_NEAR = hexrgb('#a5c9a6')
GRASS_TOP = hexrgb('#bfdab4')
GRASS_LOW = hexrgb('#9fc595')
ROAD = hexrgb('#5f6a75')
ROAD_DARK = hexrgb('#4f5964')
LINE = hexrgb('#f4f6f8')
POST = hexrgb('#8a949d')
SIGN_RED = hexrgb('#d9534f')
INK = hexrgb('#2f3740')
CAM_BODY = hexrgb('#e6eaee')
CAM_EDGE = hexrgb('#9aa5af')
AMBER = hexrgb('#f2b134')
PIN = hexrgb('#ee7440')
PIN_DARK = hexrgb('#c95a2c')
WHITE = hexrgb('#ffffff')
SAT_BODY = hexrgb('#d7dde3')
SAT_PANEL = hexrgb('#3f6fa3')
SAT_GRID = hexrgb('#7fa6cf')
SIGNAL = hexrgb('#3b82c4')
DEV_BODY = hexrgb('#37414c')
DEV_EDGE = hexrgb('#242b33')
SCREEN_TOP = hexrgb('#d5eef9')
SCREEN_LOW = hexrgb('#9fd0e8')
CABLE = hexrgb('#4a545e')
PLUG = hexrgb('#aeb7bf')
GO = hexrgb('#3fa66d')
FRAME = hexrgb('#8896a3')


# ---------------------------------------------------------------------------
# Background picture (550 x 250)
# ---------------------------------------------------------------------------

HORIZON = 150.0
VANISH_X = 232.0


def road_x(edge_bottom_x, y):
    """x of a road line that runs from edge_bottom_x at the bottom (y=250) to the vanishing point."""
    t = (y - HORIZON) / (250.0 - HORIZON)
    return VANISH_X + (edge_bottom_x - VANISH_X) * t


def road_strip(bx0, bx1, y0, y1):
    """Part of the road between two lines through the vanishing point, from y0 to y1."""
    return [(road_x(bx0, y0), y0), (road_x(bx1, y0), y0), (road_x(bx1, y1), y1), (road_x(bx0, y1), y1)]


def draw_background(scale=1):
    """The picture on its 550 x 250 design grid, drawn at `scale` times that."""
    W, H = 550, 250
    c = Canvas(W * scale, H * scale, float(scale), sub=5)

    # Sky and soft clouds.
    c.fill([rect(0, 0, W, HORIZON + 2)], vgrad(0, HORIZON, SKY_TOP, SKY_LOW))
    for cx, cy, s in ((150, 38, 1.0), (395, 26, 0.8)):
        blobs = [ellipse(cx, cy + 6 * s, 46 * s, 11 * s), circle(cx - 18 * s, cy, 14 * s),
                 circle(cx + 6 * s, cy - 6 * s, 18 * s), circle(cx + 26 * s, cy + 1 * s, 12 * s)]
        c.fill(blobs, WHITE, 0.75)

    # Distant hills.
    far = [(0, HORIZON + 1)]
    near = [(0, HORIZON + 1)]
    for i in range(0, W + 1, 5):
        far.append((i, HORIZON - 14 - 9 * math.sin(i / 70.0) - 5 * math.sin(i / 23.0 + 1.0)))
        near.append((i, HORIZON - 5 - 7 * math.sin(i / 48.0 + 2.0) - 3 * math.sin(i / 17.0)))
    far.append((W, HORIZON + 1))
    near.append((W, HORIZON + 1))
    c.fill([far], HILL_FAR)
    c.fill([near], HILL_NEAR)

    # Ground.
    c.fill([rect(0, HORIZON, W, H - HORIZON)], vgrad(HORIZON, H, GRASS_TOP, GRASS_LOW))

    # Road in perspective: asphalt, edge lines and centre dashes.
    c.fill([road_strip(10, 460, HORIZON, H)], vgrad(HORIZON, H, ROAD, ROAD_DARK))
    c.fill([road_strip(24, 36, HORIZON + 1, H), road_strip(434, 446, HORIZON + 1, H)], LINE, 0.9)
    # Dashes equally spaced in depth: screen y = horizon + 100 * z0 / z.
    z = 1.0
    while z < 14.0:
        z_far = z + 0.55
        y_near = HORIZON + 100.0 / z
        y_far = HORIZON + 100.0 / z_far
        if y_near - y_far > 0.4:
            c.fill([road_strip(228, 242, y_far, min(y_near, H))], LINE, 0.95)
        z = z_far + 0.75

    # Warning sign on the left verge.
    c.fill([rect(93, 112, 5, 66)], POST)
    c.fill([ellipse(95.5, 178, 9, 2.5)], INK, 0.18)
    tri = [(95.5, 72), (69, 118), (122, 118)]
    c.fill(stroke(tri + [tri[0]], 7), SIGN_RED)
    c.fill([tri], SIGN_RED)
    c.fill([[(95.5, 82), (77, 113.5), (114, 113.5)]], WHITE)
    c.fill([[(93.2, 88), (97.8, 88), (96.8, 104), (94.2, 104)]] + [circle(95.5, 109, 2.6, 32)], INK)

    # Speed camera on a pole by the right verge, its lens facing the road.
    c.fill([rect(318, 92, 5, 80)], POST)
    c.fill([ellipse(320.5, 172, 9, 2.5)], INK, 0.18)
    c.fill([rounded_rect(300, 76, 42, 26, 5)], CAM_EDGE)
    c.fill([rounded_rect(301.5, 77.5, 39, 23, 4)], CAM_BODY)
    c.fill([rounded_rect(294, 82, 10, 14, 3)], CAM_EDGE)
    c.fill([circle(303, 89, 6.5)], INK)
    c.fill([circle(303, 89, 3.2)], hexrgb('#5b8db8'))
    c.fill([circle(301.8, 87.8, 1.1, 16)], WHITE, 0.9)
    c.fill([rounded_rect(326, 81, 10, 5, 2)], AMBER)
    # Flash rays towards the road.
    for ang in (150, 180, 210):
        a = math.radians(ang)
        p0 = (303 + 12 * math.cos(a), 89 + 12 * math.sin(a))
        p1 = (303 + 19 * math.cos(a), 89 + 19 * math.sin(a))
        c.fill(stroke([p0, p1], 2.4), AMBER, 0.9)

    # Location pin above the road with its shadow at the vanishing point.
    c.fill([ellipse(VANISH_X, HORIZON + 1, 13, 3)], INK, 0.25)
    c.fill([pin(VANISH_X, 92, 23, 141)], PIN_DARK)
    c.fill([pin(VANISH_X, 91, 21, 138)], PIN)
    c.fill([circle(VANISH_X, 91, 9)], WHITE)

    # GPS satellite in the sky, with signal arcs towards the pin.
    sx, sy, rot = 64.0, 46.0, -28.0
    body = rotated(rect(sx - 9, sy - 9, 18, 18), sx, sy, rot)
    arm = rotated(rect(sx - 34, sy - 1.5, 68, 3), sx, sy, rot)
    panels = [rotated(rect(sx - 46, sy - 8, 28, 16), sx, sy, rot),
              rotated(rect(sx + 18, sy - 8, 28, 16), sx, sy, rot)]
    c.fill([arm], POST)
    c.fill(panels, SAT_PANEL)
    grid = []
    for x0 in (sx - 46, sx + 18):
        for j in (1, 2, 3):
            grid.append(rotated(rect(x0 + 7 * j - 0.6, sy - 8, 1.2, 16), sx, sy, rot))
        grid.append(rotated(rect(x0, sy - 0.6, 28, 1.2), sx, sy, rot))
    c.fill(grid, SAT_GRID)
    c.fill([body], SAT_BODY)
    c.fill([rotated(rect(sx - 9, sy - 9, 18, 18), sx, sy, rot)], CAM_EDGE, 0.35,
           holes=[rotated(rect(sx - 7.5, sy - 7.5, 15, 15), sx, sy, rot)])
    dish = rotated([(sx - 6, sy + 9), (sx + 6, sy + 9), (sx + 3, sy + 15), (sx - 3, sy + 15)], sx, sy, rot)
    c.fill([dish], CAM_EDGE)
    # Arcs centred on the satellite, opening towards the pin.
    for i, r in enumerate((30, 40, 50)):
        c.fill(stroke(arc_points(sx + 4, sy + 6, r, -18, 26, 30), 3.0), SIGNAL, 0.85 - 0.2 * i)

    # The warning device on the right: body, screen with a small map, buttons.
    dx, dy, dw, dh = 408.0, 96.0, 124.0, 78.0
    c.fill([ellipse(dx + dw / 2, dy + dh + 4, 64, 5)], INK, 0.2)
    c.fill([rounded_rect(dx - 1.5, dy - 1.5, dw + 3, dh + 3, 13)], DEV_EDGE)
    c.fill([rounded_rect(dx, dy, dw, dh, 12)], vgrad(dy, dy + dh, hexrgb('#46515d'), DEV_BODY))
    sxa, sya, swa, sha = dx + 10, dy + 10, dw - 20, 46.0
    c.fill([rounded_rect(sxa, sya, swa, sha, 5)], vgrad(sya, sya + sha, SCREEN_TOP, SCREEN_LOW))
    # Small map on the screen: a winding road and a marker.
    route = bezier((sxa + 8, sya + sha - 6), (sxa + 30, sya + 10), (sxa + 60, sya + sha), (sxa + swa - 10, sya + 12), 40)
    c.fill(stroke(route, 5.0), hexrgb('#7d8a96'))
    c.fill(stroke(route, 1.4), WHITE, 0.9)
    c.fill([pin(sxa + 63, sya + 19, 6.5, sya + 34)], PIN)
    c.fill([circle(sxa + 63, sya + 19, 2.6, 24)], WHITE)
    # Small warning triangle in the screen corner.
    c.fill([[(sxa + 14, sya + 5), (sxa + 6, sya + 18), (sxa + 22, sya + 18)]], SIGN_RED)
    c.fill([[(sxa + 14, sya + 9), (sxa + 9.5, sya + 16.2), (sxa + 18.5, sya + 16.2)]], WHITE)
    # Buttons and a status light.
    for i in range(3):
        c.fill([rounded_rect(dx + 14 + i * 20, dy + dh - 15, 14, 6, 3)], hexrgb('#5d6975'))
    c.fill([circle(dx + dw - 18, dy + dh - 12, 3.5, 32)], GO)

    # USB cable leaving the device's lower edge towards the computer (off the picture).
    cable = bezier((dx + dw - 40, dy + dh + 12), (dx + dw - 40, dy + dh + 40),
                   (dx + dw - 10, dy + dh + 36), (W + 6, H - 26), 48)
    c.fill(stroke(cable, 5.0), CABLE)
    # Plug at the device.
    c.fill([rounded_rect(dx + dw - 47, dy + dh + 2, 14, 14, 2)], PLUG)
    c.fill([rect(dx + dw - 44, dy + dh - 1, 8, 4)], CAM_EDGE)

    # Data flows along the cable into the device: a green badge with an arrow.
    bx, by, br = 462.0, 213.0, 17.0
    c.fill([circle(bx, by, br + 2.5)], WHITE)
    c.fill([circle(bx, by, br)], GO)
    arrow = [(bx - 3.5, by + 9), (bx + 3.5, by + 9), (bx + 3.5, by - 1), (bx + 9, by - 1),
             (bx, by - 11), (bx - 9, by - 1), (bx - 3.5, by - 1)]
    c.fill([arrow], WHITE)
    # Chevrons on the way up towards the device.
    for i, yy in enumerate((188.0, 181.0)):
        chev = [(bx - 6, yy + 4), (bx, yy - 2), (bx + 6, yy + 4)]
        c.fill(stroke(chev, 2.6), GO, 0.9 - 0.3 * i)

    # Thin frame so the picture sits cleanly on a grey dialog.
    c.fill([rect(0, 0, W, H)], FRAME, 1.0, holes=[rect(1, 1, W - 2, H - 2)])
    return c


# ---------------------------------------------------------------------------
# Icon (designed on a 256 x 256 grid, drawn at any size)
# ---------------------------------------------------------------------------

def draw_icon(size):
    k = size / 256.0
    sub = 16 if size <= 64 else 4
    c = Canvas(size, size, k, sub=sub)

    # Tile: sky over ground with rounded corners.
    c.fill([rounded_rect(12, 12, 232, 232, 44)], hexrgb('#2c6aa0'))
    c.fill([rounded_rect(16, 16, 224, 224, 40)], vgrad(16, 150, hexrgb('#6fb0e0'), hexrgb('#d6eaf7')))
    c.fill([rounded_rect(16, 148, 224, 92, 40, corners=(False, False, True, True))],
           vgrad(148, 240, hexrgb('#8cc47f'), hexrgb('#5f9e58')))

    # Road narrowing towards the horizon.
    c.fill([[(118, 148), (138, 148), (214, 240), (42, 240)]], hexrgb('#4a5561'))
    for y0, y1 in ((156, 170), (184, 208), (222, 240)):
        t0 = (y0 - 148) / 92.0
        t1 = (y1 - 148) / 92.0
        w0 = 2 + 8 * t0
        w1 = 2 + 8 * t1
        c.fill([[(128 - w0, y0), (128 + w0, y0), (128 + w1, y1), (128 - w1, y1)]], WHITE)

    # Location pin over the road.
    c.fill([pin(128, 80, 50, 160)], hexrgb('#c44f22'))
    c.fill([pin(128, 78, 46, 154)], PIN)
    c.fill([circle(128, 78, 19)], WHITE)

    # Update badge: data arrow going down into the device.
    bx, by, br = 190, 190, 46
    c.fill([circle(bx, by, br + 8)], WHITE)
    c.fill([circle(bx, by, br)], GO)
    c.fill([[(bx - 10, by - 30), (bx + 10, by - 30), (bx + 10, by + 2), (bx + 26, by + 2),
             (bx, by + 30), (bx - 26, by + 2), (bx - 10, by + 2)]], WHITE)
    return c


# ---------------------------------------------------------------------------
# File writers
# ---------------------------------------------------------------------------

def write_png(path, c):
    with open(path, 'wb') as f:
        f.write(png_bytes(c))


def ico_dib(c):
    """One 32-bit icon image with alpha: a BITMAPINFOHEADER DIB plus AND mask."""
    w, h = c.w, c.h
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            r, g, b, a = c.rgba8(x, y)
            xor += bytes((b, g, r, a))
    mask_row = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_row)
        for x in range(w):
            if c.rgba8(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    info = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return info + bytes(xor) + bytes(mask)


def png_bytes(c):
    raw = bytearray()
    for y in range(c.h):
        raw.append(0)
        for x in range(c.w):
            raw += bytes(c.rgba8(x, y))

    def chunk(tag, body):
        return struct.pack('>I', len(body)) + tag + body + struct.pack('>I', zlib.crc32(tag + body) & 0xffffffff)

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', c.w, c.h, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    return png


def write_ico(path, canvases):
    """One icon with an image per canvas: DIBs, and PNG for 256 x 256, as Windows stores them."""
    images = [png_bytes(c) if c.w >= 256 else ico_dib(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, image in zip(canvases, images):
        # A size of 256 is written as 0.
        out += struct.pack('<BBBBHHII', c.w & 0xff, c.h & 0xff, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


# The sizes Windows asks an icon for: 16, 20 and 24 (small icons at 100, 125
# and 150 %), 32, 40 and 48 (large icons and small ones at 200 %), 64 (large
# at 200 %) and 256 (Explorer's large views).
ICON_SIZES = (16, 20, 24, 32, 40, 48, 64, 256)


def main():
    background, background2x = draw_background(), draw_background(2)
    write_png(os.path.join(OUT_DIR, 'background.png'), background)
    write_png(os.path.join(OUT_DIR, 'background-2x.png'), background2x)
    icons = {size: draw_icon(size) for size in ICON_SIZES}
    write_ico(os.path.join(OUT_DIR, 'app.ico'), [icons[size] for size in ICON_SIZES])
    for size in (48, 64, 128):
        write_png(os.path.join(OUT_DIR, 'app-%d.png' % size), icons.get(size) or draw_icon(size))
    write_png(os.path.join(OUT_DIR, 'app.png'), icons[256])


if __name__ == '__main__':
    main()
