#!/usr/bin/env python3
"""Generates the controller artwork in res/: the 800 x 600 picture (129.svg), the released and pressed
picture of every item (130.svg .. 177.svg), the application icon (icon.svg) and the Qt resource list
(artwork.qrc).

The whole picture is one scene: a list of shapes in painting order. A shape either belongs to the
background or to one item, in which case it exists in a released and a pressed variant. The background
is the scene with every item released. An item's picture is the very same scene seen through the item's
rectangle (an SVG viewBox on that rectangle, holding only the shapes that reach into it), with the item's
own shapes in the wanted state. So the released picture is, pixel for pixel, the background's region, and
repainting one rectangle can never leave a seam. Every item shape is checked to stay inside its
rectangle, so that a pressed picture never needs pixels of a neighbour.

Run it from anywhere; it rewrites the files in res/ next to this script's folder.
"""

import math
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "res")

WIDTH, HEIGHT = 800, 600
FONT = "DejaVu Sans"

# name, released id, pressed id, left, top, width, height
ITEMS = [
    ("1", 130, 131, 525, 303, 37, 37),
    ("2", 132, 133, 565, 343, 37, 37),
    ("3", 134, 135, 525, 383, 37, 37),
    ("4", 136, 137, 485, 343, 37, 37),
    ("F1", 150, 151, 335, 300, 37, 37),
    ("F2", 152, 153, 426, 300, 37, 37),
    ("MODE", 154, 155, 381, 300, 37, 37),
    ("SELECT", 156, 157, 360, 364, 37, 37),
    ("START", 158, 159, 404, 364, 37, 37),
    ("L1", 138, 139, 215, 157, 71, 43),
    ("L2", 140, 141, 215, 72, 71, 71),
    ("L3", 142, 143, 312, 414, 37, 37),
    ("R1", 144, 145, 505, 157, 71, 43),
    ("R2", 146, 147, 505, 72, 71, 71),
    ("R3", 148, 149, 451, 414, 37, 37),
    ("PAD1", 162, 163, 237, 302, 37, 37),
    ("PAD2", 164, 165, 275, 339, 37, 37),
    ("PAD3", 166, 167, 237, 377, 37, 37),
    ("PAD4", 168, 169, 199, 339, 37, 37),
    ("LST1", 170, 171, 312, 376, 37, 37),
    ("LST2", 172, 173, 351, 414, 37, 37),
    ("LST3", 174, 175, 312, 453, 37, 37),
    ("LST4", 176, 177, 273, 414, 37, 37),
    ("LED", 160, 161, 390, 401, 20, 11),
]
BACKGROUND_ID = 129
RECT = {name: (l, t, w, h) for name, _, _, l, t, w, h in ITEMS}


def centre(name):
    l, t, w, h = RECT[name]
    return l + w / 2.0, t + h / 2.0


def fmt(v):
    s = ("%.2f" % v).rstrip("0").rstrip(".")
    return "0" if s == "-0" else s


# ---------------------------------------------------------------------------------------------------------
# Shapes with known bounds


class Shape:
    """One SVG element and a box that surely holds everything it paints (stroke and anti-aliasing too)."""

    def __init__(self, svg, box):
        self.svg = svg
        self.box = box


def attrs(kw):
    out = []
    for k, v in kw.items():
        if v is None:
            continue
        k = k.rstrip("_").replace("_", "-")
        out.append('%s="%s"' % (k, fmt(v) if isinstance(v, (int, float)) else v))
    return " ".join(out)


def grow(box, d):
    return (box[0] - d, box[1] - d, box[2] + d, box[3] + d)


def stroke_pad(kw):
    sw = kw.get("stroke_width", 1.0) if kw.get("stroke") not in (None, "none") else 0.0
    return sw / 2.0


def circle(cx, cy, r, **kw):
    box = grow((cx - r, cy - r, cx + r, cy + r), stroke_pad(kw))
    return Shape('<circle cx="%s" cy="%s" r="%s" %s/>' % (fmt(cx), fmt(cy), fmt(r), attrs(kw)), box)


def ellipse(cx, cy, rx, ry, **kw):
    box = grow((cx - rx, cy - ry, cx + rx, cy + ry), stroke_pad(kw))
    return Shape(
        '<ellipse cx="%s" cy="%s" rx="%s" ry="%s" %s/>' % (fmt(cx), fmt(cy), fmt(rx), fmt(ry), attrs(kw)), box)


def rect(x, y, w, h, r=0, **kw):
    box = grow((x, y, x + w, y + h), stroke_pad(kw))
    rr = ' rx="%s" ry="%s"' % (fmt(r), fmt(r)) if r else ""
    return Shape('<rect x="%s" y="%s" width="%s" height="%s"%s %s/>' % (fmt(x), fmt(y), fmt(w), fmt(h), rr,
                                                                       attrs(kw)), box)


def text(x, y, s, size, weight="bold", anchor="middle", **kw):
    """Text centred on (x, y) vertically by its cap height."""
    width = len(s) * size * 0.72
    x0 = {"middle": x - width / 2, "start": x, "end": x - width}[anchor]
    box = (x0 - 1, y - size * 0.75, x0 + width + 1, y + size * 0.45)
    base = y + size * 0.36
    return Shape('<text x="%s" y="%s" font-family="%s" font-size="%s" font-weight="%s" text-anchor="%s" %s>%s'
                 '</text>' % (fmt(x), fmt(base), FONT, fmt(size), weight, anchor, attrs(kw), s), box)


class Path:
    """A path built from absolute commands; its box is that of all points, control points included,
    which holds the curve."""

    def __init__(self):
        self.parts = []
        self.pts = []

    def _add(self, cmd, *xy):
        self.parts.append(cmd + " " + " ".join(fmt(v) for v in xy))
        self.pts.extend(zip(xy[0::2], xy[1::2]))
        return self

    def M(self, x, y):
        return self._add("M", x, y)

    def L(self, x, y):
        return self._add("L", x, y)

    def C(self, x1, y1, x2, y2, x, y):
        return self._add("C", x1, y1, x2, y2, x, y)

    def Q(self, x1, y1, x, y):
        return self._add("Q", x1, y1, x, y)

    def Z(self):
        self.parts.append("Z")
        return self

    def box(self):
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        return (min(xs), min(ys), max(xs), max(ys))

    def shape(self, **kw):
        return Shape('<path d="%s" %s/>' % (" ".join(self.parts), attrs(kw)), grow(self.box(), stroke_pad(kw)))

    def moved(self, dx, dy):
        p = Path()
        for part in self.parts:
            if part == "Z":
                p.Z()
                continue
            cmd, *nums = part.split()
            vals = [float(n) for n in nums]
            for i in range(0, len(vals), 2):
                vals[i] += dx
                vals[i + 1] += dy
            p._add(cmd, *vals)
        return p


def rounded_rect_path(x, y, w, h, r):
    k = r * 0.5523
    p = Path().M(x + r, y).L(x + w - r, y).C(x + w - r + k, y, x + w, y + r - k, x + w, y + r)
    p.L(x + w, y + h - r).C(x + w, y + h - r + k, x + w - r + k, y + h, x + w - r, y + h)
    p.L(x + r, y + h).C(x + r - k, y + h, x, y + h - r + k, x, y + h - r)
    p.L(x, y + r).C(x, y + r - k, x + r - k, y, x + r, y).Z()
    return p


# ---------------------------------------------------------------------------------------------------------
# Paint: gradients shared by all files


DEFS = []


def linear(gid, stops, x1=0, y1=0, x2=0, y2=1, user=None):
    units = ""
    if user:
        units = ' gradientUnits="userSpaceOnUse"'
    DEFS.append('<linearGradient id="%s" x1="%s" y1="%s" x2="%s" y2="%s"%s>%s</linearGradient>' %
                (gid, fmt(x1), fmt(y1), fmt(x2), fmt(y2), units, stop_list(stops)))
    return "url(#%s)" % gid


def radial(gid, stops, cx=0.5, cy=0.5, r=0.5, fx=None, fy=None, user=False):
    units = ' gradientUnits="userSpaceOnUse"' if user else ""
    fxy = ""
    if fx is not None:
        fxy = ' fx="%s" fy="%s"' % (fmt(fx), fmt(fy))
    DEFS.append('<radialGradient id="%s" cx="%s" cy="%s" r="%s"%s%s>%s</radialGradient>' %
                (gid, fmt(cx), fmt(cy), fmt(r), fxy, units, stop_list(stops)))
    return "url(#%s)" % gid


def stop_list(stops):
    out = []
    for s in stops:
        off, col = s[0], s[1]
        op = ' stop-opacity="%s"' % fmt(s[2]) if len(s) > 2 else ""
        out.append('<stop offset="%s" stop-color="%s"%s/>' % (fmt(off), col, op))
    return "".join(out)


BG = linear("bg", [(0, "#eaf4fc"), (0.55, "#d2e6f6"), (1, "#b3d0ea")])
BG_GLOW = radial("bgGlow", [(0, "#ffffff", 0.55), (1, "#ffffff", 0)], cx=400, cy=330, r=330, user=True)
BODY = linear("body", [(0, "#f7f8f9"), (0.35, "#e3e5e8"), (0.8, "#c3c7cd"), (1, "#a9aeb6")])
BODY_TOP = linear("bodyTop", [(0, "#cfd2d7"), (0.3, "#eceef0"), (0.7, "#dfe2e5"), (1, "#aeb3ba")])
PLATE = linear("plate", [(0, "#a7acb4"), (0.6, "#c6cad0"), (1, "#d9dce0")])
BTN_UP = radial("btnUp", [(0, "#ffffff"), (0.45, "#dfe2e6"), (0.85, "#aab0b8"), (1, "#939aa3")],
                cx=0.5, cy=0.5, r=0.55, fx=0.38, fy=0.3)
BTN_DOWN = radial("btnDown", [(0, "#fff1c9"), (0.35, "#ffb24a"), (0.8, "#f05a22"), (1, "#c8321a")],
                  cx=0.5, cy=0.5, r=0.55, fx=0.42, fy=0.36)
HALO = radial("halo", [(0, "#ff9a3c", 0.55), (0.6, "#ff7a2a", 0.35), (1, "#ff6a1e", 0)])
GLOW = radial("glow", [(0, "#ff8a2e", 0.0), (0.72, "#ff8a2e", 0.0), (0.86, "#ff6a1e", 0.55), (1, "#ff6a1e", 0)])
PILL_UP = linear("pillUp", [(0, "#f4f5f7"), (0.5, "#c9cdd3"), (1, "#979da6")])
PILL_DOWN = linear("pillDown", [(0, "#ffd37a"), (0.5, "#ff8336"), (1, "#d23c1c")])
TRIG_UP = linear("trigUp", [(0, "#8f959e"), (0.35, "#c4c8ce"), (0.8, "#e9ebee"), (1, "#cfd3d8")])
TRIG_DOWN = linear("trigDown", [(0, "#c2361b"), (0.35, "#f26a28"), (0.8, "#ffc07a"), (1, "#f28a3a")])
BUMP_UP = linear("bumpUp", [(0, "#f3f4f6"), (0.55, "#cfd3d8"), (1, "#9da3ab")])
BUMP_DOWN = linear("bumpDown", [(0, "#ffd08a"), (0.55, "#ff7f32"), (1, "#cf3a1b")])
CAP_UP = radial("capUp", [(0, "#8e949c"), (0.6, "#6c727a"), (0.9, "#555b63"), (1, "#454a51")],
                cx=0.5, cy=0.5, r=0.5, fx=0.42, fy=0.38)
CAP_DOWN = radial("capDown", [(0, "#ffcf7a"), (0.6, "#f7722a"), (0.9, "#d8431d"), (1, "#a92c14")],
                  cx=0.5, cy=0.5, r=0.5, fx=0.42, fy=0.38)
WELL = radial("well", [(0, "#2f3338"), (0.75, "#4a4f56"), (1, "#7c828a")])
PAD_BASE = linear("padBase", [(0, "#d4d7db"), (0.5, "#b3b8bf"), (1, "#8d939b")])
PAD_DOWN = linear("padDown", [(0, "#ffc46a"), (0.5, "#ff7a30"), (1, "#d23a1b")])
LED_OFF = radial("ledOff", [(0, "#9aa0a7"), (0.7, "#6b7179"), (1, "#4c5158")], fx=0.4, fy=0.3)
LED_ON = radial("ledOn", [(0, "#fff0e0"), (0.3, "#ff6a4a"), (0.8, "#e0100a"), (1, "#9a0a06")], fx=0.4, fy=0.35)
ANTENNA = linear("antenna", [(0, "#5a6068"), (0.4, "#b8bdc4"), (0.6, "#e6e8eb"), (1, "#6a7078")], 0, 0, 1, 0)
BAT = linear("bat", [(0, "#7ed36a"), (1, "#3c9a2c")])

INK = "#464c54"       # printed labels and outlines on the body
EDGE = "#6c727b"      # body outline
BTN_EDGE = "#5d636c"  # button outline
HOT_EDGE = "#a3260f"  # pressed button outline


# ---------------------------------------------------------------------------------------------------------
# The scene


class Scene:
    def __init__(self):
        self.layers = []  # (shape, owner or None, state or None)

    def bg(self, *shapes):
        for s in shapes:
            self.layers.append((s, None, None))

    def item(self, owner, up, down):
        """Adds an item's released shapes and pressed shapes (lists, painted in order)."""
        l, t, w, h = RECT[owner]
        for s in up + down:
            b = s.box
            if b[0] < l - 1e-6 or b[1] < t - 1e-6 or b[2] > l + w + 1e-6 or b[3] > t + h + 1e-6:
                sys.exit("gen-art: a shape of %s leaves its rectangle %s: %s\n%s" % (owner, RECT[owner], b, s.svg))
        for s in up:
            self.layers.append((s, owner, "up"))
        for s in down:
            self.layers.append((s, owner, "down"))

    def render(self, view, owner=None, state="up"):
        vx, vy, vw, vh = view
        body = []
        for shape, who, st in self.layers:
            if who is not None and st != (state if who == owner else "up"):
                continue
            b = shape.box
            # one pixel of room for anti-aliasing
            if b[2] < vx - 1 or b[0] > vx + vw + 1 or b[3] < vy - 1 or b[1] > vy + vh + 1:
                continue
            body.append(shape.svg)
        return ('<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" width="%d" '
                'height="%d" viewBox="%s %s %s %s">\n<defs>%s</defs>\n%s\n</svg>\n' %
                (vw, vh, fmt(vx), fmt(vy), fmt(vw), fmt(vh), "".join(DEFS), "\n".join(body)))


S = Scene()


def shadow(path, dx, dy, layers=((0.10, 0), (0.08, 2), (0.06, 4))):
    """A soft drop shadow built from a few offset copies at low opacity."""
    out = []
    for op, extra in layers:
        out.append(path.moved(dx + extra * 0.5, dy + extra).shape(fill="#123a5c", fill_opacity=op))
    return out


# --- background -------------------------------------------------------------------------------------------

S.bg(rect(0, 0, WIDTH, HEIGHT, fill=BG))
S.bg(rect(0, 0, WIDTH, HEIGHT, fill=BG_GLOW))


# --- upper part: the controller seen from above -----------------------------------------------------------

TOP_CX = 395.5  # the upper view is centred between L and R


def top_body():
    p = Path().M(190, 152).C(190, 139, 200, 132, 215, 132).L(286, 132)
    p.C(304, 132, 314, 141, 322, 151).C(329, 159, 339, 162, 352, 162).L(439, 162)
    p.C(452, 162, 462, 159, 469, 151).C(477, 141, 487, 132, 505, 132).L(576, 132)
    p.C(591, 132, 601, 139, 601, 152).L(601, 188).C(601, 203, 591, 213, 574, 213)
    p.C(500, 213, 460, 216, 395.5, 216).C(331, 216, 291, 213, 217, 213)
    p.C(200, 213, 190, 203, 190, 188).Z()
    return p


tb = top_body()
S.bg(*shadow(tb, 3, 5))

S.bg(tb.shape(fill=BODY_TOP, stroke=EDGE, stroke_width=1.5))
S.bg(Path().M(200, 150).C(200, 142, 206, 138, 216, 138).L(286, 138).C(300, 138, 308, 145, 314, 152)
     .shape(fill="none", stroke="#ffffff", stroke_opacity=0.7, stroke_width=1.5))
S.bg(Path().M(591, 150).C(591, 142, 585, 138, 575, 138).L(505, 138).C(491, 138, 483, 145, 477, 152)
     .shape(fill="none", stroke="#ffffff", stroke_opacity=0.7, stroke_width=1.5))
# parting line between the front and the back shell
S.bg(Path().M(192, 176).C(260, 180, 330, 186, 395.5, 186).C(461, 186, 531, 180, 599, 176)
     .shape(fill="none", stroke="#8c929a", stroke_width=1, stroke_opacity=0.8))

# antenna between the grips
S.bg(rect(TOP_CX - 14, 150, 28, 14, r=4, fill="#8a9098", stroke=EDGE, stroke_width=1))
S.bg(rect(TOP_CX - 4, 62, 8, 92, r=3, fill=ANTENNA, stroke="#555b63", stroke_width=1))
S.bg(circle(TOP_CX, 60, 7, fill=CAP_UP, stroke="#3f444b", stroke_width=1))
S.bg(text(TOP_CX, 198, "ZANTH", 11, fill="#7a8089", letter_spacing=2))

# power switch and charging socket on the top edge
S.bg(rect(338, 190, 26, 10, r=3, fill="#5b6169", stroke="#3f444b", stroke_width=1))
S.bg(rect(343, 191.5, 8, 7, r=2, fill="#d7dade"))
S.bg(rect(427, 191, 24, 8, r=4, fill="#3b4047", stroke="#2c3035", stroke_width=1))


def trigger(name, down):
    l, t, w, h = RECT[name]
    x, y, ww, hh = l + 3, t + 3, w - 6, h - 6
    p = Path().M(x + 10, y).L(x + ww - 10, y).C(x + ww - 3, y, x + ww, y + 4, x + ww, y + 11)
    p.L(x + ww, y + hh - 8).C(x + ww, y + hh - 2, x + ww - 4, y + hh, x + ww - 10, y + hh)
    p.L(x + 10, y + hh).C(x + 4, y + hh, x, y + hh - 2, x, y + hh - 8).L(x, y + 11)
    p.C(x, y + 4, x + 3, y, x + 10, y).Z()
    out = [p.shape(fill=TRIG_DOWN if down else TRIG_UP, stroke=HOT_EDGE if down else BTN_EDGE, stroke_width=1.5)]
    # grip ribs across the trigger face
    for i in range(4):
        yy = y + 9 + i * 5
        out.append(Path().M(x + 8, yy).C(x + 24, yy - 2, x + ww - 24, yy - 2, x + ww - 8, yy).shape(
            fill="none", stroke="#ffffff" if down else "#70767e", stroke_opacity=0.55, stroke_width=1.2))
    out.append(rect(x + 5, y + hh - 12, ww - 10, 6, r=3, fill="#ffffff", fill_opacity=0.35))
    cx, cy = l + w / 2, t + h / 2 + 10
    if down:
        out.append(text(cx + 0.8, cy + 0.8, name, 20, fill="#8a1f0c", fill_opacity=0.6))
    out.append(text(cx, cy, name, 20, fill="#ffffff" if down else INK))
    return out


def bumper(name, down):
    l, t, w, h = RECT[name]
    p = rounded_rect_path(l + 3, t + 3, w - 6, h - 6, 11)
    out = [p.shape(fill=BUMP_DOWN if down else BUMP_UP, stroke=HOT_EDGE if down else BTN_EDGE, stroke_width=1.5)]
    out.append(rect(l + 9, t + 6, w - 18, 6, r=3, fill="#ffffff", fill_opacity=0.55 if down else 0.7))
    cx, cy = l + w / 2, t + h / 2 + 1
    if down:
        out.append(text(cx + 0.8, cy + 0.8, name, 17, fill="#8a1f0c", fill_opacity=0.6))
    out.append(text(cx, cy, name, 17, fill="#ffffff" if down else INK))
    return out


for n in ("L2", "R2"):
    l, t, w, h = RECT[n]
    S.bg(rect(l + 5, t + 7, w - 8, h - 6, r=10, fill="#123a5c", fill_opacity=0.12))
    S.item(n, trigger(n, False), trigger(n, True))
for n in ("L1", "R1"):
    l, t, w, h = RECT[n]
    S.bg(rect(l + 4, t + 5, w - 6, h - 6, r=11, fill="#2a2f36", fill_opacity=0.18))
    S.item(n, bumper(n, False), bumper(n, True))

# battery symbol beside the meter (the meter itself is a control of the window)
BX, BY = 282, 230
S.bg(text(BX - 15, BY, "BATTERY", 8, anchor="end", fill="#587591"))
S.bg(rect(BX - 11, BY - 6, 20, 12, r=2, fill="#f4f6f8", stroke="#3f454d", stroke_width=1.4))
S.bg(rect(BX + 9.5, BY - 3, 2.5, 6, r=1, fill="#3f454d"))
for i in range(3):
    S.bg(rect(BX - 8.5 + i * 5.5, BY - 3.5, 4, 7, r=0.8, fill=BAT))


# --- lower part: the controller seen from the front -------------------------------------------------------

FX = 400.0  # the front view is symmetric about this line


def front_body():
    """Right half from the top centre round to the bottom centre, then the same mirrored."""
    right = [
        ("C", 450, 283, 520, 279, 560, 276),
        ("C", 610, 272, 640, 300, 641, 348),
        ("C", 642, 392, 638, 430, 628, 470),
        ("C", 621, 498, 606, 508, 594, 505),
        ("C", 582, 502, 578, 488, 576, 474),
        ("C", 574, 460, 560, 452, 540, 455),
        ("C", 522, 458, 518, 468, 506, 478),
        ("C", 490, 489, 452, 490, FX, 490),
    ]
    p = Path().M(FX, 283)
    for _, *v in right:
        p.C(*v)
    # mirrored back up the left side
    pts = [(FX, 283)] + [(v[5], v[6]) for v in right]
    ctrl = [((v[1], v[2]), (v[3], v[4])) for v in right]
    for i in range(len(right) - 1, -1, -1):
        (c1, c2), start = ctrl[i], pts[i]
        p.C(2 * FX - c2[0], c2[1], 2 * FX - c1[0], c1[1], 2 * FX - start[0], start[1])
    p.Z()
    return p


fb = front_body()

# A frosted card tucked behind the lower right of the controller: the window puts the two sliders that stand
# for the right stick, their X / Y buttons, the resolution box and "Self Neutral" on it.
card = rounded_rect_path(356, 452, 240, 144, 12)
S.bg(card.moved(2, 3).shape(fill="#123a5c", fill_opacity=0.08))
S.bg(card.shape(fill="#ffffff", fill_opacity=0.5, stroke="#8fb0cf", stroke_width=1.2))
S.bg(rounded_rect_path(357.5, 453.5, 237, 141, 11).shape(fill="none", stroke="#ffffff", stroke_opacity=0.9, stroke_width=1.2))
S.bg(text(378, 560, "RIGHT", 8, fill="#587591"))
S.bg(text(378, 571, "STICK", 8, fill="#587591"))

S.bg(*shadow(fb, 4, 7))
S.bg(fb.shape(fill=BODY, stroke=EDGE, stroke_width=1.6))
# a soft sheen along the top of the shell
S.bg(Path().M(215, 292).C(260, 281, 330, 288, FX, 288).C(470, 288, 540, 281, 585, 292)
     .C(560, 300, 470, 298, FX, 298).C(330, 298, 240, 300, 215, 292).Z().shape(fill="#ffffff", fill_opacity=0.55))

# recessed plates around the direction pad and the four buttons
PAD_C = (255.5, 358.0)
BTN_C = (543.5, 361.5)
for (cx, cy), r in ((PAD_C, 63), (BTN_C, 62)):
    S.bg(circle(cx, cy, r + 1.5, fill="#ffffff", fill_opacity=0.6))
    S.bg(circle(cx, cy, r, fill=PLATE, stroke="#8e949c", stroke_width=1))

# stick plates
LST_C = centre("L3")
RST_C = centre("R3")
for cx, cy in (LST_C, RST_C):
    S.bg(circle(cx, cy, 48.5, fill="#ffffff", fill_opacity=0.55))
    S.bg(circle(cx, cy, 47, fill=PLATE, stroke="#8e949c", stroke_width=1))
    S.bg(circle(cx, cy, 26, fill=WELL, stroke="#3a3f45", stroke_width=1))

# printed marks
S.bg(text(FX, 356, "ZANTH", 10, fill="#8a9099", letter_spacing=3))


def round_button(name, label, size, down, r=16.0):
    cx, cy = centre(name)
    out = []
    if down:
        out.append(circle(cx, cy, r + 2.2, fill=GLOW))
    out.append(circle(cx, cy, r, fill=BTN_DOWN if down else BTN_UP, stroke=HOT_EDGE if down else BTN_EDGE,
                      stroke_width=1.4))
    out.append(ellipse(cx - 1.5, cy - r * 0.55, r * 0.55, r * 0.28, fill="#ffffff", fill_opacity=0.5))
    if down:
        out.append(text(cx + 0.8, cy + 1.3, label, size, fill="#8a1f0c", fill_opacity=0.6))
    out.append(text(cx, cy + 0.5, label, size, fill="#ffffff" if down else INK))
    return out


def button_shadow(name, r=16.0):
    cx, cy = centre(name)
    return [circle(cx + 0.6, cy + 1.6, r + 0.4, fill="#1f2a36", fill_opacity=0.35)]


for n in ("1", "2", "3", "4"):
    S.bg(*button_shadow(n))
    S.item(n, round_button(n, n, 16, False), round_button(n, n, 16, True))


def pill(name, label, w, h, size, down, dy=0.0):
    cx, cy = centre(name)
    cy += dy
    p = rounded_rect_path(cx - w / 2, cy - h / 2, w, h, h / 2)
    out = [p.shape(fill=PILL_DOWN if down else PILL_UP, stroke=HOT_EDGE if down else BTN_EDGE, stroke_width=1.2)]
    out.append(rect(cx - w / 2 + h / 2, cy - h / 2 + 2, w - h, h * 0.28, r=h * 0.14, fill="#ffffff",
                    fill_opacity=0.6))
    if down:
        out.append(text(cx + 0.7, cy + 1.0, label, size, fill="#8a1f0c", fill_opacity=0.6))
    out.append(text(cx, cy + 0.3, label, size, fill="#ffffff" if down else INK))
    return out


for n, label in (("F1", "F1"), ("MODE", "MODE"), ("F2", "F2")):
    cx, cy = centre(n)
    S.bg(rect(cx - 16, cy - 10.5 + 1.5, 32, 22, r=11, fill="#1f2a36", fill_opacity=0.3))
    S.item(n, pill(n, label, 33, 22, 9.5 if label == "MODE" else 11, False),
           pill(n, label, 33, 22, 9.5 if label == "MODE" else 11, True))
for n in ("SELECT", "START"):
    cx, cy = centre(n)
    S.bg(rect(cx - 17, cy - 8 + 1.5, 34, 16, r=8, fill="#1f2a36", fill_opacity=0.3))
    S.item(n, pill(n, n, 35, 16, 7, False), pill(n, n, 35, 16, 7, True))


# direction pad: one cross; each arm is an item drawn over it
ARM = 33.0  # arm width
PX, PY = PAD_C
HALF = ARM / 2
REACH = 54.5  # centre to the end of an arm


def cross_path(cx, cy, half, reach, r):
    k = r * 0.5523
    p = Path().M(cx - half, cy - half)
    p.L(cx - half, cy - reach + r).C(cx - half, cy - reach + r - k, cx - half + r - k, cy - reach, cx - half + r,
                                     cy - reach)
    p.L(cx + half - r, cy - reach).C(cx + half - r + k, cy - reach, cx + half, cy - reach + r - k, cx + half,
                                     cy - reach + r)
    p.L(cx + half, cy - half).L(cx + reach - r, cy - half)
    p.C(cx + reach - r + k, cy - half, cx + reach, cy - half + r - k, cx + reach, cy - half + r)
    p.L(cx + reach, cy + half - r).C(cx + reach, cy + half - r + k, cx + reach - r + k, cy + half, cx + reach - r,
                                     cy + half)
    p.L(cx + half, cy + half).L(cx + half, cy + reach - r)
    p.C(cx + half, cy + reach - r + k, cx + half - r + k, cy + reach, cx + half - r, cy + reach)
    p.L(cx - half + r, cy + reach).C(cx - half + r - k, cy + reach, cx - half, cy + reach - r + k, cx - half,
                                     cy + reach - r)
    p.L(cx - half, cy + half).L(cx - reach + r, cy + half)
    p.C(cx - reach + r - k, cy + half, cx - reach, cy + half - r + k, cx - reach, cy + half - r)
    p.L(cx - reach, cy - half + r).C(cx - reach, cy - half + r - k, cx - reach + r - k, cy - half, cx - reach + r,
                                     cy - half)
    p.Z()
    return p


cp = cross_path(PX, PY, HALF, REACH, 5)
S.bg(cp.moved(1, 2.5).shape(fill="#1f2a36", fill_opacity=0.35))
S.bg(cp.shape(fill=PAD_BASE, stroke=BTN_EDGE, stroke_width=1.5))
S.bg(circle(PX, PY, 9, fill="#a2a8b0", stroke="#8a9098", stroke_width=1))
S.bg(circle(PX, PY, 6, fill="#c3c7cd"))


def rotate(points, cx, cy, quarter):
    out = []
    for x, y in points:
        dx, dy = x - cx, y - cy
        for _ in range(quarter):
            dx, dy = -dy, dx
        out.append((cx + dx, cy + dy))
    return out


def poly(points, **kw):
    p = Path().M(*points[0])
    for pt in points[1:]:
        p.L(*pt)
    return p.Z().shape(**kw)


def arm(name, quarter, down):
    """Arm pointing up, turned clockwise by quarter turns about the pad centre. It ends at the inner edge of
    its rectangle, where the grey hub of the cross takes over."""
    l, t, w, h = RECT[name]
    inner = [PY - (t + h), l - PX, t - PY, PX - (l + w)][quarter]
    inset = 1.0
    r = 5 - inset
    x0, x1 = PX - HALF + inset, PX + HALF - inset
    y0, y1 = PY - REACH + inset, PY - inner
    k = r * 0.5523
    pts = [(x0, y1), (x0, y0 + r), (x0, y0 + r - k), (x0 + r - k, y0), (x0 + r, y0), (x1 - r, y0), (x1 - r + k, y0),
           (x1, y0 + r - k), (x1, y0 + r), (x1, y1)]
    q = rotate(pts, PX, PY, quarter)
    p = Path().M(*q[0]).L(*q[1]).C(*q[2], *q[3], *q[4]).L(*q[5]).C(*q[6], *q[7], *q[8]).L(*q[9]).Z()
    out = []
    if down:
        out.append(p.shape(fill=PAD_DOWN))
    tip = rotate([(PX, PY - REACH + 9), (PX - 8, PY - REACH + 20), (PX + 8, PY - REACH + 20)], PX, PY, quarter)
    if not down:
        out.append(poly([(x + 0.0, y + 1.0) for x, y in tip], fill="#ffffff", fill_opacity=0.7))
    out.append(poly(tip, fill="#ffffff" if down else "#5d636c"))
    return out


for n, q in (("PAD1", 0), ("PAD2", 1), ("PAD3", 2), ("PAD4", 3)):
    S.item(n, arm(n, q, False), arm(n, q, True))


# left stick: its four directions on the plate, the cap (L3) in the middle; right stick: cap (R3) only
def stick_cap(name, down):
    cx, cy = centre(name)
    out = [circle(cx, cy, 17.5, fill="#1c1f23", fill_opacity=0.5)]
    out.append(circle(cx, cy, 16.5, fill=CAP_DOWN if down else CAP_UP, stroke="#2f3338", stroke_width=1.2))
    out.append(circle(cx, cy, 12.5, fill="none", stroke="#ffffff", stroke_opacity=0.25 if down else 0.18,
                      stroke_width=1.2))
    out.append(ellipse(cx - 2, cy - 9, 8, 3.5, fill="#ffffff", fill_opacity=0.3))
    out.append(text(cx, cy + 0.8, name, 11, fill="#ffffff" if down else "#eef0f2"))
    return out


for n in ("L3", "R3"):
    S.item(n, stick_cap(n, False), stick_cap(n, True))


def stick_arrow(name, quarter, down):
    cx, cy = centre(name)
    # an arrow pointing up, centred on the item, turned as needed
    pts = [(cx, cy - 8), (cx - 9, cy + 5), (cx + 9, cy + 5)]
    q = rotate(pts, cx, cy, quarter)
    out = []
    if down:
        out.append(circle(cx, cy, 15, fill=HALO))
        out.append(poly(q, fill=BTN_DOWN, stroke=HOT_EDGE, stroke_width=1.2, stroke_linejoin="round"))
    else:
        out.append(poly([(x, y + 1) for x, y in q], fill="#ffffff", fill_opacity=0.7, stroke="#ffffff",
                        stroke_opacity=0.7, stroke_width=1.2, stroke_linejoin="round"))
        out.append(poly(q, fill=PILL_UP, stroke=BTN_EDGE, stroke_width=1.2, stroke_linejoin="round"))
    return out


for n, q in (("LST1", 0), ("LST2", 1), ("LST3", 2), ("LST4", 3)):
    S.item(n, stick_arrow(n, q, False), stick_arrow(n, q, True))

# marks round the right stick, for symmetry with the left one
for q in range(4):
    pts = rotate([(RST_C[0], RST_C[1] - 36), (RST_C[0] - 4, RST_C[1] - 31), (RST_C[0] + 4, RST_C[1] - 31)],
                 RST_C[0], RST_C[1], q)
    S.bg(poly(pts, fill="#8a9099"))


# LED: a small lens in a slot
LX, LY, LW, LH = RECT["LED"]

def led(down):
    out = [rect(LX + 0.5, LY + 0.5, LW - 1, LH - 1, r=3.5, fill="#2c3035")]
    out.append(rect(LX + 2, LY + 2, LW - 4, LH - 4, r=2.5, fill=LED_ON if down else LED_OFF))
    out.append(rect(LX + 5, LY + 3, LW - 10, 2, r=1, fill="#ffffff", fill_opacity=0.7 if down else 0.35))
    return out


S.item("LED", led(False), led(True))


# ---------------------------------------------------------------------------------------------------------
# Output


def icon_svg():
    """The application icon: the front view of the controller on a blue tile."""
    body = []
    for shape, who, st in S.layers:
        if who is not None and st != "up":
            continue
        b = shape.box
        if b[1] < 270 or b[3] > 530:
            continue
        body.append(shape.svg)
    # one button lit, as the program shows a pressed one
    for shape in round_button("2", "2", 16, True):
        body.append(shape.svg)
    return ('<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny" width="256" height="256" '
            'viewBox="0 0 256 256">\n<defs>%s%s</defs>\n'
            '<rect x="4" y="4" width="248" height="248" rx="44" ry="44" fill="url(#iconTile)" stroke="#3d6f9c" '
            'stroke-width="3"/>\n<g transform="translate(128 133) scale(0.5) translate(-400 -387)">\n%s\n</g>\n'
            '</svg>\n' % ("".join(DEFS), '<linearGradient id="iconTile" x1="0" y1="0" x2="0" y2="1">'
                          '<stop offset="0" stop-color="#eaf4fc"/><stop offset="1" stop-color="#8fb8de"/>'
                          '</linearGradient>', "\n".join(body)))


def write(name, data):
    path = os.path.join(RES, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(data)


def main():
    os.makedirs(RES, exist_ok=True)
    files = []
    write("%d.svg" % BACKGROUND_ID, S.render((0, 0, WIDTH, HEIGHT)))
    files.append("%d.svg" % BACKGROUND_ID)
    for name, up, down, l, t, w, h in ITEMS:
        for pid, state in ((up, "up"), (down, "down")):
            write("%d.svg" % pid, S.render((l, t, w, h), name, state))
            files.append("%d.svg" % pid)
    write("icon.svg", icon_svg())
    files.append("icon.svg")
    qrc = ['<!DOCTYPE RCC>', '<!-- Generated by scripts/gen-art.py; edit that script, not this file. -->',
           '<RCC version="1.0">', '  <qresource prefix="/art">']
    for f in sorted(files, key=lambda s: (len(s), s)):
        qrc.append("    <file>%s</file>" % f)
    qrc += ["  </qresource>", "</RCC>", ""]
    write("artwork.qrc", "\n".join(qrc))
    print("gen-art: wrote %d pictures to %s" % (len(files), RES))


if __name__ == "__main__":
    main()
